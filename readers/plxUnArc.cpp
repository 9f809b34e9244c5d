#include "readers/plxUnArc.h"

#include <algorithm>
#include <memory>

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxStreams.h"
#include "platform/win/CodePage.h"
#include "readers/LzwDecoder.h"
#include "readers/MemberData.h"
#include "readers/plxUnLha.h"

namespace {

constexpr std::uint32_t kAttrArchive = 0x20;
constexpr int kCrunchBits = 12;  // also the byte that starts every method-8 member
constexpr int kSquashBits = 13;

struct TArcOverflow {};  // more output than the header declares

}  // namespace

bool ArcMethodSupported(std::uint8_t Method)
{
    return (Method >= 1 && Method <= 9) || Method == amFolder;
}

TUnArc::TUnArc(TObject* AOwner) : TUnBase(AOwner)
{
    // Names are always relative: one that starts at a root or climbs is refused whole.
    NameRules = kRelativeNamesOnly;
    SetFileSpec({"*.*"});
}

void TUnArc::ProcessArchive(TStream32* Archive)
{
    const auto collect = [this](TStream32& A) {
        Timer().Pause();
        CollectMembers(A);
        Timer().Resume();
    };
    CollectThenExtract(*this, Archive, FMembers, collect,
                       [this](TStream32& A, const TMember& M) { ExtractMember(A, M); });
}

void TUnArc::CollectMembers(TStream32& Archive)
{
    const TReadAt read = LhaReaderOf(Archive);
    TArcHeaderChain chain(std::max<std::int64_t>(ArchiveOffset, 0));
    TArcHeader h;
    std::string folder;
    THeaderStatus status = THeaderStatus::End;
    while (!GetCancel() && (status = chain.Next(read, h, folder)) == THeaderStatus::Header) {
        TMember member{h, ToDosSeparators(win::OemToUtf8(folder + h.Name))};
        if (member.Name.empty() || !MatchesStoredName(member.Name, RecurseDirs))
            continue;
        if (!h.IsFolder()) {
            PackedTotal += h.PackedSize;
            UnpackedTotal += h.UnpackedSize;
            NewestDate = std::max(NewestDate, DosDateTimeToDateTime(h.Stamp));
        }
        FMembers.push_back(std::move(member));
    }
    if (status == THeaderStatus::Corrupt && !GetCancel())
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
}

void TUnArc::ExtractMember(TStream32& Archive, const TMember& Member)
{
    const TArcHeader& h = Member.Header;
    Encrypted = false;
    MethodNumber = h.Method;
    PackedSize = h.IsFolder() ? 0 : h.PackedSize;
    UnpackedSize = h.IsFolder() ? 0 : h.UnpackedSize;
    Crc32 = h.Crc;
    HeaderOffset = h.Offset;
    DateTime = DosDateTimeToDateTime(h.Stamp);
    if (!NameEntry(Member.Name))
        return;
    if (h.IsFolder()) {
        if (IsFileOutput() && CreateStoredDirs && !MakeStoredDir(FileName, h.Stamp))
            return;
        RunningCrc.Crc16 = h.Crc;  // nothing to check
        CheckCrc(16, h.Crc);
        return;
    }
    if (!ArcMethodSupported(h.Method)) {
        FailEntry(E_UNSUPPORTEDMETHOD);
        return;
    }
    std::unique_ptr<TStream32> out;
    if (!OpenPlainOutput(out))
        return;
    const int failure = DecodeMember(Archive, h, out.get());
    CloseOutFile(out, FileName, kAttrArchive, h.Stamp);
    FinishDecodedEntry(failure, 16, h.Crc);
}

int TUnArc::DecodeMember(TStream32& Archive, const TArcHeader& Header, TStream32* Out)
{
    if (Archive.Seek64(Header.DataOffset, soBeginning) != Header.DataOffset)
        return E_UNEXPECTEDEOF;
    TMemberData data(*this, Archive, Header.PackedSize, Out, 16);
    const TByteSource source = data.Source();
    const TByteSink sink = data.Sink();
    try {
        const std::uint8_t m = Header.Method;
        TArcWriter writer(sink, Header.UnpackedSize, m == 3 || m == 4 || m == 6 || m == 7 || m == 8);
        TCodecStatus status = TCodecStatus::Ok;
        if (m == 8 || m == 9) {
            std::uint8_t bits = 0;
            if (m == 8 && (source(&bits, 1) != 1 || bits != kCrunchBits))
                return E_INCORRECTBITCOUNT;
            const auto put = [&writer](const std::uint8_t* p, std::size_t n) {
                for (std::size_t i = 0; i < n; ++i)
                    if (!writer.Put(p[i]))
                        throw TArcOverflow();
            };
            TLzwDecoder lzw(source, put, UINT64_MAX, TLzwRawFormat{m == 8 ? kCrunchBits : kSquashBits, true});
            status = lzw.Decode();
        } else {
            TArcByteReader in(source);
            switch (m) {
            case 1:
            case 2:
            case 3:
                status = ArcCopy(in, writer);
                break;
            case 4:
                status = ArcUnsqueeze(in, writer);
                break;
            case 5:
            case 6:
            case 7:
                status = FCrunch.Decode(in, writer, m != 7);
                break;
            default:
                return E_UNSUPPORTEDMETHOD;
            }
        }
        writer.Flush();
        if (status == TCodecStatus::Ok && writer.Written() < Header.UnpackedSize)
            status = TCodecStatus::Truncated;
        // Damaged squeeze data is a bad tree in this format's words.
        return CodecStatusMessage(status, m == 4 ? E_INVALIDDECODETREE : E_CORRUPTINPUT);
    } catch (const TArcOverflow&) {
        return CodecStatusMessage(TCodecStatus::OutputLimit);
    } catch (const TMemberWriteStopped&) {
        return kFailureReported;
    }
}
