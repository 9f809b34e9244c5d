// TAR, the single-member formats (GZip, .Z, bzip2), the encoded-text files and RAR.
#include <algorithm>
#include <cctype>

#include "core/EncodedText.h"
#include "core/TarHeader.h"
#include "core/plxGbls.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"
#include "core/Err_Msgs.h"
#include "readers/Pelix.h"
#include "readers/plxUnRar.h"
#include "readers/plxUnTar.h"

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The name a compressed file's member had: the archive's name less its compression extension.
std::string MemberNameOf(std::string name, std::initializer_list<const char*> dropped,
                         std::initializer_list<const char*> toTar)
{
    const std::string ext = Lower(win::ExtractFileExt(name));
    for (const char* d : dropped)
        if (ext == d)
            return name.substr(0, name.size() - ext.size());
    for (const char* t : toTar)
        if (ext == t)
            return name.substr(0, name.size() - ext.size()) + ".tar";
    return name;
}

}  // namespace

void TPelix::ReadTar()
{
    // The extractor's reader and names: what is listed is what comes out, under the same name.
    if (!FTarReader) {
        FTarReader = std::make_unique<TTarReader>(
            [this](std::int64_t at, void* buf, std::int64_t n) { return ReadAt(at, buf, n); }, ArchiveSize);
    }
    TTarEntry tar;
    if (FTarReader->Next(tar) != TTarReadStatus::Entry) {
        EndWalk();
        return;
    }
    FCurrentOffset = FTarReader->Offset();
    const std::string name = TarEntryName(tar);
    if (name.empty() || !TarEntryExtracted(tar))
        return;
    TPelixEntry entry;
    entry.Name = name;
    std::replace(entry.Name.begin(), entry.Name.end(), '/', '\\');
    entry.Directory = tar.IsDirectory();
    entry.Date = UnixToDateTime(tar.MTime);
    entry.Unpacked = tar.Sparse ? tar.SparseData.RealSize : tar.Size;
    entry.Packed = tar.Size;
    entry.Crc = tar.Checksum;
    entry.ExternalAttr = entry.Directory ? 0x10 : 0;
    entry.Offset = tar.HeaderOffset;
    ListEntry(entry);
}

void TPelix::ReadGZip()
{
    const std::uint16_t magic = W(0);
    if (magic != 0x8B1F && magic != 0x9E1F && magic != 0x9D1F) {
        EndWalk();
        return;
    }
    const bool compressFile = magic == 0x9D1F;
    const std::uint8_t flags = B(3);
    TPelixEntry entry;
    std::int64_t pos = FTurnStart + (compressFile ? 3 : 10);
    std::string name;
    if (!compressFile) {
        if (flags & 0x04) {
            std::uint8_t len[2] = {};
            ReadAt(pos, len, 2);
            pos += 2 + (len[0] | len[1] << 8);
        }
        if (flags & 0x08)
            name = StoredNameToUtf8(ReadStringAt(pos, 1023));  // as the extractor reads it
        if (flags & 0x10)
            ReadStringAt(pos, 65535);
        if (flags & 0x02)
            pos += 2;
        entry.Date = UnixToDateTime(std::int64_t(L(4)));
    } else {
        entry.Date = ArchiveFileDate();
    }
    if (name.empty()) {
        // The archive's own name tells the member's better than a blind cut of its extension.
        const std::string own = win::ExtractFileName(FArchiveFile);
        name = MemberNameOf(own, {".gz", ".gzip"}, {".tgz"});
        if (name == own)
            name = win::ChangeFileExt(own, "");
    }
    name = MemberNameOf(name, {".gz", ".gzip"}, {".tgz"});
    if (name.find('.') == std::string::npos && name.size() > 4 && Lower(name).ends_with("_tar"))
        name[name.size() - 4] = '.';
    entry.Name = name;
    if (compressFile) {
        // A .Z file has no trailer: neither its CRC nor its unpacked size is stored.
        entry.Packed = entry.Unpacked = std::max<std::int64_t>(ArchiveSize - pos, 0);
    } else {
        std::uint8_t trailer[8] = {};
        ReadAt(ArchiveSize - 8, trailer, 8);
        entry.Crc = std::uint32_t(trailer[0] | trailer[1] << 8 | trailer[2] << 16 | std::uint32_t(trailer[3]) << 24);
        entry.Unpacked =
            std::uint32_t(trailer[4] | trailer[5] << 8 | trailer[6] << 16 | std::uint32_t(trailer[7]) << 24);
        entry.Packed = std::max<std::int64_t>(ArchiveSize - pos - 8, 0);
        // The stored size is modulo 4 GiB. Deflate grows data by a few bytes per block at most,
        // so only a packed size beyond that growth means the count has wrapped.
        const std::int64_t growth = entry.Packed / 16000 * 5 + 64;
        while (entry.Unpacked + growth < entry.Packed)
            entry.Unpacked += std::int64_t(1) << 32;
    }
    entry.Encrypted = (flags & 0x20) != 0 && !compressFile;
    entry.Method = B(2);
    entry.Facts.FirstBytes[0] = B(0);
    entry.Facts.FirstBytes[1] = B(1);
    const std::uint32_t attr = ArchiveFileAttributes();
    entry.ExternalAttr = attr == 128 ? 0 : attr;
    entry.Offset = FTurnStart;
    // One entry per file, however many members it holds.
    EndWalk();
    SetEntryName(entry.Name);
    if (OnReadFile)
        OnReadFile(this, FileName);
    ++FileCount;
    AddTotals(entry.Unpacked, entry.Packed);
    FillEntry(entry);
}

void TPelix::ReadBz2()
{
    EndWalk();
    if (!(B(0) == 'B' && B(1) == 'Z' && B(2) == 'h')) {
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        return;
    }
    TPelixEntry entry;
    entry.Name = MemberNameOf(win::ExtractFileName(FArchiveFile), {".bz", ".bz2", ".bzip", ".bzip2"}, {".tbz", ".tbz2"});
    entry.Date = ArchiveFileDate();
    entry.Packed = entry.Unpacked = std::max<std::int64_t>(ArchiveSize - 10, 0);
    entry.Method = std::uint16_t(B(3) >= '0' ? B(3) - '0' : 0);
    entry.ExternalAttr = ArchiveFileAttributes();
    entry.Offset = 11;
    SetEntryName(entry.Name);
    if (OnReadFile)
        OnReadFile(this, FileName);
    FileCount = 1;
    AddTotals(entry.Unpacked, entry.Packed);
    FillEntry(entry);
}

void TPelix::ListEncodedText()
{
    FHeaderSize = 0;
    std::string text(std::size_t(std::min<std::int64_t>(ArchiveSize, kHeaderBufferSize)), '\0');
    text.resize(std::size_t(ReadAt(0, text.data(), std::int64_t(text.size()))));
    std::string stored;
    EncodedTextType(text, &stored);
    const std::string name = OemName(stored.substr(0, 255));
    SetEntryName(name);
    if (OnReadFile)
        OnReadFile(this, FileName);
    if (!OnRead)
        return;
    TPelixEntry entry;
    entry.Name = name;
    entry.Date = ArchiveFileDate();
    entry.Packed = entry.Unpacked = ArchiveSize;
    entry.NoMethodName = true;
    entry.ExternalAttr = 32;
    entry.RatioZero = true;
    FileCount = 1;
    AddTotals(ArchiveSize, ArchiveSize);
    FillEntry(entry);
}

void TPelix::ListRar()
{
    FStream.reset();
    if (!TUnRar::LibraryLoaded())
        RaiseError(FArchiveFile, "", VolumeName, E_UNRARDLL);
    // The library lists; OnRead fires with the temporary extractor as Sender.
    TUnRar rar;
    rar.SetArchiveFile(FArchiveFile);
    rar.VolumeName = FArchiveFile;
    rar.OperationCode = opListTarget2;
    rar.SetFileSpec(FileSpec());
    rar.SetExcludeSpec(ExcludeSpec());
    rar.RecurseDirs = RecurseDirs;
    rar.SetPassword(Password());
    rar.OnGetPassword = OnGetPassword;
    rar.OnRead = OnRead;
    rar.OnReadBegin = OnReadBegin;
    rar.OnReadEnd = OnReadEnd;
    rar.OnElapsedTime = OnElapsedTime;
    rar.OnNextVolume = OnNextVolume;
    rar.OnError = OnError;
    rar.ShowEmptyDirs = ShowEmptyDirs;
    rar.ArchiveOffset = ArchiveOffset;
    rar.CancelPtr = CancelPtr;
    FileCount = rar.ListPass(FArchiveFile);
    UnpackedTotal = rar.UnpackedTotal;
    PackedTotal = rar.PackedTotal;
}
