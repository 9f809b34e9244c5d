#include "platform/win/FolderNames.h"

#include "platform/win/Drives.h"
#include "platform/win/FolderStamp.h"
#include "platform/win/Utf8.h"

#include <dirent.h>
#include <mutex>
#include <unordered_map>

namespace win {
namespace {

struct Listing {
    TFolderStamp stamp;
    std::unordered_map<std::string, std::string> byFolded;  // first name read wins, as a scan would
};

constexpr std::size_t kMaxFolders = 64;
constexpr std::size_t kMaxNames = 1 << 20;

class FolderNameCache {
public:
    std::string Find(const std::string& dir, const struct stat& st, const std::string& name)
    {
        std::lock_guard guard(lock_);
        auto it = folders_.find(dir);
        if (it == folders_.end() || !it->second.stamp.Current(st)) {
            Listing listing;
            if (!Read(dir, st, listing))
                return {};
            if (listing.byFolded.size() > kMaxNames)
                return Lookup(listing, name);
            if (folders_.size() >= kMaxFolders)
                folders_.clear();
            it = folders_.insert_or_assign(dir, std::move(listing)).first;
        }
        return Lookup(it->second, name);
    }

    // No call to the host: the folder's new stamp is taken at the next lookup, which stats the
    // folder anyway, so that a file made costs no extra call here.
    enum class Change { Added, Removed, Unnamed };

    void Note(const std::string& hostPath, Change change)
    {
        const std::size_t slash = hostPath.rfind('/');
        if (slash == std::string::npos)
            return;
        const std::string dir = slash == 0 ? "/" : hostPath.substr(0, slash);
        const std::string name = hostPath.substr(slash + 1);
        NoteDriveFolderChanged(dir);
        std::lock_guard guard(lock_);
        const auto it = folders_.find(dir);
        if (it == folders_.end())
            return;
        Listing& listing = it->second;
        if (change == Change::Added) {
            listing.byFolded.emplace(FoldCase(name), name);
        } else if (change == Change::Removed) {
            const auto named = listing.byFolded.find(FoldCase(name));
            if (named != listing.byFolded.end() && named->second == name)
                listing.byFolded.erase(named);
        }
        listing.stamp.NoteOwnChange();
    }

    unsigned long Reads()
    {
        std::lock_guard guard(lock_);
        return reads_;
    }

private:
    static std::string Lookup(const Listing& listing, const std::string& name)
    {
        const auto it = listing.byFolded.find(FoldCase(name));
        return it == listing.byFolded.end() ? std::string() : it->second;
    }

    // The stat was taken before the read, so a change during the read makes the next lookup read
    // again.
    bool Read(const std::string& dir, const struct stat& st, Listing& listing)
    {
        DIR* d = opendir(dir.c_str());
        if (!d)
            return false;
        ++reads_;
        listing.stamp.Take(st);
        while (const dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                listing.byFolded.emplace(FoldCase(name), name);
        }
        closedir(d);
        return true;
    }

    std::mutex lock_;
    std::unordered_map<std::string, Listing> folders_;
    unsigned long reads_ = 0;
};

// Process-wide: the folders are the process's view of the host, shared by every component.
FolderNameCache& Cache()
{
    static FolderNameCache cache;
    return cache;
}

}  // namespace

std::string FindNameIgnoringCase(const std::string& dir, const struct stat& dirStat, const std::string& name)
{
    return Cache().Find(dir, dirStat, name);
}

void NoteNameAdded(const std::string& hostPath)
{
    Cache().Note(hostPath, FolderNameCache::Change::Added);
}

void NoteNameRemoved(const std::string& hostPath)
{
    Cache().Note(hostPath, FolderNameCache::Change::Removed);
}

void NoteFolderChanged(const std::string& hostPath)
{
    Cache().Note(hostPath, FolderNameCache::Change::Unnamed);
}

unsigned long FolderReadCount()
{
    return Cache().Reads();
}

}  // namespace win
