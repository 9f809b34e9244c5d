// The state of one run: what the accepted request set, the flags derived from its mode value,
// and the values read from its definition file.
#pragma once

#include "app/lib/DefinitionFile.h"
#include "platform/win/WinTypes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// A network target of command 2: the text "{n(label)path n}".
struct TNetworkTarget {
    std::string Label;
    std::string Path;
};

struct TNetworkTargets {
    std::array<TNetworkTarget, 3> Targets;  // blocks 1, 2, 3; empty when absent
    std::string Text;                       // the whole text; the target menu reads its [...] part
};

// Blocks "{n" ... "n}" for n = 1..3: the first "(...)" is the label, the rest without the markers
// the path.
TNetworkTargets ParseNetworkTargets(std::string_view text);

// Which workflow flags a mode value sets (compared as exact values, so 14.5 sets nothing).
struct TModeValueFlags {
    bool BackupSide = false;
    bool Automatic = false;
    bool Ftp = false;
    bool DeferredDispatch = false;
    bool ReadDefinitionFile = false;
};
TModeValueFlags FlagsForModeValue(double modeValue);

// The menu lookup key of a mode value: its integer part (10 for 10.7); nothing for a value that
// has none (NaN, out of range), which then matches no menu line.
std::optional<int> ModeValueNumber(double modeValue);

// " archivace", " obnova", ...; " " for a mode without a name.
std::string ModeName(std::int32_t mode);
// " TORVO " + version + mode name, with the suffix " - " + company name.
std::string ModeCaption(std::string_view fileVersion, std::int32_t mode, bool withSuffix, std::string_view companyName);

struct TRequestState {
    std::int32_t Mode = -1;
    double ModeValue = -1;
    std::string DataFolder = "C:\\Vimo\\10001\\03\\";
    std::string DefinitionFileName = "archivace.dta";
    std::string ArchiveBaseName = "zkouska";
    std::string ArchiveExtension = ".ZIP";
    int PayslipGroupSize = 50;

    bool BackupSide = true;
    bool Automatic = false;
    bool Ftp = false;
    bool FtpTarget = false;
    bool PayslipRequest = false;
    bool DeferredDispatchPending = false;
    bool IgnoreFurtherRequests = false;
    bool AutomaticRunFinished = false;
    bool Finished = false;  // the finish routine ran: the reply is out, the loop ends

    HWND ReplyWindow = 0;
    bool FtpEntry = false;  // command 2: offer the maker's FTP server
    bool HasNetworkText = false;
    TNetworkTargets Network;
    TDefinitionValues Definition;
    std::string MenuSection;  // the section that the "Menu" line of the mode value names

    // Commands 101 and 102: where the fetched archive lies and where it is restored from.
    std::string ArchiveFolder;
    std::string ArchiveName;
    std::string TargetFolder;
};
