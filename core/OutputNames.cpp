#include "core/OutputNames.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Calls Test on each part of Name between Separators (empty parts included) with whether it is
// the last; true as soon as a call is.
template <class TTest>
bool AnyPart(std::string_view Name, std::string_view Separators, TTest&& Test)
{
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(Name.find_first_of(Separators, start), Name.size());
        if (Test(Name.substr(start, end - start), end == Name.size()))
            return true;
        if (end == Name.size())
            return false;
        start = end + 1;
    }
}

// Windows drops trailing dots and blanks from a component, so ". ." and "..." resolve like "..".
bool IsParentLike(std::string_view Part)
{
    int dots = 0;
    for (char c : Part) {
        if (c == '.')
            ++dots;
        else if (c != ' ')
            return false;
    }
    return dots >= 2;
}

// "/x", "\x", "\\server\share", "//?/x", "C:\x", "C:": a leading separator, or a drive's path. In
// "a:b.txt" or "dev:x" (names made where ":" is a mere character) the colon becomes "_" like any
// colon that stays, in every format alike.
bool IsRooted(std::string_view Name)
{
    if (Name.empty())
        return false;
    if (IsSeparator(Name[0]))
        return true;
    return Name.size() >= 2 && Name[1] == ':' && std::isalpha(static_cast<unsigned char>(Name[0])) &&
           (Name.size() == 2 || IsSeparator(Name[2]));
}

bool HasParentPart(std::string_view Name)
{
    return AnyPart(Name, "/\\", [](std::string_view Part, bool) { return IsParentLike(Part); });
}

// The name (backslashes only) from Start split into folder components: "." is dropped and ".."
// climbs. False when the name would climb above its root.
bool ContainedComponents(const std::string& Name, std::size_t Start, std::vector<std::string>& Parts)
{
    Parts.clear();
    const bool climbs = AnyPart(std::string_view(Name).substr(Start), "\\", [&Parts](std::string_view Part, bool) {
        if (Part == "..") {
            if (Parts.empty())
                return true;
            Parts.pop_back();
        } else if (Part.find_first_not_of(". ") != std::string_view::npos) {
            Parts.emplace_back(Part);
        } else if (!Part.empty() && Part != ".") {
            return true;  // "..." or ". ." read as ".." where trailing dots and blanks are dropped
        }
        return false;
    });
    return !climbs;
}

// Whether the host can never make Relative below a folder: a path or a single name too long.
// Refused before any lookup: a lookup costs the square of the depth, a TAR name has no length
// limit, and a name too long for the host would fail only after its whole data.
bool TooLongForHost(std::string_view Relative)
{
    if (Relative.size() >= PATH_MAX)
        return true;
    return AnyPart(Relative, "\\", [](std::string_view Part, bool Last) {
        // The last name loses its trailing dots and blanks on the way to the host.
        std::size_t length = Part.size();
        while (Last && length > 0 && (Part[length - 1] == '.' || Part[length - 1] == ' '))
            --length;
        return length > NAME_MAX;
    });
}

}  // namespace

bool AppendPlainOutputName(std::string_view Stored, bool Folders, std::string& Out)
{
    // Every part non-empty and ending in neither a dot nor a blank: no root, no "." or "..", nothing
    // the host trims; no colon (drive, device, stream). Such a name is its own answer under every
    // rule, its separators made backslashes. Checked as it is copied, in one pass.
    if (Stored.empty() || Stored.size() >= PATH_MAX)
        return false;
    const std::size_t from = Out.size();
    Out.append(Stored);
    char* const name = Out.data() + from;
    const std::size_t size = Stored.size();
    std::size_t partStart = 0;
    const auto partEnds = [&](std::size_t end) {
        return end > partStart && end - partStart <= NAME_MAX && name[end - 1] != '.' && name[end - 1] != ' ';
    };
    for (std::size_t i = 0; i < size; ++i) {
        const char c = name[i];
        if (c != '/' && c != '\\' && c != ':')
            continue;
        if (c == ':' || !partEnds(i)) {
            Out.resize(from);
            return false;
        }
        name[i] = '\\';
        partStart = i + 1;
    }
    if (!partEnds(size)) {
        Out.resize(from);
        return false;
    }
    if (!Folders)
        Out.erase(from, partStart);
    return true;
}

TOutputName DecideOutputName(std::string_view Stored, const TStoredNameRules& Rules, bool Folders)
{
    TOutputName out;
    out.Allowed = AppendPlainOutputName(Stored, Folders, out.Relative);
    return out.Allowed ? out : DecideOutputNameInFull(Stored, Rules, Folders);
}

TOutputName DecideOutputNameInFull(std::string_view Stored, const TStoredNameRules& Rules, bool Folders)
{
    std::string name(Stored);
    std::replace(name.begin(), name.end(), '/', '\\');
    std::size_t start = 0;
    switch (Rules.Rooted) {
    case TRootedNames::Refused:
        if (IsRooted(name))
            return {};
        break;
    case TRootedNames::RootDropped:
        start = name.find_first_not_of('\\');
        if (start == std::string::npos || IsRooted(std::string_view(name).substr(start)))
            return {};
        break;
    case TRootedNames::BelowFolder:
        // Only "C:\x" is a drive's path; in "a:b.txt" (a name made where ":" is a mere character)
        // the colon stays part of the name, or the rest would land in another member's file.
        if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])) &&
            (name.size() == 2 || name[2] == '\\'))
            start = 2;
        while (start < name.size() && name[start] == '\\')
            ++start;
        break;
    }
    if (!Rules.ParentsResolved && HasParentPart(std::string_view(name).substr(start)))
        return {};
    std::vector<std::string> parts;
    if (!ContainedComponents(name, start, parts))
        return {};
    TOutputName out;
    if (parts.empty()) {
        out.FolderItself = out.Allowed = !Stored.empty() && IsSeparator(Stored.back());
        return out;
    }
    if (Folders)
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            // A folder loses its trailing dots and blanks as the file's name does ("d../x" is
            // "d\x"): the folder is made by that rule, so a name kept whole would not be found.
            const std::size_t end = parts[i].find_last_not_of(". ");
            out.Relative += parts[i].substr(0, end + 1) + "\\";
        }
    out.Relative += parts.back();
    // A ":" left in a name would name a drive or a stream on Windows.
    std::replace(out.Relative.begin(), out.Relative.end(), ':', '_');
    out.Allowed = !TooLongForHost(out.Relative);
    if (!out.Allowed)
        out.Relative.clear();
    return out;
}

std::string_view NameAsRead(std::string_view Stored, const TStoredNameRules& Rules)
{
    if (Rules.Rooted != TRootedNames::RootDropped)
        return Stored;
    return Stored.substr(std::min(Stored.find_first_not_of("/\\"), Stored.size()));
}

bool NameLeavesTarget(std::string_view Name)
{
    return IsRooted(Name) || HasParentPart(Name);
}

bool HostNameClimbs(std::string_view Chosen)
{
    return AnyPart(Chosen, "/\\", [](std::string_view Part, bool) { return Part == ".."; });
}

std::string NameRefusalReason(std::string_view Target)
{
    // The drive ("C:") is the only place a colon may stand.
    const std::size_t from = Target.size() >= 2 && Target[1] == ':' ? 2 : 0;
    for (std::size_t i = from; i < Target.size(); ++i) {
        const auto c = static_cast<unsigned char>(Target[i]);
        if (c < 0x20)
            return "a control character is not allowed in a file name";
        if (std::strchr(":*?\"<>|", c) != nullptr)
            return std::string("the character ") + char(c) + " is not allowed in a file name";
    }
    return {};
}

namespace {

// The target's hash above, the name's below: one sorted run of values finds a target's claims.
constexpr std::uint64_t kNameBits = 0xFFFFF;

std::uint64_t ClaimKey(std::string_view HostTarget, std::string_view Stored)
{
    return (std::hash<std::string_view>{}(HostTarget) & ~kNameBits) | (std::hash<std::string_view>{}(Stored) & kNameBits);
}

}  // namespace

void TClaimedTargets::Claim(std::string_view HostTarget, std::string_view Stored)
{
    FRecent.push_back(ClaimKey(HostTarget, Stored));
}

bool TClaimedTargets::ClaimedByOther(std::string_view HostTarget, std::string_view Stored)
{
    const std::uint64_t key = ClaimKey(HostTarget, Stored);
    const auto other = [key](std::uint64_t v) { return (v & ~kNameBits) == (key & ~kNameBits) && v != key; };
    // Fold the recent claims in only now and then: a run over a full folder asks for every file.
    if (FRecent.size() > 1024) {
        std::sort(FRecent.begin(), FRecent.end());
        const auto middle = FSorted.insert(FSorted.end(), FRecent.begin(), FRecent.end());
        std::inplace_merge(FSorted.begin(), middle, FSorted.end());
        FRecent.clear();
    }
    for (auto it = std::lower_bound(FSorted.begin(), FSorted.end(), key & ~kNameBits);
         it != FSorted.end() && (*it & ~kNameBits) == (key & ~kNameBits); ++it)
        if (other(*it))
            return true;
    return std::any_of(FRecent.begin(), FRecent.end(), other);
}

void TClaimedTargets::Clear()
{
    FSorted = {};
    FRecent = {};
}

THostTarget WalkHostTarget(std::string HostBase, const std::string& HostTarget, const win::HostPathState& Known)
{
    // Walk the host path from the folder down: any link on the way could redirect the write
    // outside it, and a link at the target would be written through.
    while (HostBase.size() > 1 && HostBase.back() == '/')
        HostBase.pop_back();
    if (HostTarget.compare(0, HostBase.size(), HostBase) != 0 ||
        (HostTarget.size() > HostBase.size() && HostTarget[HostBase.size()] != '/'))
        return THostTarget::Outside;
    // What the mapping already saw of the last name needs no second look.
    const bool lastKnown = Known.known != win::HostPathState::Unknown;
    if (Known.known == win::HostPathState::Present && S_ISLNK(Known.st.st_mode))
        return THostTarget::ThroughLink;
    std::size_t end = lastKnown ? std::max(HostTarget.rfind('/'), HostBase.size()) : HostTarget.size();
    if (Known.known == win::HostPathState::Missing && Known.folderNoLink && end > HostBase.size())
        end = std::max(HostTarget.rfind('/', end - 1), HostBase.size());  // its folder, too
    std::size_t pos = HostBase.size();
    while (pos < end) {
        const std::size_t next = std::min(HostTarget.find('/', pos + 1), end);
        struct stat st {};
        if (lstat(HostTarget.substr(0, next).c_str(), &st) != 0)
            break;  // the rest does not exist yet
        if (S_ISLNK(st.st_mode))
            return THostTarget::ThroughLink;
        pos = next;
    }
    return THostTarget::Inside;
}
