// Lists in which components keep per-entry header records between the passes of a run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Err_Msgs.h"
#include "core/plxConsts.h"

class THeaderObj : public TObject {
public:
    std::uint32_t RecordSize = 0;
    std::uint32_t Count = 0;
};

// The extractors' member list: a fixed 24-byte record per member and an optional block (a name
// or a saved header) kept beside it; a member added without a block has an empty one.
class TUnBaseHeaderObj : public THeaderObj {
public:
    static constexpr std::uint32_t ItemSize = 24;
    using TRecord = std::array<std::uint8_t, ItemSize>;

    TUnBaseHeaderObj() { Init(); }
    void Init();
    bool AddItem(const void* Record, const void* NameBlock, std::uint32_t NameLength);
    // Raise E_RAISE E_INDEXOUTOFBOUNDS "Index out of bounds" for an index outside the list.
    std::uint8_t* GetItem(std::uint32_t Index);
    const std::vector<std::uint8_t>& GetBlock(std::uint32_t Index) const;
    void Clear();
    void Done() { Clear(); }

private:
    std::vector<TRecord> Records;
    std::vector<std::vector<std::uint8_t>> Blocks;
};

// What the compress driver does with an entry of the list.
enum TEntryAction : std::uint8_t {
    eaCompress = 0,    // compress from disk
    eaCopy = 1,        // copy the old entry unchanged
    eaLeaveOut = 2,    // dropped, replaced or failed
    eaCopyRenamed = 3  // copy the old entry under a new name
};

// One entry of the writers' list.
struct TCompressFileInfo {
    std::string SavedHeader;  // the entry's directory record (ZIP: its central header)
    TEntryAction Action = eaCompress;
    std::int64_t Offset = 0;  // first byte of the entry, old archive or new output
    TEncryptionMethod Encryption = emNone;
    bool HeaderEnciphered = false;
    std::uint16_t HighSizeWord = 0;    // bits 32 to 47 of the file size
    std::vector<std::uint8_t> Header;  // the writer's header bytes (head size)
    std::vector<std::uint8_t> Data;    // optional owned block (ZIP: the entry comment)
};

// The writers' entry list: per entry its record, name (disk path or stored name), a 16-bit value
// (the length of its base folder) and an optional extra block (empty when none).
class TCompressHeaderObj : public THeaderObj {
public:
    static constexpr std::uint32_t ItemSize = 66;

    TCompressHeaderObj() { RecordSize = ItemSize; }
    // Taken by value: a caller done with its record moves it in (a header block is not copied).
    bool AddItem(TCompressFileInfo Record, const std::string& Name, std::uint16_t Value16, std::uint32_t ExtraLength,
                 const void* ExtraBlock);
    // Raise E_RAISE E_INDEXOUTOFBOUNDS "Index out of bounds" for an index outside the list.
    TCompressFileInfo& GetItem(std::uint32_t Index);
    std::string& Name(std::uint32_t Index);
    std::uint16_t& Value(std::uint32_t Index);
    const std::vector<std::uint8_t>& Extra(std::uint32_t Index) const;
    void SetExtra(std::uint32_t Index, std::vector<std::uint8_t> Block);
    // Position of a name compared without regard to case, or -1; the first of several.
    int IndexOfName(std::string_view Name) const;
    // Position of the name exactly as given, or -1.
    int IndexOfExactName(std::string_view Name) const;
    const std::vector<std::string>& Names() const { return NameList; }
    void Clear();
    // Removes the first Number entries; the others move to the front.
    void DropFront(std::uint32_t Number);

private:
    void CheckIndex(std::uint32_t Index) const;
    void RefreshFoldIndex() const;
    std::vector<TCompressFileInfo> Records;
    std::vector<std::vector<std::uint8_t>> Extras;
    std::vector<std::string> NameList;
    std::vector<std::string> FSpareNames;  // names dropped from the front, kept for their buffers
    std::vector<std::uint16_t> Values;
    // The names by case-folded form, made at the first lookup without regard to case. A name
    // handed out for writing (Name) is folded again at the next lookup: a name changed through a
    // reference kept across a lookup would be missed.
    mutable bool FFoldIndexed = false;
    mutable std::unordered_map<std::string, std::vector<std::uint32_t>> FByFold;  // positions, ascending
    mutable std::vector<std::string> FFolded;                                     // each position's key
    mutable std::vector<std::uint32_t> FRefold;                                   // handed out since
    mutable std::vector<bool> FRefoldMarked;
};

// The extractors' in-memory targets: a list of fixed-size records.
class TRecordList : public THeaderObj {
public:
    explicit TRecordList(std::uint32_t Size) { RecordSize = Size; }
    void AddRecord(const void* Record);
    std::uint8_t* GetRecord(std::uint32_t Index);
    void Clear();

private:
    std::vector<std::uint8_t> Bytes;
};
