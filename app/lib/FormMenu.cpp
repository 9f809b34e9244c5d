#include "app/lib/FormMenu.h"

#include "platform/vcl/Headless.h"
#include "unit/U_Win.h"

#include <algorithm>

using namespace vcl;

namespace {

TFormMenu* menuForm = nullptr;
TImageList* pendingImages = nullptr;

constexpr int ItemLeft = 5;
constexpr int IndentStep = 16;

TColor LabelColour(const TMenuLine& line)
{
    return line.LabelColour ? static_cast<TColor>(*line.LabelColour) : clWindowText;
}

std::string ImageText(const std::vector<int>& indexes)
{
    std::string text;
    for (int n : indexes)
        text += (text.empty() ? "" : " ") + std::to_string(n);
    return text;
}

}  // namespace

TFormMenu::TFormMenu(TComponent* owner) : TForm(owner)
{
    Caption = "Menu";
    BorderStyle = bsDialog;
    KeyPreview = true;
    ImageList = new TImageList(this);
    ImageList->Name = "ImageList";
    OnKeyDown = [this](TObject*, WORD& key, TShiftState) { FormKeyDown(key); };
    OnKeyPress = [this](TObject*, char32_t& key) { FormKeyPress(key); };
    OnActivate = [this](TObject*) {
        Caption = "  " + title_;
        if (preselect_ >= 0 && preselect_ < int(buttons_.size()) && buttons_[size_t(preselect_)]->CanFocus())
            buttons_[size_t(preselect_)]->SetFocus();
    };
    OnResize = [this](TObject*) { Caption = "  " + title_; };
}

TFormMenu::~TFormMenu()
{
    if (menuForm == this)
        menuForm = nullptr;
}

void TFormMenu::FreeControls()
{
    SetActiveControl(nullptr);
    for (auto* c : buttons_)
        delete c;
    for (auto* c : labels_)
        delete c;
    for (auto* c : checkBoxes_)
        delete c;
    for (auto* c : bevels_)
        delete c;
    buttons_.clear();
    labels_.clear();
    checkBoxes_.clear();
    bevels_.clear();
    focused_ = default_ = preselect_ = -1;
}

bool TFormMenu::Build(const std::string& options, int inOutNumber, const std::string& menuText,
                      const std::string& title)
{
    FreeControls();
    model_ = ParseMenuText(menuText);
    if (model_.Lines.empty())
        return false;
    options_ = ParseMenuOptions(options);
    title_ = title;
    Caption = "  " + title;
    chosen_ = MenuCancelled;
    const TMenuPreselection preselection = PreselectButton(model_, options_, inOutNumber);
    preselect_ = preselection.Index;
    Layout();
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        if (model_.Buttons()[i]->IsDefault)
            default_ = int(i);
    if (preselection.MarkDefault && preselect_ >= 0)
        default_ = preselect_;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i]->Default = int(i) == default_;
        if (int(i) == default_)
            buttons_[i]->Font.Style |= fsBold;
    }
    return true;
}

void TFormMenu::Layout()
{
    TFont font;
    font.Size = MenuFontSize;
    if (MenuFontArial)
        font.Name = "Arial";
    int widest = 0;
    for (const TMenuLine& line : model_.Lines) {
        TFont measured = font;
        if (options_.AllBold || (line.Kind == TMenuLineKind::Label && options_.BoldLabels))
            measured.Style |= fsBold;
        int images = int(line.ImageIndexes.size()) * 20;
        widest =
            std::max(widest, WidgetSet().TextExtent(line.Caption, measured).cx + images + line.Indent * IndentStep);
    }
    // A caption wider than the items widens the items rather than leaving the form empty.
    const int width = std::max({widest + 24, 120, CaptionRoom() - 36 - 2 * ItemLeft});

    int y = 4;
    int buttonIndex = 0;
    for (const TMenuLine& line : model_.Lines) {
        switch (line.Kind) {
        case TMenuLineKind::Label: {
            y += options_.MeasureHeight;
            auto* label = new TLabel(this);
            label->SetParent(this);
            label->Transparent = true;
            label->Font = font;
            label->Font.Color = LabelColour(line);
            if (options_.BoldLabels)
                label->Font.Style |= fsBold;
            label->SetCaption(line.Caption);
            label->SetLeft(ItemLeft);
            label->SetTop(y - 16);
            labels_.push_back(label);
            break;
        }
        case TMenuLineKind::CheckBox: {
            auto* box = new TCheckBox(this);
            box->SetParent(this);
            box->Caption = line.Caption;
            box->Font = font;
            box->SetBounds(15, y, width + 36 - 15, 17);
            box->OnKeyDown = [](TObject* sender, WORD& key, TShiftState) {
                if (key == VK_RETURN) {
                    static_cast<TCheckBox*>(sender)->Toggle();
                    key = 0;
                }
            };
            checkBoxes_.push_back(box);
            y += 17 + 2;
            break;
        }
        case TMenuLineKind::Separator: {
            y += 13;
            auto* bevel = new TBevel(this);
            bevel->SetParent(this);
            bevel->Shape = bsTopLine;
            bevel->SetBounds(ItemLeft, y - 6, width + 36, 2);
            bevels_.push_back(bevel);
            break;
        }
        case TMenuLineKind::Range:
            break;
        case TMenuLineKind::Button:
            MakeButton(line, buttonIndex++, y, width);
            break;
        }
    }
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i]->FocusControl.Up = i > 0 ? buttons_[i - 1] : nullptr;
        buttons_[i]->FocusControl.Down = i + 1 < buttons_.size() ? buttons_[i + 1] : nullptr;
        buttons_[i]->FocusControl.Left = buttons_[i]->FocusControl.Up;
        buttons_[i]->FocusControl.Right = buttons_[i]->FocusControl.Down;
    }
    contentWidth_ = width + 36 + 2 * ItemLeft;
    contentHeight_ = y + 11;
    SetClientWidth(contentWidth_);
    SetClientHeight(contentHeight_);
}

int TFormMenu::CaptionRoom() const
{
    // The window system cuts a caption that does not fit beside the title bar's buttons.
    TFont captionFont = Font;
    captionFont.Style |= fsBold;
    return WidgetSet().TextExtent(Caption, captionFont).cx + 110;
}

void TFormMenu::Place()
{
    int left = 0, top = 0;
    TForm* main = Application ? Application->MainForm : nullptr;
    if (main && main != this && main->Visible()) {
        SetClientWidth(contentWidth_);
        left = main->Left() + (main->Width() - Width()) / 2;
        top = main->Top() + 40;
    }
    PlaceForm(left, top, *this, true, contentWidth_, contentHeight_);
    // The menu has no scroll bar: a taller one than the work area keeps every item, from its top.
    if (ClientHeight() < contentHeight_) {
        SetClientHeight(contentHeight_);
        SetTop(Screen->WorkArea.Top);
    }
}

void TFormMenu::MakeButton(const TMenuLine& line, int index, int& y, int width)
{
    auto* button = new TVColButton(this);
    button->SetParent(this);
    button->Caption = line.Caption;
    button->Hint = line.Hint;
    button->ShowHint = !line.Hint.empty();
    button->Font.Size = MenuFontSize;
    if (MenuFontArial)
        button->Font.Name = "Arial";
    if (options_.AllBold)
        button->Font.Style |= fsBold;
    if (options_.ButtonFaceColours) {
        button->Color = clBtnFace;
        button->Font.Color = clWindowText;
    } else if (!options_.KeepDefaultColour) {
        button->Color = MenuColourButton;
    }
    button->ColorOnFocus = MenuColourFocus;
    button->ColorOnFocusDown = MenuColourFocusDown;
    button->ColorTextOnFocusDown = MenuColourTextDown;
    button->Options = cbDottedBox | cbLikeButtonDown;
    button->Alignment = options_.Alignment == TMenuAlignment::Left    ? taLeftJustify
                        : options_.Alignment == TMenuAlignment::Right ? taRightJustify
                                                                      : taCenter;
    if (pendingImages)
        button->Images = pendingImages;
    else
        button->Images = ImageList;
    button->ImagesLayout = line.SecondImageLayout ? imImageRight : imImageLeft;
    button->SetImagesIndex(ImageText(line.ImageIndexes));
    if (!line.Enabled) {
        button->SetEnabled(false);
        button->Color = clBtnFace;
    }
    const int indent = line.Indent * IndentStep;
    button->SetBounds(ItemLeft + indent, y, width - indent, options_.ButtonHeight);
    button->OnClick = [this, index](TObject*) { Choose(index); };
    button->OnEnter = [this, index](TObject*) { ButtonEntered(index); };
    button->OnExit = [this, index](TObject*) { ButtonLeft(index); };
    buttons_.push_back(button);
    y += options_.ButtonHeight + options_.ButtonGap;
}

void TFormMenu::Choose(int index)
{
    chosen_ = index;
    ModalResult = mrOk;
}

void TFormMenu::ButtonEntered(int index)
{
    focused_ = index;
    if (options_.BoldWhileFocused)
        buttons_[size_t(index)]->Font.Style |= fsBold;
}

void TFormMenu::ButtonLeft(int index)
{
    if (index >= int(buttons_.size()) || options_.AllBold)
        return;
    TFont& font = buttons_[size_t(index)]->Font;
    font.Style = index == default_ ? (font.Style | fsBold) : (font.Style & ~fsBold);
}

void TFormMenu::FocusButton(int index)
{
    if (index >= 0 && index < int(buttons_.size()) && buttons_[size_t(index)]->CanFocus())
        buttons_[size_t(index)]->SetFocus();
}

void TFormMenu::FormKeyDown(WORD& key)
{
    if (key == VK_ESCAPE) {
        ModalResult = mrCancel;
        key = 0;
        return;
    }
    if (!dynamic_cast<TVColButton*>(ActiveControl()) || buttons_.empty())
        return;
    int target = -1;
    std::vector<int> enabled;
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i]->CanFocus())
            enabled.push_back(int(i));
    if (enabled.empty())
        return;
    // The whole menu is in view, so the page keys reach the first and the last button.
    if (key == VK_HOME || key == VK_PRIOR)
        target = enabled.front();
    else if (key == VK_END || key == VK_NEXT)
        target = enabled.back();
    if (target >= 0) {
        FocusButton(target);
        key = 0;
    }
}

void TFormMenu::FormKeyPress(char32_t& key)
{
    const TMenuKeyResult hit = MenuAcceleratorKey(model_, options_, key);
    if (hit.Index < 0)
        return;
    key = 0;
    FocusButton(hit.Index);
    if (hit.Choose)
        Choose(hit.Index);
}

int TFormMenu::Run()
{
    chosen_ = MenuCancelled;
    if (Visible())
        Hide();
    Place();
    // Before it shows: a shown window that changes this is shown anew by the window system.
    SetTopMost(*this);
    const TModalResult result = ShowModal();
    return result == mrOk ? chosen_ : MenuCancelled;
}

TMenuChoice TFormMenu::Result(int index) const
{
    std::vector<bool> ticked;
    for (const TCheckBox* box : checkBoxes_)
        ticked.push_back(box->Checked());
    return ChooseMenuButton(model_, index, ticked);
}

int BuildMenuForm(const std::string& options, int& number, std::string& text, const std::string& menuText,
                  const std::string& title, std::string* caption)
{
    if (ParseMenuText(menuText).Lines.empty())
        return MenuEmpty;
    // A request can arrive while a menu waits; its menu gets a form of its own.
    if (menuForm == nullptr || menuForm->IsModal()) {
        menuForm = new TFormMenu(Application);
        menuForm->EnsureCreated();
    }
    TFormMenu& form = *menuForm;
    form.Build(options, number, menuText, title);
    pendingImages = nullptr;
    const int index = form.Run();
    if (index >= 0) {
        const TMenuChoice choice = form.Result(index);
        number = choice.Number;
        text = choice.Text;
        if (caption)
            *caption = choice.Caption;
    }
    form.FreeControls();
    if (&form != menuForm)
        form.Release();
    return index;
}

int ShowMenu(const std::string& options, int& number, std::string& text, const std::string& menuText,
             const std::string& title)
{
    return BuildMenuForm(options, number, text, menuText, title, nullptr);
}

int ShowMenu(const std::string& options, int& number, std::string& text, const std::string& menuText,
             const std::string& title, std::string& caption)
{
    return BuildMenuForm(options, number, text, menuText, title, &caption);
}

void CloseMenuForm()
{
    if (menuForm && menuForm->IsModal())
        menuForm->ModalResult = mrCancel;
}

void SetMenuImageList(TImageList* images)
{
    pendingImages = images;
}

TFormMenu* MenuForm()
{
    return menuForm;
}
