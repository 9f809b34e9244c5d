// The text rules of the labelled edit, free of any control: number texts and their checks, the
// revision of date and time masks, and the editing of masked texts. The clock is passed in so
// that the rules can be checked against any day.
#pragma once

#include <optional>
#include <string>

namespace vedit {

struct TClock {
    int Year = 2000, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};
TClock Now();

enum TNumberArea { naUnspecified, naOnlyPositive, naOnlyNegative, naPositive, naNegative };

// A number text reduced to digits, one decimal separator and a leading minus; nothing when it
// holds no digit.
std::optional<double> ReadNumber(const std::string& text, char separator);
// The text that a number field keeps: rounded to 4 places, `decimals` places shown, the integer
// digits grouped by `groupCount` with blanks, a minus only for a value other than 0.
std::string NumberText(double value, int decimals, int groupCount, char separator);
// What a field shows while it does not have the focus: `decimals` places cut (not rounded),
// the integer part grouped. The text is taken as it stands.
std::string DisplayNumberText(const std::string& text, int decimals, int groupCount, char separator);

struct TNumberLimits {
    TNumberArea Area = naUnspecified;
    double ValueMin = 0, ValueMax = 0;
};
// The refusal text for a number, or nothing when it passes.
std::optional<std::string> CheckNumber(const std::string& entered, std::optional<double> value,
                                       const TNumberLimits& limits, char separator);

// Masks: a first "!" or "?" makes a date or time mask, whose shown text is the rest of the mask.
struct TMaskLayout {
    std::string Mask;
    bool DateTime = false;
    std::string Shown;  // the text positions: '#' a digit position, else the literal
    bool IsDigit(size_t i) const { return i < Shown.size() && Shown[i] == '#'; }
    std::string EmptyText() const;
};
TMaskLayout LayoutOf(const std::string& mask);
// The text completed to the mask's length: a missing digit position shows "_".
std::string CompleteToMask(const TMaskLayout& layout, const std::string& text);

enum TMaskOn { moNone, moRevision, moRevisionSpec, moRevisionSys, moSystem };
// The text of a date or time mask revised on entry (`onEnter`) or on exit (`onExit`); masks
// outside the known list come back unchanged.
std::string ReviseMaskText(const std::string& mask, const std::string& text, TMaskOn onEnter, TMaskOn onExit,
                           const TClock& now);

enum TMaskKey { mkChar, mkBackspace, mkDelete };
struct TMaskEdit {
    std::string Text;
    int Caret = 0;
};
// One key on a masked text; `selStart`/`selLength` are the selection.
TMaskEdit EditMasked(const TMaskLayout& layout, const std::string& text, int selStart, int selLength, TMaskKey key,
                     char ch = 0);

// The message of an empty required field.
inline const char* const RequiredMessage = "Zadání položky je povinné !";

}  // namespace vedit
