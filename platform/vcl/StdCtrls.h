// The standard controls: panel, label, buttons, edits, memo, check box, radio group, group box,
// combo box, list box, scroll bar, scroll box, bevel, image and paint box.
#pragma once

#include "platform/vcl/Forms.h"

namespace vcl {

enum TBevelCut { bvNone, bvLowered, bvRaised };

class TPanel : public TCustomControl {
public:
    explicit TPanel(TComponent* owner);
    std::string ClassName() const override { return "TPanel"; }
    TBevelCut BevelInner = bvNone, BevelOuter = bvRaised;
    int BevelWidth = 1;
    int BorderWidth = 0;
    TAlignment Alignment = taCenter;
    void Paint() override;

protected:
    TRect AlignArea() const override;
};

enum TTextLayout { tlTop, tlCenter, tlBottom };

class TLabel : public TGraphicControl {
public:
    explicit TLabel(TComponent* owner);
    std::string ClassName() const override { return "TLabel"; }
    TAlignment Alignment = taLeftJustify;
    TTextLayout Layout = tlTop;
    bool WordWrap = false;
    bool Transparent = false;
    bool AutoSize = true;
    TWinControl* FocusControl = nullptr;
    void SetCaption(const std::string& caption);  // resizes when AutoSize
    bool Accelerate(char key) override;           // focuses FocusControl
    void Paint() override;
};

// Enter and Space click a focused button; a button with a ModalResult ends its modal form.
class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    std::string ClassName() const override { return "TButton"; }
    TControlKind Kind() const override { return OwnerDrawStyle ? ckPainted : ckButton; }
    TModalResult ModalResult = mrNone;
    bool Default = false;
    bool Cancel = false;
    // Set by buttons that draw themselves: Paint then calls DrawButton with the button's state.
    bool OwnerDrawStyle = false;
    bool Pressed() const { return pressed_ || keyPressed_; }
    void Click() override;
    bool Accelerate(char key) override;
    void KeyDown(WORD& key, TShiftState shift) override;
    void KeyUp(WORD& key, TShiftState shift) override;
    void Paint() override;
    // Draws the face of an owner-drawn button; `down` while it is held.
    virtual void DrawButton(bool down, bool focused);

private:
    bool keyPressed_ = false;
};

enum TBitBtnKind { bkCustom, bkOK, bkCancel, bkHelp, bkYes, bkNo, bkClose, bkAbort, bkRetry, bkIgnore, bkAll };
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

class TBitBtn : public TButton {
public:
    explicit TBitBtn(TComponent* owner);
    std::string ClassName() const override { return "TBitBtn"; }
    TBitmap Glyph;
    TButtonLayout Layout = blGlyphLeft;
    int Spacing = 4;
    TBitBtnKind BitBtnKind() const { return kind_; }
    void SetKind(TBitBtnKind kind);  // sets caption and modal result of the kind

private:
    TBitBtnKind kind_ = bkCustom;
};

class TSpeedButton : public TGraphicControl {
public:
    explicit TSpeedButton(TComponent* owner);
    std::string ClassName() const override { return "TSpeedButton"; }
    TBitmap Glyph;
    bool Flat = false;
    int GroupIndex = 0;
    bool AllowAllUp = false;
    bool Down = false;
    void Click() override;
    bool Accelerate(char key) override;
    void Paint() override;
};

enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };

class TCustomEdit : public TWinControl {
public:
    explicit TCustomEdit(TComponent* owner);
    std::string ClassName() const override { return "TCustomEdit"; }
    const std::string& Text() const { return text_; }
    // Keeps MaxLength (characters) and fires OnChange when the text changes.
    virtual void SetText(const std::string& text);
    int MaxLength = 0;  // 0: no limit
    bool ReadOnly = false;
    bool AutoSelect = true;
    TEditCharCase CharCase = ecNormal;
    int SelStart = 0, SelLength = 0;
    void SelectAll();
    void Clear() { SetText(""); }
    TNotifyEvent OnChange;
    std::string ShownText() const override { return text_; }
    // Typing at the caret (replacing the selection), as the user would; refused when read-only.
    void TypeText(const std::string& text);
    virtual void Change();

protected:
    std::string text_;
};

class TEdit : public TCustomEdit {
public:
    explicit TEdit(TComponent* owner);
    std::string ClassName() const override { return "TEdit"; }
    TControlKind Kind() const override { return ckEdit; }
    char32_t PasswordChar = 0;
    std::string ShownText() const override;
};

enum TLabelPosition { lpAbove, lpBelow, lpLeft, lpRight };

// An edit with its label, kept beside it when it moves, hides or changes parent.
class TCustomLabeledEdit : public TEdit {
public:
    explicit TCustomLabeledEdit(TComponent* owner);
    std::string ClassName() const override { return "TCustomLabeledEdit"; }
    TLabel* EditLabel() const { return label_; }
    TLabelPosition LabelPosition() const { return labelPosition_; }
    void SetLabelPosition(TLabelPosition p);
    int LabelSpacing() const { return labelSpacing_; }
    void SetLabelSpacing(int spacing);
    void SetBounds(int left, int top, int width, int height) override;
    void SetParent(TWinControl* parent) override;
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    void PlaceLabel();

private:
    TLabel* label_;
    TLabelPosition labelPosition_ = lpAbove;
    int labelSpacing_ = 3;
};
using TLabeledEdit = TCustomLabeledEdit;

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo : public TCustomEdit {
public:
    explicit TMemo(TComponent* owner);
    std::string ClassName() const override { return "TMemo"; }
    TControlKind Kind() const override { return ckMemo; }
    TStringList Lines;  // kept equal to the text
    TScrollStyle ScrollBars = ssNone;
    bool WordWrap = true;
    bool WantReturns = true;
    void SetText(const std::string& text) override;

private:
    bool syncing_ = false;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TComponent* owner);
    std::string ClassName() const override { return "TCheckBox"; }
    TControlKind Kind() const override { return ckCheckBox; }
    bool Checked() const { return state_ == cbChecked; }
    void SetChecked(bool checked) { SetState(checked ? cbChecked : cbUnchecked); }
    TCheckBoxState State() const { return state_; }
    void SetState(TCheckBoxState state);  // fires OnClick when it changes
    bool AllowGrayed = false;
    TAlignment Alignment = taRightJustify;
    void Toggle();
    void Click() override;
    bool Accelerate(char key) override;
    void KeyPress(char32_t& key) override;
    void Paint() override;

private:
    TCheckBoxState state_ = cbUnchecked;
    bool clicking_ = false;
};

class TGroupBox : public TCustomControl {
public:
    explicit TGroupBox(TComponent* owner);
    std::string ClassName() const override { return "TGroupBox"; }
    void Paint() override;

protected:
    TRect AlignArea() const override;
};

class TRadioGroup : public TGroupBox {
public:
    explicit TRadioGroup(TComponent* owner);
    std::string ClassName() const override { return "TRadioGroup"; }
    TStringList Items;
    int Columns = 1;
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);  // fires OnClick when it changes
    TRect ItemRect(int index) const;
    // An item's "&" letter chooses it, as the caption's focuses the group.
    bool HasAccelerator(char key) const override;
    bool Accelerate(char key) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void KeyDown(WORD& key, TShiftState shift) override;
    void Paint() override;
    std::string ShownText() const override;

private:
    int itemIndex_ = -1;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed };

class TComboBox : public TCustomEdit {
public:
    explicit TComboBox(TComponent* owner);
    std::string ClassName() const override { return "TComboBox"; }
    TControlKind Kind() const override { return ckComboBox; }
    TComboBoxStyle Style = csDropDown;
    TStringList Items;
    int DropDownCount = 8;
    bool Sorted() const { return Items.Sorted(); }
    void SetSorted(bool sorted) { Items.SetSorted(sorted); }
    int ItemIndex() const { return itemIndex_; }
    // Selects an item (its text becomes the text); -1 clears. Fires no event, as in code.
    void SetItemIndex(int index);
    // The user's choice from the list: sets the item and fires OnChange, then OnSelect.
    void SelectFromList(int index);
    void SetText(const std::string& text) override;  // a drop-down list only takes its items' texts
    TNotifyEvent OnSelect, OnDropDown;
    void KeyDown(WORD& key, TShiftState shift) override;

private:
    int itemIndex_ = -1;
};

enum TListBoxStyle { lbStandard, lbOwnerDrawFixed, lbOwnerDrawVariable };
using TOwnerDrawState = unsigned;
constexpr TOwnerDrawState odSelected = 1, odGrayed = 2, odDisabled = 4, odChecked = 8, odFocused = 16;
using TDrawItemEvent = std::function<void(TWinControl* Control, int Index, const TRect& Rect, TOwnerDrawState State)>;

// Drawn by the library itself (so owner drawing is the same on every widget set).
class TListBox : public TCustomControl {
public:
    explicit TListBox(TComponent* owner);
    std::string ClassName() const override { return "TListBox"; }
    TStringList Items;
    TListBoxStyle Style = lbStandard;
    bool MultiSelect = false;
    bool ExtendedSelect = true;
    bool TabStops = false;  // tab characters jump to TabWidth columns
    int TabWidth = 0;       // in pixels; 0: every 8 characters
    int ItemHeight = 13;
    bool Sorted() const { return Items.Sorted(); }
    void SetSorted(bool sorted);
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelCount() const;
    void ClearSelection();
    int TopIndex() const { return topIndex_; }
    void SetTopIndex(int index);
    int VisibleItems() const;
    // The item at a client point; -1 (or, with existing false, the count) when none.
    int ItemAtPos(TPoint p, bool existing) const;
    TRect ItemRect(int index) const;
    void Clear() { Items.Clear(); }
    TDrawItemEvent OnDrawItem;

    void Paint() override;
    // Draws one item; owner-draw styles call OnDrawItem, the standard style draws the text.
    virtual void DrawItem(int index, const TRect& rect, TOwnerDrawState state);
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void KeyDown(WORD& key, TShiftState shift) override;
    TPoint PopupPoint() const override;
    std::string ShownText() const override { return Items.Text(); }

private:
    void ItemsChanged();
    void MakeVisible(int index);
    // Extended selection: one row alone, or the rows from the anchor to index.
    void SelectOnly(int index);
    void SelectRange(int index);
    std::vector<bool> selected_;
    int itemIndex_ = -1;
    int anchor_ = -1;
    int topIndex_ = 0;
};

enum TScrollBarKind { sbHorizontal, sbVertical };

class TScrollBar : public TWinControl {
public:
    explicit TScrollBar(TComponent* owner);
    std::string ClassName() const override { return "TScrollBar"; }
    TControlKind Kind() const override { return ckScrollBar; }
    TScrollBarKind ScrollKind = sbHorizontal;
    int Min = 0, Max = 100, SmallChange = 1, LargeChange = 1, PageSize = 0;
    int Position() const { return position_; }
    void SetPosition(int position);  // clamped; fires OnChange when it changes
    void SetParams(int position, int min, int max);
    TNotifyEvent OnChange;
    void KeyDown(WORD& key, TShiftState shift) override;

private:
    int position_ = 0;
};

class TScrollBox : public TCustomControl {
public:
    explicit TScrollBox(TComponent* owner);
    std::string ClassName() const override { return "TScrollBox"; }
    bool BorderSingle = true;
    void Paint() override;

protected:
    TRect AlignArea() const override;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

class TBevel : public TGraphicControl {
public:
    explicit TBevel(TComponent* owner);
    std::string ClassName() const override { return "TBevel"; }
    TBevelShape Shape = bsBox;
    TBevelStyle Style = bsLowered;
    void Paint() override;
};

class TImage : public TGraphicControl {
public:
    explicit TImage(TComponent* owner);
    std::string ClassName() const override { return "TImage"; }
    TBitmap Picture;
    bool Stretch = false;
    bool Center = false;
    bool Transparent = false;
    void Paint() override;
};

class TPaintBox : public TGraphicControl {
public:
    explicit TPaintBox(TComponent* owner);
    std::string ClassName() const override { return "TPaintBox"; }
    TNotifyEvent OnPaint;
    void Paint() override;
};

}  // namespace vcl
