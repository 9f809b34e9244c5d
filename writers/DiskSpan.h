// The disk spanning writer: a finished ZIP archive copied onto the disks of a removable drive,
// entry by entry, each disk asked for, checked and labelled "PKBACK# nnn".
#pragma once

#include "core/DiskManager.h"
#include "writers/ZipVolumes.h"

#include <cstdint>
#include <memory>
#include <string>

class TZipBase;
class TStream32;

class TSpanDiskWriter : public TDiskErrorEvents, public TZipVolumeSink {
public:
    TSpanDiskWriter(TZipBase& Owner, TDiskManager& Disks);
    ~TSpanDiskWriter() override;

    // The whole copy; true when every entry, the directory and the end record were written.
    bool WriteSpannedArchive(TStream32& Source);

    std::uint32_t Volume() const override { return std::uint32_t(FDiskNumber - 1); }
    std::int64_t Position() const override { return FPosition; }
    std::int64_t Room() const override { return FRoom; }
    std::int64_t FreshRoom() const override;
    bool WriteHere(const void* Data, std::int64_t Count) override;
    bool NextVolume() override;

    int DiskNumber() const { return FDiskNumber; }

private:
    bool FirstDisk();
    bool GetDisk();
    bool ExaminedDisk();
    bool ClearDisk();
    bool OpenDisk();
    bool WriteVolumeLabel();
    void CloseFile();
    bool Failed(int ECode, const std::string& Extended = {});

    TZipBase& FOwner;
    TDiskManager& FDisks;
    std::string FTarget;
    HANDLE FFile = INVALID_HANDLE_VALUE;
    int FDiskNumber = 0;
    std::int64_t FPosition = 0;
    std::int64_t FRoom = 0;
    std::int64_t FRequired = 0;
    std::uint32_t FLastSerial = 0;
    std::string FLastLabel;
};

// The label of spanned disk Number: "PKBACK# " and the number in three digits.
std::string SpanDiskLabel(int Number);
