#include "writers/plxGZip.h"

#include "core/Crc.h"
#include "core/Err_Msgs.h"
#include "core/FilterStreams.h"
#include "core/MethodName.h"
#include "core/plxDeflate.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxRegister.h"
#include "core/plxStreams.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "readers/GzipFormat.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr std::int32_t kReadBlock = 65535;

}  // namespace

TGZip::TGZip(TObject* AOwner) : TSingleFileWriter(AOwner)
{
    FClassDefaultExt = ".gz";
    SetDefaultExt("");
    FArcType = atGZip;
    CompressMethod.Restrict({cmDeflate}, cmDeflate);
    DeflateType = dtDeflateN;
    ConfirmOverwrites = true;
    DeleteOptions = doAllowUndo;
}

void TGZip::SetArchiveFile(const std::string& Name)
{
    if (Loading && !Name.empty() && !win::FileExists(Name))
        return TSingleFileWriter::SetArchiveFile("");
    std::string name = Name;
    std::replace(name.begin(), name.end(), '/', '\\');
    TSingleFileWriter::SetArchiveFile(name);
}

std::string TGZip::ApplyExtension(const std::string& Input, const std::string& Output) const
{
    switch (Extension) {
    case exNone:
        return SameFilePath(Output, Input) ? win::ChangeFileExt(Output, DefaultExt()) : Output;
    case exAppendGZ:
        return win::ChangeFileExt(Output, DefaultExt());
    case exUnderScore:
        return Output.empty() ? Output : Output.substr(0, Output.size() - 1) + "_";
    }
    return Output;
}

std::string TGZip::OutputNameFor(const TFoundInput& Input, bool OnlyInput, const std::string& OutputDir)
{
    const std::string base = OnlyInput && !win::ExtractFileName(FArchiveFile).empty()
                                 ? FArchiveFile
                                 : OutputDir + win::ExtractFileName(Input.Path);
    return ApplyExtension(Input.Path, base);
}

int TGZip::Compress()
{
    int result = 0;
    try {
        if (FArchiveFile.empty() && DefaultDir.empty())
            return 0;
        if (Switch == swDelete) {
            DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
            return 0;
        }
        if (Switch == swRead || RefuseUnavailableMethod())
            return 0;
        SetCancel(false);
        std::string dir = win::ExtractFilePath(FArchiveFile);
        if (dir.empty())
            dir = DefaultDir.empty() ? win::CurrentDirectory() : DefaultDir;
        dir = win::IncludeTrailingBackslash(dir);
        if (!win::DirectoryExists(dir) && !CreateDirPath(dir)) {
            DoError(dir, "ArchiveFile Property", E_CREATEDIR, "");
            return 0;
        }
        OperationCode = opExtract;
        if (!CheckDirectory(dir))
            return 0;
        result = WriteAll(dir);
    } catch (const std::exception& e) {
        ReportFailure(e);
    }
    FileCount = result;
    return result;
}

bool TGZip::EncodeFile(TStream32& Input, TStream32& Output, const TFoundInput& File, std::int64_t MTime)
{
    SetEntryName(File.Path);
    FileName = win::ArchiveNameOf(win::ExtractFileName(File.Path));
    return WriteGzipMember(Input, Output, MTime);
}

bool TGZip::WriteGzipMember(TStream32& Input, TStream32& Output, std::int64_t MTime)
{
    std::string name;
    AnsiToOemName(0, name, FileName);
    const bool empty = FInputSize == 0;
    const auto header = EncodeGzipHeader(name, MTime, empty ? 4 : 2);
    Output.WriteBuffer(header.data(), std::int32_t(header.size()));

    std::uint32_t crc = CRC_MASK;
    std::int64_t done = 0;
    {
        // A member of known small size is packed whole, in one call; a large one, or one that
        // grows past that while it is read, streams, so memory stays flat.
        const bool whole = FInputSize > 0 && FInputSize <= kWholeDeflateLimit;
        std::vector<std::uint8_t> gathered;
        std::unique_ptr<TCompressStream> deflater;
        const auto stream = [&] {
            deflater = std::make_unique<TCompressStream>(&Output, DeflateType, -15);
            deflater->CancelPointer = CancelPtr;
            if (!gathered.empty())
                deflater->WriteBuffer(gathered.data(), std::int32_t(gathered.size()));
            std::vector<std::uint8_t>().swap(gathered);
        };
        if (whole)
            gathered.reserve(std::size_t(FInputSize));
        else
            stream();
        std::vector<std::uint8_t> block(kReadBlock);
        // Read to the end, not to the scanned size: the member describes what was read.
        for (;;) {
            if (GetCancel())
                return false;
            const std::int32_t got = Input.Read(block.data(), kReadBlock);
            if (got <= 0)
                break;
            UpdateCrc32(block.data(), got, crc);
            if (!deflater && std::int64_t(gathered.size()) + got > kWholeDeflateLimit)
                stream();
            if (deflater)
                deflater->WriteBuffer(block.data(), got);
            else
                gathered.insert(gathered.end(), block.data(), block.data() + got);
            done += got;
            BytesToRead -= got;
            DoProgress(done, std::max(FInputSize, done), UnpackedTotal);
            ProcessMessages();
        }
        if (done == 0) {
            // An empty input still needs one final block, or the member cannot be read back.
            Output.WriteBuffer(GzipEmptyDeflate.data(), std::int32_t(GzipEmptyDeflate.size()));
        } else if (deflater) {
            deflater->FinishDeflate();
        } else {
            TWholeDeflater packer;
            std::vector<std::uint8_t> packed;
            packer.DeflateAlways(gathered.data(), gathered.size(), DeflateType, packed);
            Output.WriteBuffer(packed.data(), std::int32_t(packed.size()));
        }
    }
    if (GetCancel())
        return false;
    Crc32 = ~crc;
    const auto trailer = EncodeGzipTrailer(Crc32, std::uint64_t(done));
    Output.WriteBuffer(trailer.data(), std::int32_t(trailer.size()));
    FReadSize = done;
    FWrittenSize = Output.Size();
    return true;
}

void TGZip::FileWritten(const TFoundInput& File, const std::string& Output, std::int64_t MTime)
{
    if (!OnRead)
        return;
    FileName = Output;
    DateTime = UtcToLocal(UnixToDateTime(MTime));
    PackedSize = FWrittenSize;
    UnpackedSize = FReadSize;
    MethodNumber = 8;
    MethodName = GetMethodName(atGZip, 8, 0, {});
    Encrypted = false;
    ExternalAttr = File.Data.dwFileAttributes;
    Ratio = RatioPercent64(UnpackedSize, PackedSize);
    OnRead(this, 0, FileNumber);
}
