// The program's data-entry field: a labelled edit that is a currency, floating-point, integer,
// text, masked (date or time) or combo field, with focus colours, a required-entry check, range
// checks, an optional button at its right edge and keys that move the focus like Tab.
#pragma once

#include "app/lib/FocusControl.h"
#include "app/lib/VEditRules.h"
#include "app/lib/VListBox.h"
#include "platform/vcl/Menus.h"

#include <functional>
#include <string>
#include <vector>

enum TTypeEdit { teCurrency, teFloat, teInteger, teString, teMask, teComboBox };
enum TCaseMode { cmNormal, cmProperCase, cmLowerCase, cmUpperCase };
enum TCursorEndField { cfNormal, cfPosition, cfBegin, cfEnd, cfZeroElsePosition, cfZeroElseBegin, cfZeroElseEnd };
enum TExitString { esNormal, esLeft, esRight, esLeftRight };
enum TCurrencyPos { ncCurr_Right, ncCurr_Left, ncCurrRight, ncCurrLeft };
using vedit::TMaskOn;
using vedit::TNumberArea;

struct TNumberEdit {
    int Decimal = 2;
    int DecimalShow = 2;
    int NumberCount = 3;
    std::string Space = " ";
    bool RightAlignment = true;
    TNumberArea NumberArea = vedit::naUnspecified;
    bool NumberNoneDoZero = false;
    bool NumberTextToValue = true;
    bool Valid = false;
    double ValueMin = 0, ValueMax = 0;
    std::string CurrText = "Kč";
    bool CurrTextShow = true;
    TCurrencyPos CurrPosition = ncCurr_Right;
    bool CursorZeroOver = false;
};

struct TMaskSpecEdit {
    std::string Mask;
    TMaskOn MaskOnEnter = vedit::moNone;
    TMaskOn MaskOnExit = vedit::moNone;
    bool MaskDelShift = false;
};

struct TStringEdit {
    TExitString ExitString = esNormal;
    std::string AlignLeftChar;
    std::string Filtr;
    bool FiltrUse = false;
};

struct TComboBoxEdit {
    std::string Items;  // "|" between items; "‡" starts an item's second part
    int ItemIndex = -1;
    int DropDownCount = 8;
    bool Sorted = false;
    vcl::TColor ColorEditOnFocus = vcl::clInfoBk;
    bool CloseIfMouseLeave = false;
    bool ItemActionKey = true;
    bool OffDelKey = false;
};

// The drop-down list of a combo field.
class TCombo : public TVListBox {
public:
    explicit TCombo(vcl::TComponent* owner) : TVListBox(owner) {}
    std::string ClassName() const override { return "TCombo"; }
};

// A combo field's items: the shown texts and, parallel to them, the parts after "‡".
struct TComboItems {
    std::vector<std::string> Texts, Values;
};
TComboItems SplitComboItems(const std::string& items);

class TVLabeledEdit : public vcl::TLabeledEdit {
public:
    explicit TVLabeledEdit(vcl::TComponent* owner);
    std::string ClassName() const override { return "TVLabeledEdit"; }

    TTypeEdit EditType = teString;
    TCaseMode CaseMode = cmNormal;
    TCursorEndField CursorEndField = cfEnd;
    vcl::TColor ColorOnDisabled = vcl::clBtnFace;
    vcl::TColor ColorOnFocus = 0x99FFFF;
    bool ColorOnFocusActive = true;
    vcl::TColor ColorEditOnButt = vcl::clInfoBk;
    bool ColorEditOnButtActive = false;
    bool Required = false;
    bool RequiredMonitoring = true;
    TKeyLikeTab KeyLikeTab = keyEnter | keyDownUp;
    bool KeyFirstInherited = false;
    bool ButtonVisible = false;
    std::string ButtonCaption = "··";
    int ButtonWidth = 15;
    vcl::TShortCut ButtonShortCut = 0;
    vcl::TFont ButtonFont;
    double Value = 0;
    TNumberEdit Number;
    TMaskSpecEdit MaskEdit;
    TStringEdit StringEdit;
    TComboBoxEdit ComboBox;
    TFocusControl FocusControl;
    vcl::TNotifyEvent OnClickButton;
    std::function<void(vcl::TObject* sender, const std::string& errorMsg)> OnError;

    const std::string& Version() const { return version_; }
    void SetVersion(const std::string&) { version_ = "2.77"; }
    // Assigning the value rebuilds the mask and filter sets, as on entry.
    void SetValue(double value);
    char DecimalSeparator() const { return separator_; }
    bool IsNumeric() const { return EditType == teCurrency || EditType == teFloat || EditType == teInteger; }
    // The characters a numeric field accepts, built at loading.
    const std::string& NumberChars() const { return numberChars_; }
    vcl::TButton* Button() const { return button_; }

    void Loaded() override;
    void DoEnter() override;
    void DoExit() override;
    void KeyDown(WORD& key, vcl::TShiftState shift) override;
    void KeyPress(char32_t& key) override;
    void SetBounds(int left, int top, int width, int height) override;
    void SetParent(vcl::TWinControl* parent) override;
    void SetEnabled(bool enabled) override;
    // A numeric field out of focus shows its number grouped, with the currency text.
    std::string ShownText() const override;
    // A numeric field draws itself (grouped number, currency text, its alignment); every other
    // field is the standard edit.
    vcl::TControlKind Kind() const override { return IsNumeric() ? vcl::ckPainted : vcl::TLabeledEdit::Kind(); }
    void Paint() override;
    // Drops the combo list down; true when an item was chosen.
    bool ShowComboList();

    // The exit checks; false when the field keeps the focus or a number was refused.
    bool CheckRequired();

private:
    void Report(const std::string& message);
    bool MoveFocus(WORD key);
    void RebuildSets();
    void PlaceButton();
    void PlaceCaret();
    bool KeyPressNumber(char32_t key) const;
    void KeyPressMasked(char32_t& key);
    char32_t CaseOf(char32_t key) const;
    // The editing keys of a field that draws itself, which no native edit handles for it.
    bool SelfDrawnKeyDown(WORD key);

    std::string version_ = "2.77";
    char separator_ = ',';
    std::string numberChars_, maskChars_, filterChars_;
    vcl::TColor normalColor_ = vcl::clWindow, savedColor_ = vcl::clWindow;
    int rememberedCaret_ = 0;
    bool loaded_ = false;
    vcl::TButton* button_ = nullptr;
};
