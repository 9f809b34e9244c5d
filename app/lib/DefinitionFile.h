// The caller's definition file and the menu file: Windows-1250 text, read whole into lines.
//
// The readers here work on the file's bytes; loading the files and showing their messages is the
// caller's part, so that a missing file or line can be answered by a message box or a test alike.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The values a definition file may set, in UTF-8.
struct TDefinitionValues {
    std::string MenuArchiv;          // [MENUARCHIV]
    std::string PathArchivDrv;       // [PATHARCHIVDRV]
    std::string PathArchivOtherDrv;  // [PATHARCHIVOTHERDRV]
    std::string PathArchivFtp;       // [PATHARCHIVFTP]
    std::string PathArchivOther;     // [PATHARCHIVOTHER]
    std::string PathArchiv;          // [PATHARCHIV]
    std::string PathArchivAce;       // [PATHARCHIVACE]
    std::string PathArchivByHand;    // [PATHARCHIVBYHAND]
    std::string PathObnova;          // [PATHOBNOVA]
    std::string Comment1;            // [COMMENT1]
    std::string NoteLicence;         // [NOTELICENCE]
    std::string NoteOtherLicence;    // [NOTEOTHERLICENCE]
    std::string NoteProgram;         // [NOTEPROGRAM]
    std::string NoteFirma;           // [NOTEFIRMA]
    std::string NoteRok;             // [NOTEROK]
    bool Close = false;              // [CLOSE]: the value contains "YES" in any case
};

// Lines of a text ended by CR LF, LF or CR; a last line without an end still counts.
std::vector<std::string> SplitTextLines(std::string_view text);

// Replaces every value by what the file's bytes say: all values are cleared first, a later
// non-empty value of a key wins, an empty value leaves the earlier one.
void ParseDefinitionText(std::string_view fileBytes, TDefinitionValues& values);

// The menu file, decoded to UTF-8 lines.
class TMenuFile {
public:
    TMenuFile() = default;
    explicit TMenuFile(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    static TMenuFile FromBytes(std::string_view fileBytes);

    // The body lines of a section (header "[name]..." matched case-insensitively), empty lines
    // left out; nothing when the section is missing.
    std::optional<std::vector<std::string>> SectionLines(std::string_view section) const;
    // The rest of the section's header line after its first "]".
    std::string SectionTitle(std::string_view section) const;

    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::optional<std::size_t> FindSectionHeader(std::string_view section) const;
    std::vector<std::string> lines_;
};

// The first line of the section whose braced part is the integer n, with that part cut out.
// A braced part that is not an integer does not match. Empty when nothing matches.
std::string ScanMenuSection(const TMenuFile& file, std::string_view section, int n);

struct TMenuSection {
    bool Found = false;  // the menu text is non-empty
    std::string Title;
    std::string MenuText;
    int ItemIndex = -1;  // position of the item that returns the looked-for value, -1 when none
};

// A menu section's title and text ("/" lines are comments). With value != -1 also the position
// of the first "|" item (check boxes "|°" not counted) whose return value after "‡" is value.
TMenuSection ReadMenuSection(const TMenuFile& file, std::string_view section, int value = -1);

// The texts of the menu lookup's message boxes (caption "Chyba").
inline constexpr const char* MenuErrorCaption = "Chyba";
std::string MenuFileNotFoundText(std::string_view fileName);
std::string MenuLineNotFoundText(std::string_view fileName, std::string_view section, int n);

// Definition and menu files are a few kilobytes; anything larger, or no regular file (a device,
// a FIFO, a link to one), is refused unread, so that a wrong name cannot stall or swamp the run.
constexpr std::size_t MaxSettingsFileSize = 1 << 20;
enum class TSettingsFileRead { Read, Missing, NotAFile, TooLarge, Unreadable };
TSettingsFileRead ReadSettingsFile(const std::string& fileName, std::string& bytes);
// Why a file was refused, for a message ("" when it was read or is missing).
std::string SettingsFileRefusedText(std::string_view fileName, TSettingsFileRead why);

// From disk (Windows paths). A missing definition file leaves the values as they were, and so does
// a refused one (why in `refused`, when given).
bool ReadDefinitionFile(const std::string& dataFolder, const std::string& fileName, TDefinitionValues& values,
                        std::string* refused = nullptr);
// Nothing when the menu file cannot be read (why in `refused`, when it is there but refused).
std::optional<TMenuFile> LoadMenuFile(const std::string& fileName, std::string* refused = nullptr);

// The "Menu" lookup of a request: the line for n, or empty. With reportErrors, a missing file or
// line is told through `report` with the texts above.
std::string FindMenuReturnValue(std::string_view section, int n, bool reportErrors, const std::string& menuFile,
                                const std::function<void(const std::string&)>& report);
