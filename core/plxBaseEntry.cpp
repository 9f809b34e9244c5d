// Entry compression: one new entry's header, name and data (stored, deflated, bzip2 or PPMd),
// with the traditional ZIP cipher when the entry is encrypted.
#include "core/plxBase.h"

#include "core/DeflateAhead.h"
#include "core/Err_Msgs.h"
#include "core/FilterStreams.h"
#include "core/plxBZip2.h"
#include "core/plxDeflate.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxPPMDi1.h"
#include "core/plxRegister.h"
#include "core/plxStreams.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::int32_t kPumpBlock = 65536;

std::uint16_t MethodNumberOf(TCompressMethod method)
{
    switch (method) {
    case cmStore:
        return 0;
    case cmBz2:
        return 12;
    case cmPPMDi:
        return 98;
    default:
        return 8;
    }
}

}  // namespace

void TCompressClass::CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList)
{
    Ok = false;
    const std::string path = EntryList.Name(std::uint32_t(Index));
    if (IsOwnArchive(path))
        return;  // the archive never packs itself
    FCurrentSource = path;
    FileName = path;
    BaseDir = path.substr(0, std::min<std::size_t>(EntryList.Value(std::uint32_t(Index)), path.size()));
    try {
        if (DoBegin(FileName, FileNumber, &EntryList)) {
            Output.Seek64(0, soEnd);
            EntryList.GetItem(std::uint32_t(Index)).Offset = Output.Size();
            Ok = CompressEntry(Output, Index, EntryList);
            DoEnd();
        }
    } catch (const EReadError&) {
        DoError(FileName, "", E_READFILE, FArchiveFile);
        Ok = false;
    }
}

bool TCompressClass::CompressEntry(TStream32& Output, int Index, TCompressHeaderObj& EntryList)
{
    const std::string& path = FCurrentSource;
    if (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        return StoreEmptySubDirs && CompressStream(nullptr, Output, EntryList, Index);
    TFileStream32 input(path, fmOpenRead | fmShareDenyNone, false);  // read once from start to end
    if (!input.HandleValid()) {
        DoError(path, "", E_OPENFILE, FArchiveFile);
        return false;
    }
    return CompressStream(&input, Output, EntryList, Index);
}

std::string TCompressClass::EncodedFileName() const
{
    std::string out;
    const std::string unix = ToUnixSeparators(FileName);
    if (TranslateOemChar)
        out = unix;  // the component keeps names in ANSI
    else
        AnsiToOemName(0, out, unix);
    return out;
}

void TCompressClass::WriteFileName(TStream32& Output)
{
    const std::string name = EncodedFileName();
    if (!name.empty())
        Output.WriteBuffer(name.data(), std::int32_t(name.size()));
}

bool TCompressClass::WriteDirEntry(TStream32& Output, TCompressHeaderObj& EntryList, int Index)
{
    if (!StoreEmptySubDirs || !IsDirTreeEmpty(FCurrentSource))
        return false;
    RunningCrc.Reset();
    FEntryCrc = 0;
    Crc32 = 0;
    Encrypted = false;
    MethodNumber = 0;
    UnpackedSize = 0;
    SetEntryName(win::IncludeTrailingBackslash(FCurrentSource));
    const std::uint16_t headLen = GetLocalHeadSize() ? GetLocalHeadSize() : HeadSize;
    FinishHeader(0);
    Output.Seek64(0, soEnd);
    if (const std::uint8_t* head = GetHeadPtr(); head && headLen > 0)
        Output.WriteBuffer(head, headLen);
    WriteFileName(Output);
    WriteLargeSizeExtra(Output, EntryList.GetItem(std::uint32_t(Index)), 0);
    UpdateEntryName(Index, FCurrentAttr, EntryList);
    return !GetCancel();
}

bool TCompressClass::PumpInput(TStream32& Input, const TByteSink& Sink)
{
    Input.SetPosition(0);
    std::vector<std::uint8_t> block(std::size_t(std::clamp<std::int64_t>(FInputSize, 1, kPumpBlock)));
    std::uint32_t crc = CRC_MASK;
    std::int64_t done = 0;
    while (done < FInputSize) {
        if (GetCancel())
            return false;
        const auto want = std::int32_t(std::min<std::int64_t>(FInputSize - done, std::int64_t(block.size())));
        const std::int32_t got = Input.Read(block.data(), want);
        if (got <= 0)
            break;
        UpdateCrc32(block.data(), got, crc);
        Sink(block.data(), std::size_t(got));
        done += got;
        BytesToRead -= got;
        DoProgress(done, FInputSize, UnpackedTotal);
    }
    if (GetCancel())
        return false;
    SettleEntryCrc(done, crc);
    return true;
}

void TCompressClass::SettleEntryCrc(std::int64_t Done, std::uint32_t Register)
{
    if (Done != FInputSize)
        throw EReadError("the file changed while it was read");
    const std::uint32_t crc = ~Register;
    if (FCrcFromPrePass) {
        // The encryption header already vouches for the first pass: the data must agree with it.
        if (crc != FEntryCrc)
            throw EReadError("the file changed while it was read");
    } else {
        FEntryCrc = crc;
    }
}

bool TCompressClass::StoreStream(TStream32* Input, int CrcWidth, TStream32& Output)
{
    if (!Input)
        return false;
    TStreamControl control;
    control.Cancel = CancelPtr;
    control.EncryptionMethod = Encrypted ? emZip_V2 : emNone;
    control.Cipher = &DataCipher;
    TStoreStream store(&Output, control, std::uint8_t(CrcWidth == 16 ? 16 : 32));
    const bool ok = PumpInput(*Input, [&](const std::uint8_t* p, std::size_t n) {
        if (CrcWidth == 16)
            RunningCrc.UpdateCrc(16, p, std::int32_t(n));
        store.Write(p, std::int32_t(n));
    });
    return ok;
}

bool TCompressClass::StoreFallback(TStream32* Input, TStream32& Output)
{
    MethodNumber = 0;
    // Back to the start of the encryption header, so exactly one header stays in front of the data.
    // A small file's data was never written: nothing to cut, and the gathered writes stay.
    if (Output.Size() != FDataStart)
        Output.SetSize64(FDataStart);
    Output.Seek64(FDataStart, soBeginning);
    if (Encrypted) {
        DataCipher.SetKeys(SavedDataKeys);
        Output.WriteBuffer(FCryptHeader.data(), std::int32_t(FCryptHeader.size()));
    }
    return StoreStream(Input, 32, Output);
}

bool TCompressClass::ReplayInput(std::uint32_t Register)
{
    // The same steps as PumpInput's blocks, so that progress and cancel look as they do there.
    const std::int64_t block = std::clamp<std::int64_t>(FInputSize, 1, kPumpBlock);
    std::int64_t done = 0;
    while (done < FInputSize) {
        if (GetCancel())
            return false;
        const std::int64_t step = std::min(FInputSize - done, block);
        done += step;
        BytesToRead -= step;
        DoProgress(done, FInputSize, UnpackedTotal);
    }
    if (GetCancel())
        return false;
    SettleEntryCrc(done, Register);
    return true;
}

bool TCompressClass::DeflateData(TStream32& Input, TStream32& Output)
{
    if (FInputSize <= kWholeDeflateLimit) {
        // The whole member is at hand: one call packs it faster and no larger than the stream.
        std::vector<std::uint8_t> packed;
        bool fits = false;
        std::unique_ptr<TDeflateJob> ready = FAhead ? FAhead->Take(FEntryIndex) : nullptr;
        if (ready && !ready->Failed && ready->Size == FInputSize && ready->Level == DeflateType) {
            if (!ReplayInput(ready->Register))
                return false;
            packed = std::move(ready->Packed);
            fits = ready->Fits;
        } else {
            std::vector<std::uint8_t> data;
            data.reserve(std::size_t(FInputSize));
            if (!PumpInput(Input, [&](const std::uint8_t* p, std::size_t n) { data.insert(data.end(), p, p + n); }))
                return false;
            if (!FWholeDeflater)
                FWholeDeflater = std::make_unique<TWholeDeflater>();
            fits = FWholeDeflater->Deflate(data.data(), data.size(), DeflateType, packed);
        }
        if (!fits)
            return StoreFallback(&Input, Output);
        if (Encrypted)
            DataCipher.EncryptBuffer(packed.data(), packed.size());
        if (!packed.empty())
            Output.WriteBuffer(packed.data(), std::int32_t(packed.size()));
        return true;
    }
    const std::int64_t dataStart = Output.Position();
    {
        TCompressStream deflater(&Output, DeflateType, -15);
        deflater.CancelPointer = CancelPtr;
        if (Encrypted) {
            deflater.EncryptionMethod = emZip_V2;
            deflater.Cipher = &DataCipher;
        }
        if (!PumpInput(Input, [&](const std::uint8_t* p, std::size_t n) { deflater.Write(p, std::int32_t(n)); }))
            return false;
        deflater.FinishDeflate();
        if (GetCancel())
            return false;
    }
    Output.Seek64(0, soEnd);
    if (Output.Position() - dataStart > FInputSize)
        return StoreFallback(&Input, Output);
    return true;
}

bool TCompressClass::Bzip2Data(TStream32& Input, TStream32& Output)
{
    TBz2Owner owner;
    owner.Cipher = Encrypted ? &DataCipher : nullptr;
    owner.EncryptionMethod = Encrypted ? emZip_V2 : emNone;
    owner.Cancel = CancelPtr;
    TBZCompressStream encoder(owner, &Output, -1, FInputSize, Bzip2BlockSizeOf(DeflateType));
    if (!PumpInput(Input, [&](const std::uint8_t* p, std::size_t n) {
            if (encoder.Write(p, std::int32_t(n)) != std::int32_t(n) && !GetCancel())
                RaiseError(FileName, "", FArchiveFile, E_WRITEFILE);
        }))
        return false;
    encoder.Finish();
    return !GetCancel();
}

bool TCompressClass::PpmdData(TStream32& Input, TStream32& Output)
{
    if (!FPpmd)
        FPpmd = std::make_unique<TPpmdCodec>();
    Input.SetPosition(0);
    std::uint32_t crc = CRC_MASK;
    std::int64_t done = 0;
    TPpmdCallbacks io;
    io.Read = [&](std::uint8_t* buf, std::size_t n) -> std::size_t {
        const auto want = std::int32_t(std::min<std::int64_t>({std::int64_t(n), FInputSize - done, kPumpBlock}));
        if (want <= 0 || GetCancel())
            return 0;
        const std::int32_t got = Input.Read(buf, want);
        if (got < 0)
            throw EReadError("read error");
        UpdateCrc32(buf, got, crc);
        done += got;
        BytesToRead -= got;
        DoProgress(done, FInputSize, UnpackedTotal);
        return std::size_t(got);
    };
    std::vector<std::uint8_t> ciphered;
    io.Write = [&](const std::uint8_t* buf, std::size_t n) {
        const std::uint8_t* out = buf;
        if (Encrypted) {
            ciphered.assign(buf, buf + n);
            DataCipher.EncryptBuffer(ciphered.data(), n);
            out = ciphered.data();
        }
        Output.WriteBuffer(out, std::int32_t(n));
    };
    io.Cancel = CancelPtr;
    const TCodecStatus status =
        FPpmd->PPMdCompress(io, std::uint64_t(FInputSize), TPpmdParams::FromWord(kPpmdWriterWord));
    if (status == TCodecStatus::Canceled || GetCancel())
        return false;
    if (status != TCodecStatus::Ok)
        RaiseError(FileName, "", FArchiveFile, CodecStatusMessage(status));
    SettleEntryCrc(done, crc);
    return true;
}

bool TCompressClass::OwnMethodData(TCompressMethod, TStream32&, TStream32&)
{
    RaiseError(FileName, "", FArchiveFile, E_UNSUPPORTEDMETHOD);
}

bool TCompressClass::CompressStream(TStream32* Input, TStream32& Output, TCompressHeaderObj& EntryList, int Index)
{
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    FEntryIndex = FListBase + std::uint32_t(Index);
    if (!Input) {
        item.Encryption = emNone;
        return WriteDirEntry(Output, EntryList, Index);
    }
    if (DeflateType == dtDeflateS && CompressMethod.Allows(cmStore))
        CompressMethod = cmStore;  // stays for the later entries
    TCompressMethod method = CompressMethod;
    // Files that are compressed already are stored as they are, in one read.
    const std::string ext = win::LowerCase(win::ExtractFileExt(FileName));
    if (method != cmStore && !ext.empty() &&
        std::find(StoreFilesOfType.begin(), StoreFilesOfType.end(), ext) != StoreFilesOfType.end())
        method = cmStore;

    FInputSize = Input->Size();
    if (FInputSize <= 0) {
        Encrypted = false;
        item.Encryption = emNone;
        method = cmStore;
    } else {
        Encrypted = item.Encryption != emNone;
    }
    MethodNumber = MethodNumberOf(method);
    RunningCrc.Reset();
    UnpackedSize = FInputSize;
    FCrcFromPrePass = false;
    FEntryCrc = 0;

    Output.Seek64(0, soEnd);
    const std::int64_t headerStart = Output.Position();
    const std::uint16_t headLen = GetLocalHeadSize() ? GetLocalHeadSize() : HeadSize;
    if (const std::uint8_t* head = GetHeadPtr(); head && headLen > 0)
        Output.WriteBuffer(head, headLen);
    const std::int64_t nameLength = std::int64_t(EncodedFileName().size());
    WriteFileName(Output);

    if (Encrypted) {
        item.Encryption = emZip_V2;
        TStreamControl control;
        Input->SetPosition(0);
        const std::uint32_t reg = CalcStreamCRC(
            Input, control,
            [this](TObject*, std::int64_t d, std::int64_t) { DoProgress(d, FInputSize, UnpackedTotal); }, CancelPtr,
            FInputSize);
        if (GetCancel())
            throw ECancel();
        FEntryCrc = ~reg;
        FCrcFromPrePass = true;
        FCryptHeader = DataCipher.MakeCryptHeader(Password(), FEntryCrc);
        SavedDataKeys = DataCipher.Keys();
    }
    WriteLargeSizeExtra(Output, item, 0);
    Output.Seek64(0, soEnd);
    FDataStart = Output.Position();
    if (Encrypted)
        Output.WriteBuffer(FCryptHeader.data(), std::int32_t(FCryptHeader.size()));

    bool ok = false;
    switch (method) {
    case cmStore:
        ok = StoreStream(Input, 32, Output);
        break;
    case cmDeflate:
        ok = DeflateData(*Input, Output);
        break;
    case cmBz2:
        ok = Bzip2Data(*Input, Output);
        break;
    case cmPPMDi:
        ok = PpmdData(*Input, Output);
        break;
    default:
        ok = OwnMethodData(method, *Input, Output);
    }
    if (!ok || GetCancel())
        return false;

    Output.Seek64(0, soEnd);
    const std::int64_t packed = Output.Position() - headerStart - headLen - nameLength;
    PackedSize = packed;
    Crc32 = FEntryCrc;
    RunningCrc.Crc32 = ~FEntryCrc;  // the register as the data hooks would have left it
    FinishHeader(packed);
    Output.Seek64(headerStart, soBeginning);
    if (const std::uint8_t* head = GetHeadPtr(); head && headLen > 0)
        Output.WriteBuffer(head, headLen);
    WriteFileName(Output);
    WriteLargeSizeExtra(Output, item, 0);
    Output.Seek64(0, soEnd);
    UpdateEntryName(Index, FCurrentAttr, EntryList);
    return true;
}
