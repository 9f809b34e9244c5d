// What a folder's stamp said when we last looked, and whether a change since is only our own.
#pragma once

#include <ctime>
#include <sys/stat.h>

namespace win {

// A kernel stamps a change no later than the clock reads once the call has returned: a stamp
// after the one we took but not after our last change comes from our own changes; a later one,
// or another inode, is someone else's.
struct TFolderStamp {
    dev_t Dev = 0;
    ino_t Ino = 0;
    timespec MTime{};
    timespec OwnChangesUntil{};  // the clock just after our last change of the folder

    void Take(const struct stat& St)
    {
        Dev = St.st_dev;
        Ino = St.st_ino;
        MTime = St.st_mtim;
        OwnChangesUntil = {};
    }
    void NoteOwnChange() { clock_gettime(CLOCK_REALTIME, &OwnChangesUntil); }

    // True when St shows the folder as we know it, or changed by us alone (then taken as known).
    bool Current(const struct stat& St)
    {
        if (Dev != St.st_dev || Ino != St.st_ino)
            return false;
        if (!Before(MTime, St.st_mtim))
            return !Before(St.st_mtim, MTime);
        if (Before(OwnChangesUntil, St.st_mtim))
            return false;
        MTime = St.st_mtim;
        return true;
    }

private:
    static bool Before(const timespec& a, const timespec& b)
    {
        return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
    }
};

}  // namespace win
