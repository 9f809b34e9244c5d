// The RAR extractor over the external RAR library (libplxUnRar39): the library walks and decodes,
// the component selects, names, asks, overwrites and checks through the extract driver. The
// listing component lists RAR archives through ListPass of a temporary TUnRar.
#pragma once

#include "core/UnBase.h"

#include <cstdint>
#include <memory>
#include <string>

struct RARHeaderDataEx;

class TUnRar : public TUnBase {
public:
    explicit TUnRar(TObject* AOwner = nullptr);
    ~TUnRar() override;

    // Whether the library and its entry points were found.
    static bool LibraryLoaded();

    void ProcessArchive(TStream32* Archive) override;
    // Lists ArchiveName: OnRead per selected entry (folders only with ShowEmptyDirs); answers the
    // number listed.
    int ListPass(const std::string& ArchiveName);

    // Library callbacks, by message.
    int ChangeVolume(char* Name, std::intptr_t Mode);
    int ProcessData(const void* Data, std::size_t Size);
    int NeedPassword(char* Buffer, std::size_t Size);

private:
    enum TAction { acSkip = 0, acTest = 1, acExtract = 2 };

    void ExtractPass(const std::string& ArchiveName);
    void ExtractEntry(void* Handle, const std::string& Stored, bool IsDirectory);
    int ProcessEntry(void* Handle, TAction Action);
    void ReportResult(int Code, const std::string& Name);
    std::string EntryName() const;  // the header's name in the program's form, "\" separators
    bool NameCut() const;
    std::uint32_t EntryAttributes(bool ForListing) const;
    std::string HostName(const std::string& Name) const;
    bool SameVolume(const std::string& A, const std::string& B) const;

    std::unique_ptr<RARHeaderDataEx> FHeader;
    TAction FAction = acSkip;
    bool FTestOnly = false;
    std::int64_t FArchiveUnpacked = 0;
    std::int64_t FBytesExpected = 0;
    std::int64_t FEntryLeft = 0;
    std::unique_ptr<TStream32> FOut;  // the current entry's output (file, list or caller target)
    bool FWriteFailed = false;
    bool FWalkDamageReported = false;  // by the list pass, so the extraction pass says it once
    // The volume the library reads: the archive name its header record would give. The library
    // reads every volume before its first header, so the component keeps it.
    std::string FVolumeInUse;
};
