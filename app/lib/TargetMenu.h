// Where a request's archive goes or comes from: the target menu of drives, network targets and
// FTP servers, the target folder that a choice gives, and the FTP entries of the run.
#pragma once

#include "app/lib/DefinitionFile.h"
#include "app/lib/FtpEntries.h"
#include "app/lib/RequestState.h"
#include "platform/win/FileTypes.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The FTP servers of a run, one table for every transfer: entries 0-2 are the target menu's
// (0 the maker's server, 1 the server of the request's "[...]" part), and an upload with transfer
// code c uses entry c - 10 (15-17: entries 5-7, the manual upload 19: entry 9).
inline constexpr const char* MakerFtpName = "Vimo software";

// The "[name]details" part of a network-target text: the name inside the brackets, the details the
// rest of the text once the brackets and the network blocks are cut out. Nothing without "[...]".
std::optional<TFtpEntry> SquareBracketServer(std::string_view networkText);

// Entries 0 and 1 as the request offers them (byte 308 and the "[...]" part of command 2).
void TakeRequestFtpEntries(const TRequestState& request, TFtpEntries& ftp);

// The run state of the dispatcher and the target menu.
struct TTargetState {
    std::string Letter;  // "A".."Z", "0".."9" (FTP entry), "91".."93", "+"
    int SetNumber = 0;
    std::string TargetFolder;
    std::string NetworkPath;  // "(" + label + ") " + path of a chosen network target
    bool RestorePath = false;
    bool ManualFtp = false;
    UINT DriveType = 0;
    std::string RememberedLetter = " ";
    int LastTargetMenuIndex = -1;
    int LastFirstMenuChoice = -1;
    TFtpEntries Ftp;
    std::vector<std::string> FileList;  // what lstFileSpec shows for a backup set
};

// Drive types of the letters, so that tests can give a drive table of their own.
using TDriveTypeOf = std::function<UINT(char letter)>;
UINT HostDriveType(char letter);  // GetLogicalDrives and GetDriveTypeA of the platform

struct TTargetMenu {
    std::string Text;     // the menu text in the grammar of the menu form
    std::string Options;  // #1 #2 #5 #13 #14 #12 + the pre-selected index
    int PreselectIndex = -1;
    std::vector<std::string> ReturnValues;  // per item, in order
};

// The target menu for title "archivace"/"obnova" and the default letter (the data folder's drive).
// Fills the maker's and the "[...]" FTP entries it offers, and remembers the default letter when
// none is remembered yet.
TTargetMenu BuildTargetMenuText(char defaultLetter, const TRequestState& request, TTargetState& target,
                                const TDriveTypeOf& driveType);

// "disk X:  ... " or "FTP server: <name>: ... ".
std::string TargetStatusText(const std::string& letter, const TFtpEntries& ftp);

bool IsFtpLetter(std::string_view letter);                        // one digit: an FTP entry
std::optional<int> NetworkTargetNumber(std::string_view letter);  // "91".."93" -> 1..3

// Target folder, network path, archive base name and backup file list for a chosen target.
// menuFile is the loaded menu file (for the "Seznam" section of backup sets), when there is one.
// True when the menu file lists the backup set (the file list and base name then come from it).
bool BuildTargetPath(int setNumber, std::string letter, TRequestState& request, TTargetState& target,
                     const TDriveTypeOf& driveType, const TMenuFile* menuFile);

// Mode 7 names its target by the whole network-target text: an FTP entry by its digit or its
// name gives that digit; anything else names no target.
std::optional<std::string> FtpLetterOfText(std::string_view text, const TFtpEntries& ftp);

// The FTP entry an upload code ("100".."102", "105".."107", "19") or a download letter uses; nothing
// for a code outside the protocol.
std::optional<int> UploadEntry(std::string_view code);
int UploadTransferCode(int entry);  // entry + 10
