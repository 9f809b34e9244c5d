// Cabinets through the cabinet library's FCI. The compress driver scans, decides and puts the
// finished cabinet in place; this writer hands each file to the library. Entries of an existing
// cabinet are kept: they are decoded into a private folder and go into the new cabinet again.
#pragma once

#include "core/plxBase.h"
#include "readers/plxCabGbls.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum TCompressionType : std::uint8_t { ctStore, ctMsZip, ctLzx };

class TCabInterface : public TCompBase {
public:
    using TCompBase::TCompBase;
};

using TGetNextCabinetEvent = std::function<void(TObject* Sender, CCAB& CabParameters, std::string& NewCabFileName,
                                                int PreviousCabEstimatedSize, bool& AbortCreation)>;

class TMakeCab : public TCabInterface {
public:
    explicit TMakeCab(TObject* AOwner = nullptr);
    ~TMakeCab() override;

    bool FailOnIncompressible = true;
    TCompressionType QuantumType = ctMsZip;
    TGetNextCabinetEvent OnGetNextCabinet;

    int LzxLevel() const { return FLzxLevel; }
    void SetLzxLevel(int Value) { FLzxLevel = std::clamp(Value, 15, 21); }
    int QuantumLevel() const { return FQuantumLevel; }
    void SetQuantumLevel(int Value) { FQuantumLevel = std::clamp(Value, 1, 7); }
    int QuantumMemory() const { return FQuantumMemory; }
    void SetQuantumMemory(int Value) { FQuantumMemory = std::clamp(Value, 10, 21); }
    void SetArcType(TArcType) override {}
    // The most bytes one cabinet holds; a larger run goes on in the cabinets that
    // OnGetNextCabinet names. 0 (or the default) makes a single cabinet.
    std::int64_t GetPartSize() const override { return FCabinetSize; }
    void SetPartSize(std::int64_t Value) override;

    // The cabinet library here codes stored and MSZIP folders only: LZX and Quantum are refused
    // before anything is written rather than failing half-way.
    bool MethodAvailable(TCompressMethod Method) const override
    {
        return CompressMethod.Allows(Method) && (Method == cmStore || Method == cmMsZip);
    }

    // The type word, method number and method name for CompressMethod.
    std::uint16_t CompressionTypeWord() const;

    void ProcessArchive(TCompressHeaderObj& EntryList) override;
    std::uint16_t GetHeadSize() override { return kHeadSize; }
    std::uint16_t GetLocalHeadSize() override { return kHeadSize; }
    std::uint8_t* GetHeadPtr() override { return FHead; }
    void CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList) override;
    void CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList) override;
    void CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index) override;
    std::int64_t GetEntryLength(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item) override;
    bool WriteEnding(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList) override;
    void Finish(TCompressHeaderObj& EntryList) override;
    void StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info) override;
    void ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info) override;

    virtual bool DoGetNextCabinet(CCAB& Cab, CAB_ULONG PreviousSize);
    virtual std::string GetTempFileName();
    virtual CAB_INT_PTR GetOpenInfo(const std::string& Name, std::uint16_t& Date, std::uint16_t& Time,
                                    std::uint16_t& Attributes, int& Error);

protected:
    const TCabinetLibrary* FLibrary;  // the process's library; tests put an absent one here

private:
    friend struct TMakeCabCallbacks;
    static constexpr std::uint16_t kHeadSize = 36;
    static constexpr std::int64_t kMaxInput = std::int64_t(1) << 31;
    static constexpr std::size_t kMaxFiles = 0xFFFF;
    static constexpr std::int64_t kNoCabinetLimit = 0x7FFFFFFF;
    static constexpr std::int64_t kMinCabinetSize = 1024;  // room for the headers and a block's part

    // An entry of the old cabinet, decoded into the work folder.
    struct TKeptEntry {
        std::string Name;  // as stored
        std::string Copy;  // the decoded file
        std::uint32_t DosDateTime = 0;
        std::uint16_t Attributes = 0;
    };
    // The date and attributes the next file goes in with.
    struct TAdding {
        std::uint32_t DosDateTime = 0;
        std::uint16_t Attributes = 0;
        std::int64_t Size = 0;
    };

    void CreateContext();
    void DestroyContext();
    bool AddToCabinet(const std::string& Source, const std::string& Name, const TAdding& Adding);
    void ReportFciError(const std::string& Name);
    // A kept entry of the old cabinet, under its own name or NewName.
    void AddKeptEntry(const TCompressFileInfo& Item, const std::string& NewName);
    void RemoveWorkFolder();

    HFCI FContext = nullptr;
    ERF FError{};
    std::unique_ptr<TStreamCabinetFileHandler> FHandler;
    std::uint8_t FHead[kHeadSize] = {};
    std::int64_t FCabinetSize = kNoCabinetLimit;
    int FLzxLevel = 21;
    int FQuantumLevel = 7;
    int FQuantumMemory = 21;
    std::string FWorkFolder;  // private: the old entries, the cabinets until they are complete
    std::vector<TKeptEntry> FKept;
    std::vector<std::pair<std::string, std::string>> FFollowing;  // later cabinets: written, final
    TAdding FAdding;
    std::int64_t FBytesLeft = 0;  // of the file being added
    std::size_t FFilesInSet = 0;
};
