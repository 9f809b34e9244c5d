#include "app/lib/TargetMenu.h"

#include "platform/win/Drives.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Utf8.h"

#include <algorithm>

namespace {

const std::string TagMark = "‡";

struct TMenuGroup {
    const char* Label;
    std::vector<std::pair<std::string, std::string>> Items;  // line, return value
};

std::string ItemLine(const std::string& caption, const std::string& value, const std::string& image)
{
    return "| " + caption + TagMark + value + "<" + value + ">" + "…" + image + "†";
}

bool StartsWithLetter(std::string_view text, char letter)
{
    return !text.empty() && win::UpperCase(text.substr(0, 1)) == std::string(1, letter);
}

char UpperFirst(std::string_view text)
{
    if (text.empty())
        return 0;
    const std::string upper = win::UpperCase(text.substr(0, 1));
    return upper.size() == 1 ? upper[0] : 0;
}

std::string RestorePathImage(UINT type, char letter)
{
    switch (type) {
    case DRIVE_REMOVABLE:
        return letter == 'A' || letter == 'B' ? "0" : "8";
    case DRIVE_RAMDISK:
        return "7";
    case DRIVE_CDROM:
        return "1";
    case DRIVE_FIXED:
        return "2";
    case DRIVE_REMOTE:
        return "3";
    default:
        return "9";
    }
}

}  // namespace

UINT HostDriveType(char letter)
{
    if (letter < 'A' || letter > 'Z' || !(GetLogicalDrives() & (1u << (letter - 'A'))))
        return DRIVE_NO_ROOT_DIR;
    const std::string root = std::string(1, letter) + ":/";
    return GetDriveTypeA(root.c_str());
}

std::optional<TFtpEntry> SquareBracketServer(std::string_view networkText)
{
    std::string rest(networkText);
    const std::size_t open = rest.find('[');
    const std::size_t close = open == std::string::npos ? open : rest.find(']', open + 1);
    if (close == std::string::npos)
        return std::nullopt;
    TFtpEntry entry;
    entry.Name = rest.substr(open + 1, close - open - 1);
    rest.erase(open, close - open + 1);
    for (char n = '1'; n <= '3'; ++n) {
        const std::size_t start = rest.find(std::string{'{', n});
        if (start == std::string::npos)
            continue;
        const std::size_t end = rest.find(std::string{n, '}'}, start + 2);
        rest.erase(start, end == std::string::npos ? std::string::npos : end + 2 - start);
    }
    entry.Details = win::Trim(rest);
    return entry;
}

void TakeRequestFtpEntries(const TRequestState& request, TFtpEntries& ftp)
{
    if (request.FtpEntry)
        ftp[0] = {MakerFtpName, ""};
    if (auto server = SquareBracketServer(request.Network.Text))
        ftp[1] = *server;
}

TTargetMenu BuildTargetMenuText(char defaultLetter, const TRequestState& request, TTargetState& target,
                                const TDriveTypeOf& driveType)
{
    TMenuGroup removable{"~disketová mechanika", {}}, cd{"~mechanika CD", {}}, local{"~místní disk", {}},
        remote{"~vzdálená jednotka", {}}, restore{"~Cesta automatické archivace:", {}},
        network{"~síťový disk s IP adresou", {}}, ftp{"~FTP server", {}};
    const std::string& note = request.Definition.NoteProgram;

    for (char x = 'A'; x <= 'Z'; ++x) {
        const std::string letter(1, x);
        const std::string s = x == defaultLetter && !note.empty() ? " ..." + note : "";
        const UINT type = driveType(x);
        TMenuGroup* group = nullptr;
        std::string line;
        switch (type) {
        case DRIVE_REMOVABLE:
            group = &removable;
            line = ItemLine("Výměnný disk (" + letter + "):", letter, x == 'A' || x == 'B' ? "0" : "8");
            break;
        case DRIVE_CDROM:
            group = &cd;
            line = ItemLine("Disk CD (" + letter + "): ", letter, "1");
            break;
        case DRIVE_FIXED:
            group = &local;
            line = ItemLine("Místní disk (" + letter + "):" + s, letter, "2");
            break;
        case DRIVE_REMOTE:
            group = &remote;
            line = ItemLine("Síťový disk (" + letter + "):" + s, letter, "3");
            break;
        default:
            continue;
        }
        group->Items.emplace_back(line, letter);
        if (x == defaultLetter && target.RememberedLetter == " ")
            target.RememberedLetter = letter;
    }

    for (int n = 1; n <= 3; ++n) {
        const TNetworkTarget& net = request.Network.Targets[n - 1];
        if (net.Label.empty())
            continue;
        const std::string value = "9" + std::to_string(n);
        network.Items.emplace_back(ItemLine("Síťový disk (" + net.Label + ") " + net.Path, value, "3"), value);
    }

    TakeRequestFtpEntries(request, target.Ftp);
    for (std::size_t n = 0; n < 2; ++n)
        if (!target.Ftp[n].Name.empty())
            ftp.Items.emplace_back(ItemLine("FTP:   " + target.Ftp[n].Name, std::to_string(n), "10"),
                                   std::to_string(n));

    const std::string& pathObnova = request.Definition.PathObnova;
    if (!pathObnova.empty()) {
        const char first = UpperFirst(pathObnova);
        restore.Items.emplace_back(ItemLine(pathObnova, "+", RestorePathImage(driveType(first), first)), "+");
    }

    TTargetMenu menu;
    for (const TMenuGroup* group : {&removable, &cd, &local, &remote, &restore, &network, &ftp}) {
        if (group->Items.empty())
            continue;
        menu.Text += group->Label;
        for (const auto& [line, value] : group->Items) {
            if (menu.PreselectIndex < 0 && value == target.RememberedLetter)
                menu.PreselectIndex = static_cast<int>(menu.ReturnValues.size());
            menu.Text += line;
            menu.ReturnValues.push_back(value);
        }
    }
    menu.Options = std::string("\x01\x02\x05\x0D\x0E\x0C") + std::to_string(menu.PreselectIndex);
    return menu;
}

std::string TargetStatusText(const std::string& letter, const TFtpEntries& ftp)
{
    if (IsFtpLetter(letter))
        return "FTP server: " + ftp[static_cast<std::size_t>(letter[0] - '0')].Name + ": ... ";
    return "disk " + letter + ":  ... ";
}

bool IsFtpLetter(std::string_view letter)
{
    return letter.size() == 1 && letter[0] >= '0' && letter[0] <= '9';
}

std::optional<int> NetworkTargetNumber(std::string_view letter)
{
    if (letter == "91" || letter == "92" || letter == "93")
        return letter[1] - '0';
    return std::nullopt;
}

std::optional<std::string> FtpLetterOfText(std::string_view text, const TFtpEntries& ftp)
{
    const std::string trimmed = win::Trim(text);
    for (std::size_t n = 0; n < 3; ++n) {
        if (ftp[n].Name.empty())
            continue;
        if (trimmed == std::to_string(n) || win::SameText(trimmed, ftp[n].Name))
            return std::to_string(n);
    }
    return std::nullopt;
}

std::optional<int> UploadEntry(std::string_view code)
{
    int value = 0;
    if (!win::TryStrToInt(code, value))
        return std::nullopt;
    if (value >= 100 && value <= 109)
        value -= 100;
    if (value == 17)
        value = 7;
    if (value == 19)
        value = 9;
    if (value < 0 || value >= FtpEntryCount)
        return std::nullopt;
    return value;
}

int UploadTransferCode(int entry)
{
    return entry + 10;
}

bool BuildTargetPath(int setNumber, std::string letter, TRequestState& request, TTargetState& target,
                     const TDriveTypeOf& driveType, const TMenuFile* menuFile)
{
    const TDefinitionValues& d = request.Definition;
    request.FtpTarget = false;
    const auto network = NetworkTargetNumber(letter);
    const bool driveLetter = letter.size() == 1 && letter[0] >= 'A' && letter[0] <= 'Z';
    target.DriveType = driveLetter ? driveType(letter[0]) : DRIVE_NO_ROOT_DIR;
    target.NetworkPath.clear();
    if (request.PayslipRequest) {
        target.Letter = letter;
        return false;  // the payslip work keeps its own folder list
    }

    std::string folder;
    if (IsFtpLetter(letter)) {
        request.FtpTarget = true;
        folder = d.PathArchivOther.empty() ? d.PathArchiv : d.PathArchivOther;
    } else if (driveLetter) {
        const char x = letter[0];
        switch (target.DriveType) {
        case DRIVE_REMOVABLE:
        case DRIVE_CDROM:
            folder = d.PathArchivOther.empty() ? d.PathArchivDrv : d.PathArchivOtherDrv;
            break;
        case DRIVE_FIXED:
        case DRIVE_REMOTE:
            if (!d.PathArchivOther.empty())
                folder = StartsWithLetter(d.PathArchivOther, x) ? d.PathArchivOther : d.PathArchivOtherDrv;
            else
                folder = StartsWithLetter(d.PathArchivAce, x) ? d.PathArchiv : d.PathArchivDrv;
            break;
        default:
            break;
        }
    }
    if (request.Mode == 14)
        folder = d.PathArchivByHand;
    if (target.RestorePath)
        folder = d.PathObnova;
    if (!request.FtpTarget && !network && driveLetter && !folder.empty())
        folder[0] = letter[0];
    if (network) {
        const TNetworkTarget& net = request.Network.Targets[*network - 1];
        target.NetworkPath = "(" + net.Label + ") " + net.Path;
        folder = d.PathArchivDrv;
        const std::size_t a = win::UpperCase(folder).find("A:\\");
        if (a != std::string::npos)
            folder.replace(a, 3, "*\\\\" + net.Label + "\\" + net.Path + "\\");
    }
    target.TargetFolder = folder;
    target.Letter = letter;

    if (menuFile == nullptr)
        return false;
    const auto sets = menuFile->SectionLines("Seznam");
    if (!sets)
        return false;
    for (const std::string& line : *sets) {
        std::string numberText, rest;
        const std::size_t open = line.find('{');
        const std::size_t close = open == std::string::npos ? open : line.find('}', open + 1);
        int number = 0;
        if (close == std::string::npos ||
            !win::TryStrToInt(win::Trim(line.substr(open + 1, close - open - 1)), number) || number != setNumber)
            continue;
        rest = line.substr(close + 1);
        const std::size_t tag = rest.find(TagMark);
        const std::string section = rest.substr(0, tag);
        std::string base = tag == std::string::npos ? std::string() : rest.substr(tag + TagMark.size());
        if (request.FtpTarget) {
            std::replace(base.begin(), base.end(), ' ', '_');
            base = "ftp_" + base;
        }
        request.ArchiveBaseName = base;
        target.FileList.clear();
        target.FileList.push_back(d.PathArchivAce);
        if (const auto files = menuFile->SectionLines(section)) {
            for (const std::string& fileLine : *files) {
                const std::size_t fileClose = fileLine.find('}');
                if (fileLine.empty() || fileLine[0] != '{' || fileClose == std::string::npos)
                    continue;
                const std::string fields = fileLine.substr(fileClose + 1);
                target.FileList.push_back(request.DataFolder + fields.substr(0, fields.find(TagMark)));
            }
        }
        std::sort(target.FileList.begin(), target.FileList.end(),
                  [](const std::string& a, const std::string& b) { return win::CompareText(a, b) < 0; });
        return true;
    }
    return false;
}
