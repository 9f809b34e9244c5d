#include "app/lib/VEdit.h"

#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Forms.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <memory>

using namespace vcl;

TComboItems SplitComboItems(const std::string& items)
{
    TComboItems out;
    if (items.empty())
        return out;
    static const std::string second = "‡";
    size_t from = 0;
    while (true) {
        size_t bar = items.find('|', from);
        std::string item = items.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
        size_t mark = item.find(second);
        out.Texts.push_back(item.substr(0, mark));
        out.Values.push_back(mark == std::string::npos ? "" : item.substr(mark + second.size()));
        if (bar == std::string::npos)
            break;
        from = bar + 1;
    }
    return out;
}

TVLabeledEdit::TVLabeledEdit(TComponent* owner) : TLabeledEdit(owner)
{
    AutoSelect = false;
}

void TVLabeledEdit::SetValue(double value)
{
    Value = value;
    RebuildSets();
}

void TVLabeledEdit::Loaded()
{
    TLabeledEdit::Loaded();
    // A field entered before loading (its form's first field) wears the focus colour by now.
    normalColor_ = Focused() && ColorOnFocusActive ? savedColor_ : Color;
    loaded_ = true;
    if (!Enabled())
        Color = ColorOnDisabled;
    const std::string& sep = win::FormatSettings.DecimalSeparator;
    separator_ = sep.size() == 1 ? sep[0] : ',';
    Number.DecimalShow = std::max(Number.DecimalShow, Number.Decimal);
    numberChars_ = "0123456789";
    if ((EditType == teCurrency || EditType == teFloat) && Number.Decimal > 0)
        numberChars_ += ",.";
    if (Number.ValueMin < 0 || Number.ValueMax < 0 || (Number.ValueMin == 0 && Number.ValueMax == 0))
        numberChars_ += '-';
    bool noMinus = Number.NumberArea == vedit::naOnlyPositive || Number.NumberArea == vedit::naPositive;
    bool minus = Number.NumberArea == vedit::naOnlyNegative || Number.NumberArea == vedit::naNegative;
    if (noMinus)
        numberChars_.erase(std::remove(numberChars_.begin(), numberChars_.end(), '-'), numberChars_.end());
    else if (minus && numberChars_.find('-') == std::string::npos)
        numberChars_ += '-';
    PlaceButton();
}

void TVLabeledEdit::SetEnabled(bool enabled)
{
    TLabeledEdit::SetEnabled(enabled);
    if (!loaded_)
        return;  // the colour of the design is taken at loading
    // A field the standard edit draws gets the colour a paint of its own would choose.
    if (!enabled)
        Color = ColorOnDisabled;
    else
        Color = Focused() && ColorOnFocusActive ? ColorOnFocus : normalColor_;
    Invalidate();
}

void TVLabeledEdit::RebuildSets()
{
    if (MaskEdit.Mask.find_first_of("90") != std::string::npos)
        maskChars_ = " 0123456789";
    if (EditType == teString) {
        filterChars_ = StringEdit.Filtr;
        if (filterChars_.empty())
            StringEdit.FiltrUse = false;
    }
}

void TVLabeledEdit::DoEnter()
{
    if (EditType == teMask) {
        std::string text = vedit::CompleteToMask(vedit::LayoutOf(MaskEdit.Mask), Text());
        SetText(vedit::ReviseMaskText(MaskEdit.Mask, text, MaskEdit.MaskOnEnter, vedit::moNone, vedit::Now()));
    }
    if (EditType == teComboBox)
        CursorEndField = cfBegin;
    if (!ComboBox.Items.empty() && !(EditType == teComboBox && ButtonVisible))
        ComboBox.Items.clear();
    if (ColorOnFocusActive) {
        savedColor_ = loaded_ ? normalColor_ : Color;
        Color = ColorOnFocus;
        Invalidate();
    }
    RebuildSets();
    if (IsNumeric()) {
        std::string text = Text();
        size_t sep = text.find_first_of(",.");
        if (sep != std::string::npos)
            SetText(Number.Decimal <= 0 ? text.substr(0, sep) : text.substr(0, sep + 1 + size_t(Number.Decimal)));
    }
    PlaceCaret();
    TLabeledEdit::DoEnter();
}

void TVLabeledEdit::PlaceCaret()
{
    int length = int(vcl::ToU32(Text()).size());
    SelLength = 0;
    if (AutoSelect && CursorEndField == cfNormal) {
        SelectAll();
        return;
    }
    if (!AutoSelect) {
        if (CursorEndField == cfPosition)
            SelStart = std::min(rememberedCaret_, length);
        else if (CursorEndField == cfBegin)
            SelStart = 0;
        else if (CursorEndField == cfEnd)
            SelStart = length;
    }
    if (EditType == teMask) {
        size_t blank = Text().find('_');
        if (blank != std::string::npos)
            SelStart = int(blank);
    }
    if (IsNumeric() && !Text().empty()) {
        std::optional<double> v = vedit::ReadNumber(Text(), separator_);
        bool zero = !v || *v == 0;
        if (!zero && CursorEndField == cfZeroElsePosition)
            SelStart = std::min(rememberedCaret_, length);
        else if (!zero && CursorEndField == cfZeroElseBegin)
            SelStart = 0;
        else if (!zero && CursorEndField == cfZeroElseEnd)
            SelStart = length;
        else if (zero && Number.CursorZeroOver)
            SelectAll();
    }
}

bool TVLabeledEdit::MoveFocus(WORD key)
{
    TWinControl* target = key == VK_DOWN   ? FocusControl.Down
                          : key == VK_UP   ? FocusControl.Up
                          : key == VK_NEXT ? FocusControl.PgDown
                                           : FocusControl.PgUp;
    if (target && target->Enabled() && target->Visible() && target->CanFocus()) {
        target->SetFocus();
        return true;
    }
    TForm* form = ParentForm();
    if (form && (key == VK_DOWN || key == VK_UP))
        form->SelectNext(key == VK_DOWN);
    return true;
}

void TVLabeledEdit::KeyDown(WORD& key, TShiftState shift)
{
    if (KeyFirstInherited) {
        TLabeledEdit::KeyDown(key, shift);
        if (!key)
            return;
    }
    int length = int(vcl::ToU32(Text()).size());
    if (EditType == teString && SelLength == 0) {
        if (key == VK_LEFT && SelStart == 0 &&
            (StringEdit.ExitString == esLeft || StringEdit.ExitString == esLeftRight)) {
            MoveFocus(VK_UP);
            key = 0;
            return;
        }
        if (key == VK_RIGHT && SelStart >= length &&
            (StringEdit.ExitString == esRight || StringEdit.ExitString == esLeftRight)) {
            MoveFocus(VK_DOWN);
            key = 0;
            return;
        }
    }
    if ((KeyLikeTab & keyDownUp) && (key == VK_DOWN || key == VK_UP || key == VK_NEXT || key == VK_PRIOR)) {
        MoveFocus(key);
        key = 0;
        return;
    }
    bool shiftInsert = key == VK_INSERT && (shift & ssShift);
    if ((EditType == teMask || EditType == teComboBox) && shiftInsert) {
        key = 0;
        return;
    }
    if (EditType == teMask && (key == VK_BACK || key == VK_DELETE)) {
        vedit::TMaskEdit r = vedit::EditMasked(vedit::LayoutOf(MaskEdit.Mask), Text(), SelStart, SelLength,
                                               key == VK_BACK ? vedit::mkBackspace : vedit::mkDelete);
        SetText(r.Text);
        SelStart = r.Caret;
        SelLength = 0;
        key = 0;
        return;
    }
    if (EditType == teComboBox && (key == VK_BACK || key == VK_DELETE) && !ComboBox.OffDelKey) {
        SetText("");
        key = 0;
        return;
    }
    if (Kind() == ckPainted && SelfDrawnKeyDown(key)) {
        key = 0;
        return;
    }
    if (!KeyFirstInherited)
        TLabeledEdit::KeyDown(key, shift);
}

bool TVLabeledEdit::SelfDrawnKeyDown(WORD key)
{
    const int length = int(vcl::ToU32(Text()).size());
    switch (key) {
    case VK_LEFT:
        SelStart = std::max(0, SelStart - 1);
        break;
    case VK_RIGHT:
        SelStart = std::min(length, SelStart + SelLength + 1);
        break;
    case VK_HOME:
        SelStart = 0;
        break;
    case VK_END:
        SelStart = length;
        break;
    case VK_DELETE:
        if (SelLength == 0 && SelStart < length)
            SelLength = 1;
        TypeText("");
        break;
    default:
        return false;
    }
    SelLength = 0;
    Invalidate();
    return true;
}

bool TVLabeledEdit::KeyPressNumber(char32_t key) const
{
    if (key > 0x7F || numberChars_.find(char(key)) == std::string::npos)
        return false;
    const std::string& text = Text();
    bool allSelected = SelLength > 0 && SelLength >= int(text.size());
    if (allSelected)
        return true;
    if (key == ',' || key == '.')
        return text.find_first_of(",.") == std::string::npos && !(text.find('-') != std::string::npos && SelStart == 0);
    if (key == '-')
        return text.find('-') == std::string::npos && SelStart == 0;
    return true;
}

void TVLabeledEdit::KeyPressMasked(char32_t& key)
{
    if (key < 32)
        return;
    if (key > 0x7F || maskChars_.find(char(key)) == std::string::npos) {
        key = 0;
        return;
    }
    vedit::TMaskEdit r =
        vedit::EditMasked(vedit::LayoutOf(MaskEdit.Mask), Text(), SelStart, SelLength, vedit::mkChar, char(key));
    SetText(r.Text);
    SelStart = r.Caret;
    SelLength = 0;
    key = 0;
}

char32_t TVLabeledEdit::CaseOf(char32_t key) const
{
    switch (CaseMode) {
    case cmUpperCase:
        return win::ToUpper(key);
    case cmLowerCase:
        return win::FoldCase(key);
    case cmProperCase: {
        std::u32string chars = vcl::ToU32(Text());
        bool wordStart = SelStart == 0 || (SelStart <= int(chars.size()) && chars[size_t(SelStart) - 1] == U' ');
        return wordStart ? win::ToUpper(key) : key;
    }
    case cmNormal:
        break;
    }
    return key;
}

void TVLabeledEdit::KeyPress(char32_t& key)
{
    if (KeyFirstInherited) {
        TLabeledEdit::KeyPress(key);
        if (!key)
            return;
    }
    if (key == U'\r' && (KeyLikeTab & keyEnter)) {
        if (TForm* form = ParentForm())
            form->SelectNext(true);
        key = 0;
        return;
    }
    bool filtered = StringEdit.FiltrUse && (EditType == teString || EditType == teMask);
    if (filtered && key >= 32 &&
        vcl::ToU32(filterChars_.empty() ? StringEdit.Filtr : filterChars_).find(key) == std::u32string::npos) {
        key = 0;
        return;
    }
    if (EditType == teMask) {
        rememberedCaret_ = SelStart;
        KeyPressMasked(key);
        if (!key)
            return;
    }
    if (IsNumeric() && key != U'\b') {
        rememberedCaret_ = SelStart;
        if (!KeyPressNumber(key)) {
            key = 0;
            return;
        }
        if (key == ',' || key == '.')
            key = char32_t(separator_);
    }
    key = CaseOf(key);
    if (!KeyFirstInherited)
        TLabeledEdit::KeyPress(key);
    // A field that draws itself types its own characters.
    if (key && Kind() == ckPainted && (key >= 32 || key == U'\b')) {
        TypeText(vcl::ToUtf8(key));
        key = 0;
        Invalidate();
    }
}

void TVLabeledEdit::Report(const std::string& message)
{
    if (OnError)
        OnError(this, message);
    else
        MessageDlg(message, mtWarning, mbOK);
}

bool TVLabeledEdit::CheckRequired()
{
    if (IsNumeric()) {
        if (Text() == "-")
            SetText("");
        if (Number.NumberNoneDoZero && Text().empty())
            SetText("0");
    }
    if (EditType == teString && !StringEdit.AlignLeftChar.empty() && !Text().empty()) {
        std::u32string chars = vcl::ToU32(Text());
        char32_t pad = vcl::ToU32(StringEdit.AlignLeftChar)[0];
        if (MaxLength > 0 && int(chars.size()) < MaxLength)
            SetText(vcl::ToUtf8(std::u32string(size_t(MaxLength) - chars.size(), pad) + chars));
    }
    if (EditType == teMask)
        SetText(vedit::ReviseMaskText(MaskEdit.Mask, Text(), vedit::moNone, MaskEdit.MaskOnExit, vedit::Now()));
    if (ColorOnFocusActive) {
        Color = savedColor_;
        Invalidate();
    }
    if (RequiredMonitoring && Required && Text().empty()) {
        Report(vedit::RequiredMessage);
        if (CanFocus())
            SetFocus();
        return false;
    }
    if (IsNumeric()) {
        std::string entered = Text();
        std::optional<double> value = vedit::ReadNumber(entered, separator_);
        std::string plain = entered;
        plain.erase(std::remove(plain.begin(), plain.end(), ' '), plain.end());
        bool wellFormed = plain.empty() || plain.find_first_not_of("0123456789,.-") == std::string::npos;
        if (value)
            SetText(
                vedit::NumberText(*value, EditType == teInteger ? 0 : Number.Decimal, Number.NumberCount, separator_));
        if (Number.NumberTextToValue)
            Value = value.value_or(0);
        if (Number.Valid && !entered.empty()) {
            vedit::TNumberLimits limits{Number.NumberArea, Number.ValueMin, Number.ValueMax};
            if (auto refusal = vedit::CheckNumber(entered, wellFormed ? value : std::nullopt, limits, separator_)) {
                Report(*refusal);
                return false;
            }
        }
    }
    return true;
}

void TVLabeledEdit::DoExit()
{
    if (CheckRequired())
        TLabeledEdit::DoExit();
}

std::string TVLabeledEdit::ShownText() const
{
    if (!IsNumeric() || Focused())
        return TLabeledEdit::ShownText();
    int decimals = EditType == teInteger ? 0 : Number.DecimalShow;
    std::string text = vedit::DisplayNumberText(Text(), decimals, Number.NumberCount, separator_);
    if (EditType == teCurrency && Number.CurrTextShow && !Number.CurrText.empty() && !text.empty()) {
        switch (Number.CurrPosition) {
        case ncCurr_Right:
            text += " " + Number.CurrText;
            break;
        case ncCurr_Left:
            text = Number.CurrText + " " + text;
            break;
        case ncCurrRight:
            text += Number.CurrText;
            break;
        case ncCurrLeft:
            text = Number.CurrText + text;
            break;
        }
    }
    return text;
}

void TVLabeledEdit::PlaceButton()
{
    if (!ButtonVisible) {
        if (button_)
            button_->SetVisible(false);
        return;
    }
    if (!button_) {
        button_ = new TButton(this);
        button_->OnClick = [this](TObject*) {
            if (OnClickButton)
                OnClickButton(this);
            else if (EditType == teComboBox)
                ShowComboList();
        };
    }
    button_->Caption = ButtonCaption;
    button_->Font = ButtonFont;
    if (Parent() && button_->Parent() != Parent())
        button_->SetParent(Parent());
    button_->SetBounds(Left() + Width() - ButtonWidth - 2, Top() + 2, ButtonWidth, std::max(0, Height() - 4));
    button_->SetVisible(Visible());
}

void TVLabeledEdit::SetBounds(int left, int top, int width, int height)
{
    TLabeledEdit::SetBounds(left, top, width, height);
    if (button_)
        PlaceButton();
}

void TVLabeledEdit::SetParent(TWinControl* parent)
{
    TLabeledEdit::SetParent(parent);
    if (button_)
        PlaceButton();
}

bool TVLabeledEdit::ShowComboList()
{
    TComboItems items = SplitComboItems(ComboBox.Items);
    if (items.Texts.empty())
        return false;
    auto popup = std::make_unique<TForm>(ParentForm());
    popup->BorderStyle = bsNone;
    popup->Caption = Name;
    auto* list = new TCombo(popup.get());
    // Enter accepts the item here; it must not move on like Tab.
    list->KeyLikeTab = keyDownUp;
    list->SetParent(popup.get());
    list->SetAlign(alClient);
    int width = Width();
    for (const std::string& text : items.Texts) {
        list->Items.Add(text);
        width = std::max(width, int(vcl::ToU32(text).size()) * 7 + 8);
    }
    int rows = (ComboBox.DropDownCount < 1 || ComboBox.DropDownCount > 20) ? 6 : ComboBox.DropDownCount;
    int height = rows * 16 + 4;
    // Under the field on the screen; above it when the screen ends first, never left of it.
    TPoint origin = FormOrigin();
    if (TForm* form = ParentForm()) {
        origin.X += form->Left();
        origin.Y += form->Top();
    }
    int x = std::max(0, origin.X), y = origin.Y + Height();
    if (y + height > Screen->Height)
        y = std::max(0, origin.Y - height);
    popup->SetBounds(x, y, width, height);
    auto found = std::find(items.Texts.begin(), items.Texts.end(), Text());
    if (found != items.Texts.end())
        list->SetItemIndex(int(found - items.Texts.begin()));
    list->OnDblClick = [&](TObject*) { popup->ModalResult = mrOk; };
    list->OnKeyDown = [&](TObject*, WORD& key, TShiftState) {
        if (key == VK_RETURN)
            popup->ModalResult = mrOk;
        else if (key == VK_ESCAPE)
            popup->ModalResult = mrCancel;
    };
    list->OnMouseDown = [&](TObject*, TMouseButton button, TShiftState, int, int) {
        if (button == mbRight)
            popup->ModalResult = mrCancel;
    };
    bool entered = false;
    list->OnMouseMove = [&](TObject*, TShiftState, int mx, int my) {
        const bool inside = mx >= 0 && my >= 0 && mx < list->Width() && my < list->Height();
        if (inside)
            entered = true;
        else if (entered && ComboBox.CloseIfMouseLeave)
            popup->ModalResult = mrCancel;
    };
    popup->SetActiveControl(list);
    if (popup->ShowModal() != mrOk || list->ItemIndex() < 0)
        return false;
    ComboBox.ItemIndex = list->ItemIndex();
    SetText(items.Texts[size_t(list->ItemIndex())]);
    return true;
}

void TVLabeledEdit::Paint()
{
    // The colour of the moment: disabled, or the normal one while the field waits.
    if (!Enabled())
        Color = ColorOnDisabled;
    else if (!Focused())
        Color = normalColor_;
    TRect client = Rect(0, 0, Width(), Height());
    Canvas.Font = Font;
    Canvas.Brush.Color = clWindowFrame;
    Canvas.FrameRect(client);
    client = Rect(client.Left + 1, client.Top + 1, client.Right - 1, client.Bottom - 1);
    Canvas.Brush.Color = Color;
    Canvas.FillRect(client);
    if (!Enabled())
        Canvas.Font.Color = clGrayText;
    std::string text = Focused() ? Text() : ShownText();
    if (PasswordChar)
        text = vcl::ToUtf8(std::u32string(vcl::ToU32(text).size(), PasswordChar));
    // The edit's own margin and the border's pixel.
    constexpr int leftMargin = 2 + 1, topMargin = 1;
    const int textWidth = Canvas.TextWidth(text);
    const bool right = IsNumeric() && Number.RightAlignment;
    const int x = right ? client.Width() - textWidth - leftMargin - 1 : leftMargin;
    Canvas.TextRect(client, client.Left + x, client.Top + topMargin, text);
    if (Focused()) {
        const std::u32string chars = vcl::ToU32(text);
        const size_t caret = std::min(size_t(std::max(0, SelStart)), chars.size());
        const int caretX = client.Left + x + Canvas.TextWidth(vcl::ToUtf8(chars.substr(0, caret)));
        Canvas.Pen.Color = Canvas.Font.Color;
        Canvas.MoveTo(caretX, client.Top + topMargin);
        Canvas.LineTo(caretX, client.Bottom - topMargin);
    }
}
