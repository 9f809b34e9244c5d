// The menu text grammar and the option string of the menu form, without the form: what the
// builder shows, in which order, and what a choice returns.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TMenuAlignment { Centre, Left, Right };

// The option string: control characters #1..#27 select the look, the rest is the pre-selected
// button index (-1 when there is none).
struct TMenuOptions {
    bool BoldLabels = false;                            // #1
    bool BoldWhileFocused = false;                      // #2
    bool KeepDefaultColour = false;                     // #7
    bool NoPreselectByNumber = false;                   // #14
    bool ButtonFaceColours = false;                     // #23
    bool AcceleratorFocusOnly = false;                  // #24
    bool AllBold = false;                               // #26
    TMenuAlignment Alignment = TMenuAlignment::Centre;  // #12 left, #18 right
    int ButtonHeight = 25;                              // #19: 19, #13: 23, #8: 30
    int ButtonGap = 0;                                  // #4: 5
    bool Layout5 = false;
    bool Layout16 = false;
    bool Layout21 = false;
    int MeasureHeight = 20;  // #5: 14
    int PreselectIndex = -1;
};
TMenuOptions ParseMenuOptions(std::string_view options);

enum class TMenuLineKind { Label, CheckBox, Separator, Range, Button };

struct TMenuLine {
    TMenuLineKind Kind = TMenuLineKind::Button;
    std::string Caption;                   // label, check box or button text
    std::string ReturnText;                // between "<" and ">"
    std::string Accelerator;               // one character (UTF-8) after "^"
    int Indent = 0;                        // "›" 1, "»" 2
    bool Enabled = true;                   // "‡-"
    bool IsDefault = false;                // "‡+"
    int Number = 0;                        // the rest of the tag as an integer, 0 when none
    std::string Hint;                      // between "¤" and "Ą"
    std::vector<int> ImageIndexes;         // "…n†" / "…n®"
    bool SecondImageLayout = false;        // an image part closed by "®"
    std::optional<long long> LabelColour;  // between two "×"
    int RangeLow = -1;
    int RangeHigh = -1;
};

// The preparation of the builder: "|" before "~" and "¬", trailing "~" dropped, split at "|".
std::vector<std::string> PrepareMenuLines(std::string_view menuText);

struct TMenuModel {
    std::vector<TMenuLine> Lines;  // in text order
    int RangeLow = -1;
    int RangeHigh = -1;

    // Buttons and check boxes counted in text order; -1 when the line is none of them.
    std::vector<const TMenuLine*> Buttons() const;
    std::vector<const TMenuLine*> CheckBoxes() const;
};
TMenuModel ParseMenuText(std::string_view menuText);

// The button that gets the focus first: the option string's index, replaced (unless #14) by the
// first button whose number is the in/out number; that one then becomes the default item.
struct TMenuPreselection {
    int Index = -1;
    bool MarkDefault = false;
};
TMenuPreselection PreselectButton(const TMenuModel& model, const TMenuOptions& options, int inOutNumber);

// A key press: the first button whose accelerator equals the key (case-insensitively), for a
// blank, "*" to "9", "=", "\" or a letter; -1 when none. Choose tells whether it also chooses.
struct TMenuKeyResult {
    int Index = -1;
    bool Choose = false;
};
TMenuKeyResult MenuAcceleratorKey(const TMenuModel& model, const TMenuOptions& options, char32_t key);

constexpr int MenuCancelled = -1;
constexpr int MenuEmpty = -2;

struct TMenuChoice {
    int Index = MenuCancelled;  // button index from 0, or MenuCancelled / MenuEmpty
    int Number = 0;
    std::string Text;     // the return text, then "‡" + return text of every ticked check box
    std::string Caption;  // without "&"
};
// The result of choosing button index with the given check box states (in text order).
TMenuChoice ChooseMenuButton(const TMenuModel& model, int buttonIndex, const std::vector<bool>& ticked = {});
