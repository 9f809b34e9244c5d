// What kind of archive a file is, and where the archive starts inside it: from its first bytes,
// from the stub lengths and string resources of self-extractors, from a tar checksum, from the
// ZIP end record, and from a scan for signatures. Detection reads only and never raises.
#pragma once

#include <cstdint>
#include <string>

#include "core/ZipRecords.h"
#include "core/plxConsts.h"

class TStream32;
class TZipCommon;

// Whether the bytes stand at the start of a file or inside an executable, where formats that
// cannot be self-extracting are refused.
enum class TDetectContext : std::uint8_t { PlainFile, Executable };

// The type the first four bytes at a candidate position stand for (Dword holds them little-endian,
// the first byte lowest). A ZIP record that opens a volume of a set (central header, spanning
// marker) answers atZipMV, which the caller settles by the drive. *FixedOffset receives the
// archive offset that a row implies, when it implies one.
TArcType ClassifyFirstDword(TDetectContext Context, std::uint32_t Dword, std::int64_t* FixedOffset = nullptr);

// False for atNA, atUnsupported, atFileOpenErr and atUnknown.
bool IsRealArcType(TArcType Type);

// Everything detection finds out about a file.
struct TArcTypeInfo {
    TArcType ArcType = atNA;
    std::int64_t ArchiveOffset = -1;  // -1 when no position is known
    std::int64_t ArchiveSize = 0;
    THeaderTypeState HeaderTypeState = 0;
    std::uint32_t StubSize = 0;  // bytes before a ZIP archive that its offsets do not count
    // The last ZIP end-record search; its records serve the readers.
    bool EndingSearched = false;
    std::int64_t EndingAnswer = -1;
    TZipEnding Ending;
    std::uint32_t ArchiveDosDate = 0x00210020;  // the file's last-write time, local
};

class TArcTypeDetector {
public:
    static constexpr std::int32_t kHeadSize = 32768;
    static constexpr std::int32_t kScanBlock = 32768;
    static constexpr int kScanBlocks = 11;

    // FileName decides .jar, the drive of a set and the date; it may be empty (a memory stream).
    TArcTypeDetector(TStream32& Stream, std::string FileName);

    TArcType GetArcType();
    const TArcTypeInfo& Info() const { return FInfo; }

    // The steps, each usable alone once the detector exists.
    TArcType ProbeSfxOffsets();
    std::int64_t ScanForSignature(TArcType& Type, std::int64_t StartOffset);
    bool IsTarArchive();
    TArcType SpannedOrSplit() const;
    // The ZIP end-record search over the whole stream; sets StubSize and adds the header kinds.
    std::int64_t FindZipEnding();

private:
    std::int64_t ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) const;
    bool ReadExactAt(std::int64_t Offset, void* Buffer, std::int64_t Count) const;
    std::uint32_t HeadDword(std::int64_t Offset) const;

    void DetectExecutable();
    void DetectPlainFile();
    TArcType ProbeStringResources();
    TArcType ProbeDosImageEnd();
    // Classifies the four bytes at Position and takes the answer: the set decision for ZIP volumes,
    // the end-record search for the ZIP family, the archive offset for everything else.
    TArcType TakeClassified(TDetectContext Context, std::uint32_t Dword, std::int64_t Position);
    bool EndRecordFound() const { return FInfo.EndingSearched && FInfo.Ending.EndPos >= 0; }
    bool IsMultiDiskEnding() const;
    bool ArjHeaderFollows(std::int64_t Position, std::uint16_t BasicSize) const;
    void StampDosDate();

    TStream32& FStream;
    std::string FFileName;
    std::int64_t FSize = 0;
    std::string FHead;  // the first kHeadSize bytes (fewer for a short file)
    TArcTypeInfo FInfo;
};

// Detects the type of Stream (the component's ArchiveFile) and stores the archive offset and
// size, the header kinds and the stub size in the component.
TArcType DetectArcType(TZipCommon& Component, TStream32& Stream);
