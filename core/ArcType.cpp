#include "core/ArcType.h"

#include "core/ArcDescriptor.h"
#include "core/EncodedText.h"

#include <algorithm>
#include <cstring>

#include "core/DiskManager.h"
#include "core/Endian.h"
#include "core/PeResources.h"
#include "core/TarHeader.h"
#include "core/ZipCommon.h"
#include "core/plxGbls.h"
#include "core/plxRegister.h"
#include "core/plxStreams.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"

namespace {

bool Matches(const std::uint8_t* p, std::size_t Avail, std::string_view Text)
{
    return Avail >= Text.size() && std::memcmp(p, Text.data(), Text.size()) == 0;
}

constexpr std::int64_t kEmptyBzip2Size = 14;
// compress's header: its magic and a flags byte; the codes follow.
constexpr std::int64_t kCompressHeaderSize = 3;
// The largest basic header an ARJ archive writes.
constexpr std::uint16_t kArjMaxBasicHeader = 2600;
// Self-extractor stub lengths: ARC and PAK, LHA, ZIP.
constexpr std::int64_t kArcPakStubs[] = {6674, 6867, 7716, 8601, 13138};
constexpr std::int64_t kLhaStubProbe = 1947;
constexpr std::int64_t kZipStubs[] = {7612, 25661};
// Bytes of a self-extractor's own code that look like archive signatures.
constexpr std::uint8_t kBhSignatureInCode[] = {0x0F, 0x94, 0xC3, 0x84};
constexpr std::uint8_t kZipSignatureInCode[] = {0x74, 0x0B, 0x3D, 0x00};
constexpr std::int64_t kSfxScanStart = 1500;
constexpr std::int64_t kMinZipSfxOffset = 10000;
constexpr std::uint32_t kMinDosDate = 0x00210020;

// Detection must not fire the stream's progress: its hooks are put aside for the duration.
class TDetachedProgress {
public:
    explicit TDetachedProgress(TStream32& Stream)
        : FStream(Stream),
          FProgress(std::move(Stream.OnProgress)),
          FReadProgress(std::move(Stream.OnReadProgress)),
          FRemaining(Stream.Remaining)
    {
        Stream.OnProgress = nullptr;
        Stream.OnReadProgress = nullptr;
        Stream.Remaining = nullptr;
    }
    ~TDetachedProgress()
    {
        FStream.OnProgress = std::move(FProgress);
        FStream.OnReadProgress = std::move(FReadProgress);
        FStream.Remaining = FRemaining;
    }
    TDetachedProgress(const TDetachedProgress&) = delete;
    TDetachedProgress& operator=(const TDetachedProgress&) = delete;

private:
    TStream32& FStream;
    TStreamProgress FProgress;
    TStreamProgress FReadProgress;
    std::int64_t* FRemaining;
};

// LoadStringA's text as a number: leading blanks, then digits only.
bool ParseResourceNumber(const std::string& Text, std::int64_t& Value)
{
    std::size_t i = 0;
    while (i < Text.size() && Text[i] == ' ')
        ++i;
    if (i == Text.size())
        return false;
    Value = 0;
    for (; i < Text.size(); ++i) {
        if (Text[i] < '0' || Text[i] > '9')
            return false;
        Value = Value * 10 + (Text[i] - '0');
    }
    return true;
}

}  // namespace

TArcType ClassifyFirstDword(TDetectContext Context, std::uint32_t Value, std::int64_t* FixedOffset)
{
    const bool exe = Context == TDetectContext::Executable;
    for (const TArcSignature& signature : ArcSignaturesByRank()) {
        if (!signature.Matches(Value))
            continue;
        const std::int64_t offset = exe ? signature.ExeOffset : signature.PlainOffset;
        if (offset >= 0 && FixedOffset)
            *FixedOffset = offset;
        return exe ? signature.InExe : signature.Plain;
    }
    return atNA;
}

bool IsRealArcType(TArcType Type)
{
    return Type != atNA && Type != atUnsupported && Type != atFileOpenErr && Type != atUnknown;
}

TArcTypeDetector::TArcTypeDetector(TStream32& Stream, std::string FileName)
    : FStream(Stream), FFileName(std::move(FileName))
{}

std::int64_t TArcTypeDetector::ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) const
{
    if (Offset < 0 || Count <= 0 || Offset >= FSize)
        return 0;
    Count = std::min(Count, FSize - Offset);
    try {
        if (FStream.Seek64(Offset, soBeginning) != Offset)
            return 0;
        std::int64_t done = 0;
        while (done < Count) {
            const auto chunk = std::int32_t(std::min<std::int64_t>(Count - done, 1 << 30));
            const std::int32_t n = FStream.Read(static_cast<std::uint8_t*>(Buffer) + done, chunk);
            if (n <= 0)
                break;
            done += n;
        }
        return done;
    } catch (const std::exception&) {
        return 0;  // detection reads only what is there and never raises
    }
}

bool TArcTypeDetector::ReadExactAt(std::int64_t Offset, void* Buffer, std::int64_t Count) const
{
    return ReadAt(Offset, Buffer, Count) == Count;
}

std::uint32_t TArcTypeDetector::HeadDword(std::int64_t Offset) const
{
    std::uint8_t b[4] = {};
    for (int i = 0; i < 4; ++i)
        if (Offset + i < std::int64_t(FHead.size()))
            b[i] = std::uint8_t(FHead[std::size_t(Offset + i)]);
    return GetLE32(b);
}

TArcType TArcTypeDetector::GetArcType()
{
    TDetachedProgress detached(FStream);
    FInfo = TArcTypeInfo{};
    try {
        FSize = std::max<std::int64_t>(FStream.Size(), 0);
    } catch (const std::exception&) {
        FSize = 0;
    }
    FInfo.ArchiveSize = FSize;

    if (FSize > 19) {
        FHead.assign(std::size_t(std::min<std::int64_t>(FSize, kHeadSize)), '\0');
        FHead.resize(std::size_t(ReadAt(0, FHead.data(), std::int64_t(FHead.size()))));
        if (FHead.size() >= 2 && FHead[0] == 'M' && FHead[1] == 'Z')
            DetectExecutable();
        else
            DetectPlainFile();

        if (FHead.size() >= 10 && IsBZip2Header(reinterpret_cast<const std::uint8_t*>(FHead.data()))) {
            FInfo.ArcType = atBz2;
            FInfo.ArchiveOffset = -1;
        }
        // A ZIP archive named as a JAR is one: the extension is all that tells them apart.
        if (FInfo.ArcType == atZip &&
            DescriptorByExtension(win::LowerCase(win::ExtractFileExt(FFileName))) == DescriptorOf(atJar))
            FInfo.ArcType = atJar;
    } else if (FSize >= kCompressHeaderSize) {
        // Only three things are this short: an empty file compressed by bzip2 (the stream's end
        // marker right after its header), compress output of a short file, which can be just as
        // long, and an empty file encoded as UU text under a short name.
        FHead.assign(std::size_t(FSize), '\0');
        FHead.resize(std::size_t(ReadAt(0, FHead.data(), FSize)));
        const auto* b = reinterpret_cast<const std::uint8_t*>(FHead.data());
        if (FHead.size() == kEmptyBzip2Size && IsBZip2Header(b)) {
            FInfo.ArcType = atBz2;
            FInfo.ArchiveOffset = -1;
        } else if (FHead.size() >= 2 && b[0] == 0x1F && b[1] == 0x9D) {
            FInfo.ArcType = atGZip;
        } else {
            FInfo.ArcType = EncodedTextType(FHead);
        }
    }
    StampDosDate();
    return FInfo.ArcType;
}

void TArcTypeDetector::DetectExecutable()
{
    FInfo.HeaderTypeState |= HeaderBit(htSfx);
    TArcType type = ProbeSfxOffsets();
    if (!IsRealArcType(type))
        type = ProbeStringResources();
    if (!IsRealArcType(type))
        type = ProbeDosImageEnd();
    if (!IsRealArcType(type)) {
        FInfo.StubSize = 0;
        const std::int64_t start = FindZipEnding();
        if (EndRecordFound() && start > 0) {
            type = atZipExe;
            FInfo.ArchiveOffset = start;
        }
    }
    if (!IsRealArcType(type))
        ScanForSignature(type, kSfxScanStart);
    if (IsRealArcType(type) && FInfo.ArchiveOffset == -1)
        FInfo.ArchiveOffset = 0;
    FInfo.ArcType = type;
}

void TArcTypeDetector::DetectPlainFile()
{
    TArcType type = atNA;
    if (FHead.size() >= 14 && FHead.compare(7, 7, "**ACE**") == 0) {
        type = atAce;
    } else {
        type = TakeClassified(TDetectContext::PlainFile, HeadDword(0), 0);
    }

    // An LHA archive behind a 128-byte prefix (a MacBinary-style header).
    if (!IsRealArcType(type) && FSize > 132 && FHead.size() > 131 && FHead[0] == '\0' && FHead[130] == '-' &&
        FHead[131] == 'l') {
        type = atLha;
        FInfo.ArchiveOffset = 128;
    }

    if (!IsRealArcType(type)) {
        if (IsTarArchive()) {
            type = atTar;
        } else {
            const std::int64_t start = FindZipEnding();
            if (EndRecordFound() && IsMultiDiskEnding()) {
                type = SpannedOrSplit();
            } else if (EndRecordFound() && start > 0) {
                type = atZip;
                FInfo.ArchiveOffset = start;
            }
            if (!IsRealArcType(type))
                ScanForSignature(type, 0);
        }
    }

    // Text that carries a file (UU, XX, Base64) announces itself in its first lines.
    if (type == atNA)
        type = EncodedTextType(FHead);

    if (IsZipFamilyType(type)) {
        if (!FInfo.EndingSearched)
            FindZipEnding();
        // An earlier disk of a spanned set holds no end record: the reader asks for the last one.
        if (!EndRecordFound() && type != atZipDS)
            type = atUnsupported;
    }
    FInfo.ArcType = type;
}

TArcType TArcTypeDetector::TakeClassified(TDetectContext Context, std::uint32_t Value, std::int64_t Position)
{
    std::int64_t FixedOffset = -1;
    TArcType Type = ClassifyFirstDword(Context, Value, &FixedOffset);
    const bool exe = Context == TDetectContext::Executable;
    if (Type == atZipMV) {
        // A volume of a set; a central header at its start means the directory is here too.
        Type = SpannedOrSplit();
        if ((Value >> 16) == 0x0201 || exe) {
            const std::int64_t start = FindZipEnding();
            if (start >= 0)
                FInfo.ArchiveOffset = start;
            if (exe && !EndRecordFound())
                return atNA;
        }
        return Type;
    }
    if (IsZipFamilyType(Type)) {
        const std::int64_t start = FindZipEnding();
        if (start >= 0)
            FInfo.ArchiveOffset = start;
        if (exe && !EndRecordFound())
            return atNA;  // inside an executable, only the end record confirms a ZIP
        return Type;
    }
    if (IsRealArcType(Type)) {
        if (FixedOffset >= 0)
            FInfo.ArchiveOffset = FixedOffset;
        else if (Position > 0)
            FInfo.ArchiveOffset = Position;
    }
    return Type;
}

TArcType TArcTypeDetector::ProbeSfxOffsets()
{
    std::uint8_t b[6];
    for (std::int64_t at : kArcPakStubs) {
        if (at + 2 > FSize || !ReadExactAt(at, b, 2))
            break;
        if (b[0] != 0x1A)
            continue;
        const TArcType type = (b[1] == 0x08 || b[1] == 0x09)   ? atArcExe
                              : (b[1] == 0x0A || b[1] == 0x0B) ? atPakExe
                                                               : atNA;
        if (type != atNA) {
            FInfo.ArchiveOffset = at;
            return type;
        }
    }
    if (FSize >= kLhaStubProbe + 3 && ReadAt(kLhaStubProbe, b, 6) >= 5 && b[0] == '-' && b[1] == 'l' && b[2] == 'h' &&
        b[4] == '-') {
        FInfo.ArchiveOffset = kLhaStubProbe - 2;
        return atLhaExe;
    }
    for (std::int64_t at : kZipStubs) {
        if (FSize < at + 5)
            break;
        if (ReadExactAt(at, b, 4) && GetLE32(b) == kSigLocal) {
            FInfo.ArchiveOffset = at;
            return atZipExe;
        }
    }
    return atNA;
}

TArcType TArcTypeDetector::ProbeStringResources()
{
    TPeStringResources resources;
    const TReadAt read = [this](std::int64_t Offset, void* Buffer, std::int64_t Count) {
        return ReadAt(Offset, Buffer, Count);
    };
    if (!resources.Load(read, FSize))
        return atNA;
    for (unsigned id = 1; id <= 7; ++id) {
        std::int64_t candidate = 0;
        if (!ParseResourceNumber(resources.LoadString(id, 6), candidate))
            break;
        std::uint8_t b[14];
        if (candidate >= FSize || !ReadExactAt(candidate, b, sizeof b))
            continue;
        if (std::memcmp(b + 7, "**ACE**", 7) == 0) {
            FInfo.ArchiveOffset = candidate;
            return atAceExe;
        }
        const TArcType type = TakeClassified(TDetectContext::Executable, GetLE32(b), candidate);
        if (IsRealArcType(type))
            return type;
    }
    return atNA;
}

TArcType TArcTypeDetector::ProbeDosImageEnd()
{
    if (FHead.size() < 6)
        return atNA;
    const auto* mz = reinterpret_cast<const std::uint8_t*>(FHead.data());
    const std::int64_t lastPageBytes = GetLE16(mz + 2);
    const std::int64_t pages = GetLE16(mz + 4);
    // No pages states no image; a last page of 0 bytes is a full one.
    if (pages == 0 || lastPageBytes > 512)
        return atNA;
    const std::int64_t image = lastPageBytes == 0 ? pages * 512 : (pages - 1) * 512 + lastPageBytes;
    if (image + 4 > FSize)
        return atNA;
    std::uint8_t b[6] = {};
    const std::int64_t got = ReadAt(image, b, sizeof b);
    if (got < 4)
        return atNA;
    std::int64_t position = image;
    if (got == 6 && b[2] == 0x60 && b[3] == 0xEA)
        position += 2;
    const std::uint32_t value = GetLE32(b + (position - image));
    if (IsLocalHeaderSig(value))
        return atNA;  // the end-record search decides
    return TakeClassified(TDetectContext::Executable, value, position);
}

bool TArcTypeDetector::ArjHeaderFollows(std::int64_t Position, std::uint16_t BasicSize) const
{
    if (BasicSize == 0 || BasicSize > kArjMaxBasicHeader)
        return false;
    std::uint8_t b[2];
    return ReadExactAt(Position + BasicSize + 10, b, 2) && b[0] == 0x60 && b[1] == 0xEA;
}

std::int64_t TArcTypeDetector::ScanForSignature(TArcType& Type, std::int64_t StartOffset)
{
    Type = atNA;
    const bool exe = StartOffset != 0;
    constexpr std::int64_t lookahead = 8;  // so that a signature across two blocks is seen whole
    std::vector<std::uint8_t> buffer(std::size_t(kScanBlock + lookahead));
    for (int block = 0; block < kScanBlocks; ++block) {
        const std::int64_t base = StartOffset + std::int64_t(block) * kScanBlock;
        const std::int64_t got = ReadAt(base, buffer.data(), std::int64_t(buffer.size()));
        if (got <= 0)
            break;
        const std::int64_t limit = std::min<std::int64_t>(got, kScanBlock);
        for (std::int64_t i = 0; i < limit; ++i) {
            const std::uint8_t* p = &buffer[std::size_t(i)];
            const auto avail = std::size_t(got - i);
            const std::int64_t at = base + i;
            const auto found = [&](TArcType Found, std::int64_t Archive) {
                Type = Found;
                FInfo.ArchiveOffset = Archive;
                return at;
            };
            switch (p[0]) {
            case 'R':
                if (Matches(p, avail, "Rar!"))
                    return found(at != 0 ? atRarExe : atRar, at);
                break;
            case 'Z':
                if (at != 0 && Matches(p, avail, "ZOO ") && avail >= 5 && (p[4] == '1' || p[4] == '2'))
                    return found(atZoo, at);
                break;
            case 0x60:
                if (avail >= 4 && p[1] == 0xEA && ArjHeaderFollows(at, GetLE16(p + 2)))
                    return found(exe ? atArjExe : atArj, at);
                break;
            case '*':
                if (at >= 7 && Matches(p, avail, "**ACE"))
                    return found(exe ? atAceExe : atAce, at - 7);
                break;
            case '-':
                if (at >= 2 && avail >= 5 && p[1] == 'l' && p[2] == 'h' && p[4] == '-')
                    return found(exe ? atLhaExe : atLha, at - 2);
                break;
            case 'B':
                if (Matches(p, avail, "BH\x05\x07") && !(avail >= 8 && std::memcmp(p + 4, kBhSignatureInCode, 4) == 0))
                    return found(exe ? atBhExe : atBh, at);
                break;
            case 'M':
                if (exe && avail >= 8 && Matches(p, avail, "MSCF") && GetLE32(p + 4) == 0)
                    return found(exe ? atCabExe : atCab, at);
                break;
            case 'P':
                if (avail >= 4 && GetLE32(p) == kSigLocal &&
                    !(avail >= 8 && std::memcmp(p + 4, kZipSignatureInCode, 4) == 0)) {
                    TArcType zip = exe ? atZipExe : atZip;
                    const std::int64_t start = FindZipEnding();
                    if (!EndRecordFound() || (zip == atZipExe && start < kMinZipSfxOffset))
                        zip = atUnsupported;
                    return found(zip, zip == atUnsupported ? -1 : start);
                }
                break;
            default:
                break;
            }
        }
        if (got < std::int64_t(buffer.size()))
            break;
    }
    return -1;
}

bool TArcTypeDetector::IsTarArchive()
{
    if (FSize < TarBlockSize + 1)
        return false;
    std::uint8_t block[TarBlockSize];
    if (!ReadExactAt(0, block, TarBlockSize))
        return false;
    FInfo.ArchiveOffset = 0;
    if (block[156] == 'V') {  // a volume label stands before the first member
        FInfo.ArchiveOffset = TarBlockSize;
        if (FSize > 2 * TarBlockSize && !ReadExactAt(TarBlockSize, block, TarBlockSize)) {
            FInfo.ArchiveOffset = -1;
            return false;
        }
    }
    if (TarHeaderValid(block))
        return true;
    FInfo.ArchiveOffset = -1;
    return false;
}

bool TArcTypeDetector::IsMultiDiskEnding() const
{
    const TZipEnding& e = FInfo.Ending;
    return e.DiskNumber != 0 || (e.HasLocator && (e.Locator.Zip64EndDisk != 0 || e.Locator.TotalDisks > 1));
}

TArcType TArcTypeDetector::SpannedOrSplit() const
{
    if (FFileName.empty())
        return atNA;
    TDiskManager disk;
    if (!disk.GetDiskInfo(ExpandName(FFileName)))
        return atNA;
    const std::string label = disk.VolumeLabel.substr(0, disk.VolumeLabel.find(' '));
    if (disk.DriveType == DRIVE_REMOVABLE && label == "PKBACK#")
        return atZipDS;
    return atZipMV;
}

std::int64_t TArcTypeDetector::FindZipEnding()
{
    const TReadAt read = [this](std::int64_t Offset, void* Buffer, std::int64_t Count) {
        return ReadAt(Offset, Buffer, Count);
    };
    FInfo.EndingSearched = true;
    FInfo.EndingAnswer = ::FindZipEnding(read, FSize, FInfo.Ending);
    const TZipEnding& e = FInfo.Ending;
    if (e.EndPos >= 0 || FInfo.EndingAnswer >= 0) {
        FInfo.StubSize = std::uint32_t(std::clamp<std::int64_t>(e.PrefixOffset, 0, UINT32_MAX));
        if (e.Headers == HeaderBit(htLocal))
            FInfo.HeaderTypeState = HeaderBit(htLocal);  // a local-header scan found it
        else
            FInfo.HeaderTypeState |= e.Headers;
    }
    return FInfo.EndingAnswer;
}

void TArcTypeDetector::StampDosDate()
{
    std::uint32_t stamp = 0;
    if (auto* handle = dynamic_cast<THandleStream32*>(&FStream); handle && handle->HandleValid())
        stamp = GetFileDosTime(handle->Handle(), 1);
    else if (!FFileName.empty())
        stamp = std::uint32_t(std::max(win::FileAge(FFileName), 0));
    FInfo.ArchiveDosDate = std::max(stamp, kMinDosDate);
}

TArcType DetectArcType(TZipCommon& Component, TStream32& Stream)
{
    std::string name = Component.ArchiveFile();
    if (name.empty())
        if (auto* file = dynamic_cast<TFileStream32*>(&Stream))
            name = file->FileName();
    TArcTypeDetector detector(Stream, name);
    const TArcType type = detector.GetArcType();
    const TArcTypeInfo& info = detector.Info();
    Component.ArchiveOffset = info.ArchiveOffset;
    Component.ArchiveSize = info.ArchiveSize;
    Component.HeaderTypeState = info.HeaderTypeState;
    Component.StubSize = info.StubSize;
    return type;
}
