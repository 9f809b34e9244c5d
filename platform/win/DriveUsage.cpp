#include "platform/win/Drives.h"
#include "platform/win/FolderStamp.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>

namespace fs = std::filesystem;

namespace win {
namespace {

// What a capacity-limited drive holds, as last measured plus the growth granted since.
//
// Walking the drive for every write made filling it quadratic. Our own growth is counted; our own
// shrinking is not, so the figure never reads lower than the truth through us, and a no is only
// given after a fresh walk. Someone else's change is seen through the stamp of the drive's folder
// (a disk swapped in the drive empties it); one inside a subfolder, or just before a change of ours
// in that folder, waits for the next walk: asking for the free space walks, and so does every
// answer after as many answers as the drive held files.
struct DriveUse {
    TFolderStamp stamp;
    std::uint64_t used = 0;
    std::uint64_t answersLeft = 0;
};

constexpr std::uint64_t kMinAnswersBetweenWalks = 64;

// Symbolic links are not followed.
std::uint64_t SumRegularFiles(const std::string& folder, std::uint64_t& files)
{
    std::uint64_t bytes = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            bytes += static_cast<std::uint64_t>(st.st_size);
            ++files;
        }
    }
    return bytes;
}

class DriveUseCache {
public:
    std::uint64_t Measure(const std::string& root)
    {
        struct stat st {};
        if (lstat(root.c_str(), &st) != 0)
            st = {};
        std::lock_guard guard(lock_);
        DriveUse& use = drives_[root];
        Walk(root, st, use);
        active_ = true;
        return use.used;
    }

    bool Grant(const DriveEntry& drive, std::uint64_t growth)
    {
        struct stat st {};
        if (lstat(drive.root.c_str(), &st) != 0)
            st = {};
        std::lock_guard guard(lock_);
        active_ = true;
        DriveUse& use = drives_[drive.root];
        bool walked = false;
        if (use.answersLeft == 0 || !use.stamp.Current(st)) {
            Walk(drive.root, st, use);
            walked = true;
        }
        if (!Fits(use.used, growth, drive.capacity) && !walked)
            Walk(drive.root, st, use);
        if (!Fits(use.used, growth, drive.capacity))
            return false;
        use.used += growth;
        --use.answersLeft;
        return true;
    }

    unsigned long Walks()
    {
        std::lock_guard guard(lock_);
        return walks_;
    }

    void NoteOwnChange(const std::string& folder)
    {
        if (!active_.load(std::memory_order_relaxed))
            return;
        std::lock_guard guard(lock_);
        const auto it = drives_.find(folder);
        if (it != drives_.end())
            it->second.stamp.NoteOwnChange();
    }

private:
    static bool Fits(std::uint64_t used, std::uint64_t growth, std::uint64_t capacity)
    {
        return used <= capacity && growth <= capacity - used;
    }

    // The stamp was taken before the walk, so a change during it makes the next answer walk again.
    void Walk(const std::string& root, const struct stat& st, DriveUse& use)
    {
        ++walks_;
        std::uint64_t files = 0;
        use.used = SumRegularFiles(root, files);
        use.stamp.Take(st);
        use.answersLeft = std::max(files, kMinAnswersBetweenWalks);
    }

    std::mutex lock_;
    std::unordered_map<std::string, DriveUse> drives_;
    std::atomic<bool> active_{false};
    unsigned long walks_ = 0;
};

// Process-wide, like the writes it counts.
DriveUseCache& Cache()
{
    static DriveUseCache cache;
    return cache;
}

}  // namespace

std::uint64_t MeasureDriveUse(const DriveEntry& drive)
{
    return Cache().Measure(drive.root);
}

bool HasRoomFor(const std::string& hostPath, std::uint64_t growth)
{
    if (growth == 0)
        return true;
    const auto drive = LimitedDriveOf(hostPath);
    return !drive || Cache().Grant(*drive, growth);
}

bool HasRoomOn(const DriveEntry& drive, std::uint64_t growth)
{
    return growth == 0 || Cache().Grant(drive, growth);
}

void NoteDriveFolderChanged(const std::string& hostFolder)
{
    Cache().NoteOwnChange(hostFolder);
}

unsigned long DriveWalkCount()
{
    return Cache().Walks();
}

}  // namespace win
