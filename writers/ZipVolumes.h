// Where a ZIP archive goes when it is laid out over several volumes: the files of a split set or
// the disks of a spanned one. The layout itself is TZipBase::CopyToVolumes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TStream32;
class TFileStream32;

// The finished temporary output a writer hands to its move step, open for reading: the file
// TempName (opened into Holder), or the memory stream itself. Null when the file cannot be opened.
TStream32* OpenFinishedOutput(TStream32* Stream, const std::string& TempName, std::unique_ptr<TFileStream32>& Holder);

class TZipVolumeSink {
public:
    virtual ~TZipVolumeSink() = default;

    virtual std::uint32_t Volume() const = 0;    // 0-based number of the volume being written
    virtual std::int64_t Position() const = 0;   // in that volume
    virtual std::int64_t Room() const = 0;       // bytes the volume still takes
    virtual std::int64_t FreshRoom() const = 0;  // bytes a new volume would take
    // Count is at most Room(); false after a report.
    virtual bool WriteHere(const void* Data, std::int64_t Count) = 0;
    // Closes the volume and starts the next; false after a report or a cancel.
    virtual bool NextVolume() = 0;
    // False for a sink that only counts where the bytes would go: the entries' data is not read
    // for it, and WriteHere gets no data.
    virtual bool TakesData() const { return true; }

    // Writes Count bytes, going on on the next volumes as each fills.
    bool WriteAcross(const void* Data, std::int64_t Count);
    // Starts a new volume unless Count bytes fit on this one (or would not fit on a new one either),
    // so that a record is never cut in two when it need not be.
    bool KeepTogether(std::int64_t Count);
};
