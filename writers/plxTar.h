// TAR archives in the old GNU form through the compress driver, and the base of the writers that
// build a TAR and then compress it (plxTarGZ.h, plxTarBZ.h).
#pragma once

#include "core/plxBase.h"
#include "readers/TarFormat.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace win {
class ReadOnceFile;
}

class TTar : public TCompBase {
public:
    explicit TTar(TObject* AOwner = nullptr);

    std::uint32_t UnixUID = 2;
    std::uint32_t UnixGID = 2;
    std::string UnixUName = "root";
    std::string UnixGName = "root";

    // Forces this writer's own type, then gives an ArchiveFile without extension DefaultExt.
    void SetArcType(TArcType Value) override;

    std::uint16_t GetHeadSize() override { return TarBlockSize; }
    std::uint16_t GetLocalHeadSize() override { return TarBlockSize; }
    std::uint8_t* GetHeadPtr() override { return FHead; }
    void CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList) override;
    void CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList) override;
    void CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index) override;
    void CopyKeptEntry(TStream32* OldArchive, TStream32& Output, TCompressFileInfo& Item) override;
    void StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info) override;
    void ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info) override;
    std::int64_t GetEntryLength(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item) override;
    bool WriteEnding(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList) override;
    void Finish(TCompressHeaderObj& EntryList) override;

protected:
    virtual TArcType OwnArcType() const { return atTar; }
    bool WritesEntriesAlone() const override { return true; }
    bool ListsHeadCopy() const override { return false; }
    // A header takes the Unix time the walk listed; a new archive compares no times.
    bool WalkedEntriesNeedDosTime() const override { return false; }
    // Set by the compressing writers: in move mode the sources are kept until the compressed
    // archive is in place, then deleted by DeleteDeferredMoves.
    bool DeferMoves = false;
    std::vector<std::string> DeferredMoves;
    void DeleteDeferredMoves();

private:
    TTarWriteEntry NewEntry(const std::string& StoredName, bool Directory, std::int64_t Size, std::int64_t MTime) const;
    void FillEntry(TTarWriteEntry& Entry, const std::string& StoredName, bool Directory, std::int64_t Size,
                   std::int64_t MTime) const;
    // Copies Size bytes of Input into Output; a file that ended early is padded with zeros.
    // False when cancelled; Changed tells that the file did not have Size bytes.
    bool CopyFileData(win::ReadOnceFile& Input, TStream32& Output, std::int64_t Size, bool& Changed);

    std::uint8_t FHead[TarBlockSize] = {};
    std::vector<std::uint8_t> FCopyBlock;
    TTarWriteEntry FEntry;
    std::vector<std::uint8_t> FHeaders;
    std::map<std::int64_t, TTarEntry> FOldEntries;  // by the entry's first byte in the old archive
    std::set<std::string> FChangedWhileRead;        // sources that are not deleted in move mode

    // The old file entry a hard link names: the last of that name before the link; null for none.
    const TTarEntry* LinkedFile(const TTarEntry& Link);
    // Link as a file entry of that name holding File's data, in place of the link record.
    void WriteLinkAsFile(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item, const std::string& Name,
                         const TTarEntry& Link, const TTarEntry& File);
    // Old entries this run copied as they were, by offset; old entries' offsets by name (made
    // when the first link needs them).
    std::set<std::int64_t> FKeptAsTheyWere;
    std::map<std::string, std::vector<std::int64_t>> FOldNames;
};

// Builds a TAR, then compresses it: the entries of an existing archive are kept, and a result is
// reported only when the compressed archive replaced the target.
class TCompressedTar : public TTar {
public:
    using TTar::TTar;
    int Compress() override;

protected:
    // Writes the whole existing archive's TAR into Tar; false when it cannot be read.
    virtual bool DecompressExisting(const std::string& Archive, const std::string& Tar) = 0;
    // Compresses Tar into a file of WorkDir; answers its name, "" on failure.
    virtual std::string CompressTar(const std::string& Tar, const std::string& WorkDir) = 0;
    // Shares what the host listens to with an internal writer.
    static void ShareEvents(TZipCommon& From, TZipCommon& To);
};
