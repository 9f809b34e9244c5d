// Whether, and where below the extraction folder, an entry may be written: the one decision for
// every extractor. A format says once what its stored names mean (TStoredNameRules) and hands
// every name over as stored; the extract driver applies these checks before anything is created.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/Paths.h"

// What a stored name that starts at a root ("/x", "\x", "C:\x", "\\server\share\x") means.
enum class TRootedNames : std::uint8_t {
    BelowFolder,  // drive, share and root prefixes go: the rest extracts below the folder
    RootDropped,  // leading separators go ("\dir\x" is "dir\x"); a drive or device refuses the name
    Refused,      // the name is refused whole
};

struct TStoredNameRules {
    TRootedNames Rooted = TRootedNames::BelowFolder;
    // When false, any ".." part refuses the name, even one that would stay inside ("a/../b"):
    // a name that climbs is no name to cut down to something harmless.
    bool ParentsResolved = true;
};

// For formats whose names are always relative: rooted names and ".." parts are refused whole.
inline constexpr TStoredNameRules kRelativeNamesOnly{TRootedNames::Refused, false};
// For formats whose writers often store full DOS paths ("\dir\file").
inline constexpr TStoredNameRules kDosFullPaths{TRootedNames::RootDropped, false};

struct TOutputName {
    bool Allowed = false;
    bool FolderItself = false;  // "./" (what `tar cf x.tar .` stores first) names the folder itself
    std::string Relative;       // "dir\file" below the folder, a ":" made "_"
};

// The verdict on a non-empty stored name ("/" and "\" both separate). Without Folders only the
// file part is kept. Also refused: nothing usable left, "..." or ". ." (Windows drops trailing dots
// and blanks, so they read as ".."), and a name too long for the host.
TOutputName DecideOutputName(std::string_view Stored, const TStoredNameRules& Rules, bool Folders);
// The same decision part by part, for every name; DecideOutputName answers plain names without it.
TOutputName DecideOutputNameInFull(std::string_view Stored, const TStoredNameRules& Rules, bool Folders);
// For a plain name (no root, drive or colon; every part non-empty, within the host's lengths and
// ending in neither a dot nor a blank, so nothing is dropped or trimmed): appends the Relative that
// DecideOutputName answers, allocating nothing more, and answers true. False, Out untouched, for
// any other name.
bool AppendPlainOutputName(std::string_view Stored, bool Folders, std::string& Out);

// The name as the format reads it (listings, tests, reports): without the root the rules drop.
std::string_view NameAsRead(std::string_view Stored, const TStoredNameRules& Rules);

// Whether a name joined to a folder could end up outside it by the strictest rules: rooted, a
// drive or device, or any ".." part (also "..." and dots followed by blanks).
bool NameLeavesTarget(std::string_view Name);

// Whether a name the host chose (in any folder it likes) climbs with "..".
bool HostNameClimbs(std::string_view Chosen);

// Why a target name cannot be made on the host, said for a person ("" when no rule of the name
// itself is broken): a character Windows names cannot hold, a control character.
std::string NameRefusalReason(std::string_view Target);

// The files one run writes and the member name that led to each. Two different names can lead to
// one file (a ":" made "_", trailing dots the host drops, a root dropped): the later one must fail,
// not merge into the earlier one's file. Kept as hashes, 8 bytes a file, looked up only for a
// target that exists already.
class TClaimedTargets {
public:
    void Claim(std::string_view HostTarget, std::string_view Stored);
    // Whether a member of another name claimed HostTarget in this run.
    bool ClaimedByOther(std::string_view HostTarget, std::string_view Stored);
    void Clear();

private:
    std::vector<std::uint64_t> FSorted, FRecent;
};

enum class THostTarget : std::uint8_t { Inside, Outside, ThroughLink };
// Where a host path leads from a folder: outside it, through a symbolic link already on its way
// (or at the target, which would be written through), or inside. Known is what the mapping
// already saw of the target's last name, so it is not looked up again.
THostTarget WalkHostTarget(std::string HostBase, const std::string& HostTarget, const win::HostPathState& Known);
