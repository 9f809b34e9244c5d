#include "app/lib/DefinitionFile.h"

#include "platform/win/CodePage.h"
#include "platform/win/Paths.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Utf8.h"
#include "unit/U_FileUtils.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace {

struct TKeyField {
    const char* key;
    std::string TDefinitionValues::*field;
};

constexpr std::array<TKeyField, 15> KeyFields{{
    {"[MENUARCHIV]", &TDefinitionValues::MenuArchiv},
    {"[PATHARCHIVDRV]", &TDefinitionValues::PathArchivDrv},
    {"[PATHARCHIVOTHERDRV]", &TDefinitionValues::PathArchivOtherDrv},
    {"[PATHARCHIVFTP]", &TDefinitionValues::PathArchivFtp},
    {"[PATHARCHIVOTHER]", &TDefinitionValues::PathArchivOther},
    {"[PATHARCHIV]", &TDefinitionValues::PathArchiv},
    {"[PATHARCHIVACE]", &TDefinitionValues::PathArchivAce},
    {"[PATHARCHIVBYHAND]", &TDefinitionValues::PathArchivByHand},
    {"[PATHOBNOVA]", &TDefinitionValues::PathObnova},
    {"[COMMENT1]", &TDefinitionValues::Comment1},
    {"[NOTELICENCE]", &TDefinitionValues::NoteLicence},
    {"[NOTEOTHERLICENCE]", &TDefinitionValues::NoteOtherLicence},
    {"[NOTEPROGRAM]", &TDefinitionValues::NoteProgram},
    {"[NOTEFIRMA]", &TDefinitionValues::NoteFirma},
    {"[NOTEROK]", &TDefinitionValues::NoteRok},
}};

const std::string ItemTagMark = "‡";

// "[name]rest": the name between the first "[" and the first "]", and what follows.
std::optional<std::pair<std::string, std::string>> SplitHeader(std::string_view line)
{
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::make_pair(std::string(line.substr(1)), std::string());
    return std::make_pair(std::string(line.substr(1, close - 1)), std::string(line.substr(close + 1)));
}

// The integer between "<" and ">" after the first "‡" of an item line; nothing when absent.
std::optional<int> ItemReturnValue(std::string_view line)
{
    const std::size_t tag = line.find(ItemTagMark);
    if (tag == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = line.substr(tag + ItemTagMark.size());
    const std::size_t open = rest.find('<');
    const std::size_t close = open == std::string_view::npos ? open : rest.find('>', open + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    int value = 0;
    if (!win::TryStrToInt(win::Trim(rest.substr(open + 1, close - open - 1)), value))
        return std::nullopt;
    return value;
}

}  // namespace

std::vector<std::string> SplitTextLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

void ParseDefinitionText(std::string_view fileBytes, TDefinitionValues& values)
{
    values = TDefinitionValues{};
    std::string close;
    for (const std::string& line : SplitTextLines(win::AnsiToUtf8(fileBytes))) {
        const std::size_t open = line.find('[');
        const std::size_t end = line.find(']');
        if (open == std::string::npos || end == std::string::npos || end < open)
            continue;
        const std::string key = win::UpperCase(std::string_view(line).substr(open, end - open + 1));
        const std::string value = line.substr(end + 1);
        if (value.empty())
            continue;
        if (key == "[CLOSE]") {
            close = value;
            continue;
        }
        for (const TKeyField& entry : KeyFields)
            if (key == entry.key)
                values.*entry.field = value;
    }
    values.Close = win::UpperCase(close).find("YES") != std::string::npos;
}

TMenuFile TMenuFile::FromBytes(std::string_view fileBytes)
{
    return TMenuFile(SplitTextLines(win::AnsiToUtf8(fileBytes)));
}

std::optional<std::size_t> TMenuFile::FindSectionHeader(std::string_view section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto header = SplitHeader(lines_[i]);
        if (header && win::SameText(header->first, section))
            return i;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> TMenuFile::SectionLines(std::string_view section) const
{
    const auto header = FindSectionHeader(section);
    if (!header)
        return std::nullopt;
    std::vector<std::string> body;
    for (std::size_t i = *header + 1; i < lines_.size() && !lines_[i].starts_with('['); ++i)
        if (!lines_[i].empty())
            body.push_back(lines_[i]);
    return body;
}

std::string TMenuFile::SectionTitle(std::string_view section) const
{
    const auto header = FindSectionHeader(section);
    return header ? SplitHeader(lines_[*header])->second : std::string();
}

std::string ScanMenuSection(const TMenuFile& file, std::string_view section, int n)
{
    const auto body = file.SectionLines(section);
    if (!body)
        return {};
    for (const std::string& line : *body) {
        const std::size_t open = line.find('{');
        const std::size_t close = open == std::string::npos ? open : line.find('}', open + 1);
        if (close == std::string::npos)
            continue;
        int value = 0;
        if (!win::TryStrToInt(win::Trim(std::string_view(line).substr(open + 1, close - open - 1)), value))
            continue;
        if (value == n)
            return line.substr(0, open) + line.substr(close + 1);
    }
    return {};
}

TMenuSection ReadMenuSection(const TMenuFile& file, std::string_view section, int value)
{
    TMenuSection result;
    const auto body = file.SectionLines(section);
    if (!body)
        return result;
    result.Title = file.SectionTitle(section);
    int item = 0;
    for (const std::string& line : *body) {
        if (line.starts_with('/'))
            continue;
        result.MenuText += line;
        if (value == -1 || result.ItemIndex != -1)
            continue;
        std::string bare = line;
        std::erase(bare, '~');
        if (!bare.starts_with('|') || bare.compare(1, std::string("°").size(), "°") == 0)
            continue;
        if (ItemReturnValue(bare) == value)
            result.ItemIndex = item;
        ++item;
    }
    result.Found = !result.MenuText.empty();
    return result;
}

std::string MenuFileNotFoundText(std::string_view fileName)
{
    return "Nabídka: nemohu najít datový soubor: " + std::string(fileName);
}

std::string MenuLineNotFoundText(std::string_view fileName, std::string_view section, int n)
{
    return "Nabídka v souboru:  " + std::string(fileName) + "\r\r" + "v sekci:  [" + std::string(section) + "]" + "\r" +
           "nelze najít návratovou hodnotu:  " + win::IntToStr(n);
}

TSettingsFileRead ReadSettingsFile(const std::string& fileName, std::string& bytes)
{
    bytes.clear();
    std::string host;
    if (fileName.empty() || !win::ToHostPath(fileName, host))
        return TSettingsFileRead::Missing;
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? TSettingsFileRead::Missing : TSettingsFileRead::Unreadable;
    if (!S_ISREG(st.st_mode))
        return TSettingsFileRead::NotAFile;
    if (std::uint64_t(st.st_size) > MaxSettingsFileSize)
        return TSettingsFileRead::TooLarge;
    // Not blocking: the name may have been changed into a FIFO since.
    const int fd = ::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return TSettingsFileRead::Unreadable;
    TSettingsFileRead result = TSettingsFileRead::Read;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result = TSettingsFileRead::NotAFile;
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                result = TSettingsFileRead::Unreadable;
                break;
            }
            if (got == 0)
                break;
            bytes.append(buffer, std::size_t(got));
            if (bytes.size() > MaxSettingsFileSize) {  // grew while read
                result = TSettingsFileRead::TooLarge;
                break;
            }
        }
    }
    ::close(fd);
    if (result != TSettingsFileRead::Read)
        bytes.clear();
    return result;
}

std::string SettingsFileRefusedText(std::string_view fileName, TSettingsFileRead why)
{
    const char* reason = why == TSettingsFileRead::NotAFile     ? "není to obyčejný soubor"
                         : why == TSettingsFileRead::TooLarge   ? "je větší než 1 MB"
                         : why == TSettingsFileRead::Unreadable ? "nelze ho číst"
                                                                : nullptr;
    return reason ? "Soubor " + std::string(fileName) + " nelze použít: " + reason + "." : std::string();
}

bool ReadDefinitionFile(const std::string& dataFolder, const std::string& fileName, TDefinitionValues& values,
                        std::string* refused)
{
    std::string bytes;
    const TSettingsFileRead read = ReadSettingsFile(dataFolder + fileName, bytes);
    if (refused)
        *refused = SettingsFileRefusedText(dataFolder + fileName, read);
    if (read != TSettingsFileRead::Read)
        return false;
    ParseDefinitionText(bytes, values);
    return true;
}

std::optional<TMenuFile> LoadMenuFile(const std::string& fileName, std::string* refused)
{
    std::string bytes;
    const TSettingsFileRead read = ReadSettingsFile(fileName, bytes);
    if (refused)
        *refused = SettingsFileRefusedText(fileName, read);
    if (read != TSettingsFileRead::Read)
        return std::nullopt;
    return TMenuFile::FromBytes(bytes);
}

std::string FindMenuReturnValue(std::string_view section, int n, bool reportErrors, const std::string& menuFile,
                                const std::function<void(const std::string&)>& report)
{
    std::string refused;
    const auto file = LoadMenuFile(menuFile, &refused);
    if (!file) {
        if (reportErrors && report)
            report(refused.empty() ? MenuFileNotFoundText(menuFile) : refused);
        return {};
    }
    std::string line = ScanMenuSection(*file, section, n);
    if (line.empty() && reportErrors && report)
        report(MenuLineNotFoundText(menuFile, section, n));
    return line;
}
