// String routines of the application, over UTF-8 strings. Markers and separators are strings,
// so that characters outside ASCII ("‡", "¤") work as markers too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Every occurrence of `what` becomes `replacement`; an empty replacement deletes it.
void ReplaceChar(std::string& text, std::string_view what, std::string_view replacement = {});
// Case-sensitive; the search goes on after the inserted text, so a replacement holding `oldText`
// cannot loop.
void ReplaceAll(std::string& text, std::string_view oldText, std::string_view newText);
std::string PadLeft(std::string_view text, int length, char fill);

// Flag word: 0 "#,##0.00", 1 "#,##0.0", 2 "#,##0" (the integer text of mode values),
// 3 "###0.00", 4 "#,##0.000", 5 "#,##0.0000"; separators follow the program's settings.
std::string FormatNumber(double value, int flags);

// The integer after removing blanks and no-break blanks; 0 when the text is not a number. A number
// outside 32 bits raises win::EConvertError rather than passing for 0.
int StrToIntSafe(std::string_view text);

std::string CopyBetween(std::string_view text, std::string_view startMark, std::string_view endMark);
// The part between the first `open` and the first `close` after it. keepMode 0: without the
// brackets; cutMode 0: the part and its brackets are removed from text. False when not found.
bool ExtractBetween(std::string& text, std::string_view open, std::string_view close, std::string& part,
                    int keepMode = 0, int cutMode = 0);
// head := text before the first separator, text := what follows it; without a separator the whole
// text is the head and text stays.
void CutToken(std::string& text, std::string_view separator, std::string& head);
bool IsTrueFlag(std::string_view text);

// The body lines of section "[name]" (name compared without case) up to the next "[" line.
std::vector<std::string> IniSectionLines(const std::vector<std::string>& lines, std::string_view section);
// The same from a Windows-1250 text file; false when it cannot be read.
bool ReadIniSection(const std::string& fileName, std::string_view section, std::vector<std::string>& list);

std::string NbspToSpace(std::string_view text);
std::string DeleteSpaces(std::string_view text);
std::string RemoveLineBreaks(std::string_view text);
std::string CutAtTab(std::string_view text);
