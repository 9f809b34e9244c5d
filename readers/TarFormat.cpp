#include "readers/TarFormat.h"

#include "core/Endian.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr int NameWidth = 100;
constexpr std::int64_t MaxOctal11 = (std::int64_t(1) << 33) - 1;  // largest value of 11 octal digits
constexpr std::int64_t MaxValue = std::int64_t(1) << 62;          // keeps offset arithmetic in range
const char UstarMagic[6] = {'u', 's', 't', 'a', 'r', '\0'};       // POSIX: has a name prefix
const char GnuMagic[8] = {'u', 's', 't', 'a', 'r', ' ', ' ', '\0'};

std::int64_t RoundUpToBlock(std::int64_t n)
{
    return (n + TarBlockSize - 1) / TarBlockSize * TarBlockSize;
}

std::string TextField(const std::uint8_t* field, int width)
{
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(field, 0, std::size_t(width)));
    return std::string(reinterpret_cast<const char*>(field), end ? std::size_t(end - field) : std::size_t(width));
}

bool AllZero(const std::uint8_t* block)
{
    return std::all_of(block, block + TarBlockSize, [](std::uint8_t b) { return b == 0; });
}

// Some old archivers summed the header as signed bytes.
bool SignedChecksumValid(const std::uint8_t* header)
{
    std::int64_t sum = 0;
    for (int i = 0; i < TarBlockSize; ++i)
        sum += (i >= 148 && i < 156) ? 0x20 : std::int8_t(header[i]);
    auto stored = TarNumericField(header + 148, 8);
    return stored && *stored == sum;
}

// A decimal pax value; a fraction (sub-second times) is dropped.
std::optional<std::int64_t> PaxNumber(const std::string& text, bool allowNegative)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-' && allowNegative) {
        negative = true;
        ++i;
    }
    if (i == text.size() || text[i] < '0' || text[i] > '9')
        return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value >= MaxValue / 10)
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] != '.')
        return std::nullopt;
    return negative ? -value : value;
}

// Right-aligned octal digits in Width - 1 places padded with Pad, then NUL. Callers keep Value in range.
void PutOctal(std::uint8_t* field, int width, std::int64_t value, char pad)
{
    std::memset(field, pad, std::size_t(width - 1));
    int i = width - 2;
    do {
        field[i--] = std::uint8_t('0' + (value & 7));
        value >>= 3;
    } while (value > 0 && i >= 0);
    field[width - 1] = 0;
}

void PutText(std::uint8_t* field, int width, const std::string& text)
{
    std::memset(field, 0, std::size_t(width));
    std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), std::size_t(width)));
}

// Writes into the block L an "L" record for a name of Length bytes, its header made from the
// entry's own header Base.
void PutLongNameRecord(std::uint8_t* L, const std::uint8_t* Base, std::size_t Length)
{
    std::memcpy(L, Base, TarBlockSize);
    PutText(L, NameWidth, "././@LongLink");
    L[156] = 'L';
    for (int at : {100, 108, 116})
        std::memcpy(L + at, "     0 \0", 8);
    std::memcpy(L + 136, "          0 ", 12);
    PutOctal(L + 124, 12, std::int64_t(Length) + 1, ' ');
    PutText(L + 297, 32, "system");
    PutOctal(L + 148, 8, TarHeaderChecksum(L), ' ');
}

// Appends an "L" record for a name of Length bytes, its header made from the entry's own header
// Base (not in Out); answers where in Out the name goes (the zeros after it are already there).
std::size_t AppendLongNameRecord(std::vector<std::uint8_t>& Out, const std::uint8_t* Base, std::size_t Length)
{
    const std::size_t at = Out.size() + TarBlockSize;
    // The record, then the name, its terminating zero and the padding to a block.
    Out.resize(std::size_t(RoundUpToBlock(std::int64_t(at + Length + 1))), 0);
    PutLongNameRecord(Out.data() + at - TarBlockSize, Base, Length);
    return at;
}

}  // namespace

bool TTarEntry::IsDirectory() const
{
    return TypeFlag == '5' || ((TypeFlag == '0' || TypeFlag == 0) && !Name.empty() && Name.back() == '/');
}

bool TTarEntry::IsFile() const
{
    return (TypeFlag == '0' || TypeFlag == 0 || TypeFlag == '7') && !IsDirectory() && !Sparse;
}

bool ParsePaxRecordList(const std::string& Records, std::vector<std::pair<std::string, std::string>>& List)
{
    std::size_t pos = 0;
    while (pos < Records.size()) {
        if (Records[pos] == 0)
            break;  // padding after the last record
        std::size_t length = 0;
        std::size_t i = pos;
        for (; i < Records.size() && Records[i] >= '0' && Records[i] <= '9' && i - pos < 9; ++i)
            length = length * 10 + std::size_t(Records[i] - '0');
        if (i == pos || i >= Records.size() || Records[i] != ' ')
            return false;
        const std::size_t body = i + 1;
        if (length <= body - pos || length > Records.size() - pos || Records[pos + length - 1] != '\n')
            return false;
        const std::string record = Records.substr(body, pos + length - 1 - body);
        const std::size_t eq = record.find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        List.emplace_back(record.substr(0, eq), record.substr(eq + 1));
        pos += length;
    }
    return true;
}

bool ParsePaxRecords(const std::string& Records, std::vector<std::pair<std::string, std::string>>& Values)
{
    std::vector<std::pair<std::string, std::string>> list;
    if (!ParsePaxRecordList(Records, list))
        return false;
    for (auto& record : list) {
        const std::string& key = record.first;
        auto same = std::find_if(Values.begin(), Values.end(), [&](const auto& kv) { return kv.first == key; });
        if (same != Values.end())
            same->second = std::move(record.second);
        else
            Values.push_back(std::move(record));
    }
    return true;
}

namespace {

constexpr std::size_t MaxSparseChunks = 1 << 20;

// "offset,size,offset,size,..." of GNU.sparse.map.
bool ParseSparseMapText(const std::string& text, std::vector<TTarSparseChunk>& map)
{
    std::vector<std::int64_t> numbers;
    std::size_t pos = 0;
    while (pos <= text.size() && !text.empty()) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        auto n = PaxNumber(text.substr(pos, comma - pos), false);
        if (!n || numbers.size() >= 2 * MaxSparseChunks)
            return false;
        numbers.push_back(*n);
        pos = comma + 1;
    }
    if (numbers.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < numbers.size(); i += 2)
        map.push_back({numbers[i], numbers[i + 1]});
    return true;
}

// Ordered, inside the file, and exactly the stored data.
bool SparseMapValid(const TTarSparse& sparse, std::int64_t dataSize)
{
    if (sparse.RealSize < 0 || sparse.RealSize > MaxValue)
        return false;
    std::int64_t end = 0, stored = 0;
    for (const auto& c : sparse.Map) {
        if (c.Offset < end || c.Size < 0 || c.Size > sparse.RealSize || c.Offset > sparse.RealSize - c.Size)
            return false;
        end = c.Offset + c.Size;
        stored += c.Size;
    }
    return stored == dataSize;
}

// Old GNU map entries: Count pairs of 12-byte numbers; an empty offset ends the list.
bool ReadOldGnuMapEntries(const std::uint8_t* at, int count, std::vector<TTarSparseChunk>& map)
{
    for (int i = 0; i < count; ++i, at += 24) {
        if (at[0] == 0)
            return true;
        auto offset = TarNumericField(at, 12);
        auto size = TarNumericField(at + 12, 12);
        if (!offset || !size || map.size() >= MaxSparseChunks)
            return false;
        map.push_back({*offset, *size});
    }
    return true;
}

}  // namespace

struct TTarReader::TPaxValues {
    // Applies the records to the entry; false for a size that cannot be trusted.
    static bool Apply(const std::vector<std::pair<std::string, std::string>>& values, TTarEntry& entry)
    {
        std::string sparseName;
        for (const auto& [key, value] : values) {
            if (key.starts_with("GNU.sparse.")) {
                ApplySparse(key, value, entry, sparseName);
            } else if (key == "path")
                entry.Name = value;
            else if (key == "linkpath")
                entry.LinkName = value;
            else if (key == "uname")
                entry.UName = value;
            else if (key == "gname")
                entry.GName = value;
            else if (key == "size") {
                auto n = PaxNumber(value, false);
                if (!n)
                    return false;
                entry.Size = *n;
            } else if (key == "mtime" || key == "uid" || key == "gid") {
                auto n = PaxNumber(value, key == "mtime");
                if (!n)
                    continue;  // a bad time or id loses nothing
                (key == "mtime" ? entry.MTime : key == "uid" ? entry.Uid : entry.Gid) = *n;
            }
        }
        if (!sparseName.empty())
            entry.Name = sparseName;
        return true;
    }

    // The sparse map of the pax forms: 0.0 (repeated offset/numbytes records, taken in order),
    // 0.1 (one map record) and 1.0 (major 1: the map leads the data).
    static void ApplySparseList(const std::vector<std::pair<std::string, std::string>>& list, TTarEntry& entry)
    {
        // An offset waits for its numbytes record; -1 while none does.
        std::int64_t offset = -1;
        for (const auto& [key, value] : list) {
            if (key == "GNU.sparse.offset") {
                offset = PaxNumber(value, false).value_or(-1);
                entry.Sparse = true;
            } else if (key == "GNU.sparse.numbytes") {
                auto size = PaxNumber(value, false);
                if (offset < 0 || !size || entry.SparseData.Map.size() >= MaxSparseChunks)
                    entry.SparseData.Broken = true;
                else
                    entry.SparseData.Map.push_back({offset, *size});
                offset = -1;
            }
        }
    }

    static void ApplySparse(const std::string& key, const std::string& value, TTarEntry& entry, std::string& name)
    {
        if (key == "GNU.sparse.name") {
            name = value;
        } else if (key == "GNU.sparse.realsize" || key == "GNU.sparse.size") {
            entry.Sparse = true;
            auto size = PaxNumber(value, false);
            entry.SparseData.RealSize = size.value_or(0);
            entry.SparseData.Broken |= !size;
        } else if (key == "GNU.sparse.map") {
            entry.Sparse = true;
            entry.SparseData.Map.clear();
            entry.SparseData.Broken |= !ParseSparseMapText(value, entry.SparseData.Map);
        } else if (key == "GNU.sparse.major") {
            entry.Sparse = true;
            entry.SparseData.MapInData = value == "1";
        }
    }
};

TTarReader::TTarReader(TReadAt Read, std::int64_t ArchiveSize)
    : FRead(std::move(Read)), FArchiveSize(std::clamp<std::int64_t>(ArchiveSize, 0, MaxValue))
{}

TTarReadStatus TTarReader::Fail(TTarReadStatus status)
{
    FFinished = true;
    FLastStatus = status;
    return status;
}

TTarReadStatus TTarReader::ReadBlock(std::int64_t at, std::uint8_t* block) const
{
    if (at + TarBlockSize > FArchiveSize)
        return TTarReadStatus::Truncated;
    return FRead(at, block, TarBlockSize) == TarBlockSize ? TTarReadStatus::Entry : TTarReadStatus::Truncated;
}

TTarReadStatus TTarReader::ReadMeta(std::int64_t at, std::int64_t size, std::string& text) const
{
    if (size > TarMaxMetaSize)
        return TTarReadStatus::Corrupt;
    if (at + size > FArchiveSize)
        return TTarReadStatus::Truncated;
    text.assign(std::size_t(size), '\0');
    if (FRead(at, text.data(), size) != size)
        return TTarReadStatus::Truncated;
    return TTarReadStatus::Entry;
}

TTarReadStatus TTarReader::Next(TTarEntry& Entry)
{
    if (FFinished)
        return FLastStatus;
    std::string longName, longLink;
    bool haveLongName = false, haveLongLink = false, pending = false;
    std::vector<std::pair<std::string, std::string>> pax, paxList;
    const std::int64_t first = FOffset;

    // Each turn moves FOffset forward by at least one block, so the loop ends with the archive.
    while (true) {
        if (FOffset >= FArchiveSize)
            return Fail(pending || FPaddingCut ? TTarReadStatus::Truncated : TTarReadStatus::End);
        std::uint8_t h[TarBlockSize];
        if (ReadBlock(FOffset, h) != TTarReadStatus::Entry)
            return Fail(TTarReadStatus::Truncated);
        if (AllZero(h)) {
            FEndMarked = !pending;
            return Fail(pending ? TTarReadStatus::Corrupt : TTarReadStatus::End);
        }
        if (!TarHeaderValid(h) && !SignedChecksumValid(h))
            return Fail(TTarReadStatus::Corrupt);
        auto headerSize = TarNumericField(h + 124, 12);
        if (!headerSize)
            return Fail(TTarReadStatus::Corrupt);
        const char type = char(h[156]);
        const std::int64_t data = FOffset + TarBlockSize;

        if (type == 'L' || type == 'K' || type == 'x' || type == 'X' || type == 'g') {
            std::string text;
            if (auto s = ReadMeta(data, *headerSize, text); s != TTarReadStatus::Entry)
                return Fail(s);
            if (type == 'L' || type == 'K') {
                text.resize(std::min(text.size(), text.find('\0')));
                (type == 'L' ? longName : longLink) = std::move(text);
                (type == 'L' ? haveLongName : haveLongLink) = true;
            } else if (type == 'g') {
                if (!ParsePaxRecords(text, FGlobals))
                    return Fail(TTarReadStatus::Corrupt);
            } else {
                std::vector<std::pair<std::string, std::string>> list;
                if (!ParsePaxRecordList(text, list) || !ParsePaxRecords(text, pax))
                    return Fail(TTarReadStatus::Corrupt);
                paxList.insert(paxList.end(), list.begin(), list.end());
            }
            pending = true;
            FOffset = data + RoundUpToBlock(*headerSize);
            continue;
        }

        TTarEntry e;
        e.TypeFlag = type;
        e.Name = TextField(h, NameWidth);
        if (std::memcmp(h + 257, UstarMagic, sizeof UstarMagic) == 0 && h[345] != 0)
            e.Name = TextField(h + 345, 155) + "/" + e.Name;
        e.LinkName = TextField(h + 157, NameWidth);
        e.Mode = std::uint32_t(TarNumericField(h + 100, 8).value_or(0) & 0xFFFFFFFF);
        e.Uid = TarNumericField(h + 108, 8).value_or(0);
        e.Gid = TarNumericField(h + 116, 8).value_or(0);
        e.MTime = TarTimeField(h + 136, 12).value_or(0);
        e.UName = TextField(h + 265, 32);
        e.GName = TextField(h + 297, 32);
        e.Size = *headerSize;
        e.Checksum = std::uint32_t(TarNumericField(h + 148, 8).value_or(0));
        if (haveLongName)
            e.Name = std::move(longName);
        if (haveLongLink)
            e.LinkName = std::move(longLink);
        if (!TPaxValues::Apply(FGlobals, e) || !TPaxValues::Apply(pax, e))
            return Fail(TTarReadStatus::Corrupt);
        TPaxValues::ApplySparseList(paxList, e);
        std::int64_t dataStart = data;
        if (type == 'S')
            if (auto s = ReadOldGnuSparse(h, e, dataStart); s != TTarReadStatus::Entry)
                return Fail(s);
        if (e.Size > MaxValue)
            return Fail(TTarReadStatus::Corrupt);
        if (dataStart + e.Size > FArchiveSize)
            return Fail(TTarReadStatus::Truncated);

        e.HeaderOffset = first;
        e.DataOffset = dataStart;
        e.NextOffset = std::min(dataStart + RoundUpToBlock(e.Size), FArchiveSize);
        // The entry's data is whole, but an archive cut inside its padding was cut short.
        FPaddingCut = e.NextOffset < dataStart + RoundUpToBlock(e.Size);
        FOffset = e.NextOffset;
        if (e.Sparse) {
            if (e.SparseData.MapInData)
                ReadSparseMapInData(e);
            e.SparseData.Valid = !e.SparseData.Broken && SparseMapValid(e.SparseData, e.Size);
        }
        Entry = std::move(e);
        return TTarReadStatus::Entry;
    }
}

TTarReadStatus TTarReader::ReadOldGnuSparse(const std::uint8_t* header, TTarEntry& entry, std::int64_t& data)
{
    entry.Sparse = true;
    TTarSparse& sparse = entry.SparseData;
    auto realSize = TarNumericField(header + 483, 12);
    sparse.RealSize = realSize.value_or(0);
    sparse.Broken = !realSize || !ReadOldGnuMapEntries(header + 386, 4, sparse.Map);
    // Extension blocks, 21 entries each, while the previous block says more follow.
    for (bool more = header[482] != 0; more; data += TarBlockSize) {
        std::uint8_t block[TarBlockSize];
        if (ReadBlock(data, block) != TTarReadStatus::Entry)
            return TTarReadStatus::Truncated;
        sparse.Broken |= !ReadOldGnuMapEntries(block, 21, sparse.Map);
        more = block[504] != 0;
    }
    return TTarReadStatus::Entry;
}

// pax 1.0: decimal lines at the start of the data (the count, then offset and size of each
// stretch), padded to a block; the file's data follows.
void TTarReader::ReadSparseMapInData(TTarEntry& entry) const
{
    TTarSparse& sparse = entry.SparseData;
    sparse.Map.clear();
    std::string text;
    std::int64_t at = entry.DataOffset;
    std::size_t pos = 0;
    const auto nextNumber = [&]() -> std::optional<std::int64_t> {
        for (;;) {
            const std::size_t newline = text.find('\n', pos);
            if (newline != std::string::npos) {
                auto n = PaxNumber(text.substr(pos, newline - pos), false);
                pos = newline + 1;
                return n;
            }
            // Read on, a block at a time, within the member's data and a sane bound.
            const std::int64_t used = at - entry.DataOffset;
            if (used >= entry.Size || used >= TarMaxMetaSize)
                return std::nullopt;
            std::uint8_t block[TarBlockSize];
            if (ReadBlock(at, block) != TTarReadStatus::Entry)
                return std::nullopt;
            text.append(reinterpret_cast<const char*>(block), TarBlockSize);
            at += TarBlockSize;
        }
    };
    auto count = nextNumber();
    if (!count || *count > std::int64_t(MaxSparseChunks)) {
        sparse.Broken = true;
        return;
    }
    for (std::int64_t i = 0; i < *count; ++i) {
        auto offset = nextNumber();
        auto size = offset ? nextNumber() : std::nullopt;
        if (!size) {
            sparse.Broken = true;
            return;
        }
        sparse.Map.push_back({*offset, *size});
    }
    const std::int64_t mapSize = RoundUpToBlock(std::int64_t(pos));
    if (mapSize > entry.Size) {
        sparse.Broken = true;
        return;
    }
    entry.DataOffset += mapSize;
    entry.Size -= mapSize;
}

// ---- writing ----

std::int64_t TarDataPadding(std::int64_t Size)
{
    return RoundUpToBlock(std::max<std::int64_t>(Size, 0)) - Size;
}

std::int64_t TarEndingSize(std::int64_t Length)
{
    constexpr std::int64_t Record = 20 * TarBlockSize;
    const std::int64_t withEnd = Length + 2 * TarBlockSize;
    return 2 * TarBlockSize + (Record - withEnd % Record) % Record;
}

std::vector<std::uint8_t> EncodeTarHeaders(const TTarWriteEntry& Entry)
{
    std::vector<std::uint8_t> out;
    EncodeTarHeaders(Entry, out);
    return out;
}

namespace {

// Eight octal digits of the low 24 bits, most significant first, as the bytes of a word stored
// little-endian: the digits' bits spread to a byte each in three steps, not a loop per digit.
std::uint64_t OctalDigits8(std::uint64_t value)
{
    std::uint64_t x = (value & 0xFFF) | ((value & 0xFFF000) << 20);
    x = (x & 0x0000003F0000003Full) | ((x & 0x00000FC000000FC0ull) << 10);
    x = (x & 0x0007000700070007ull) | ((x & 0x0038003800380038ull) << 5);
    return __builtin_bswap64(x) + 0x3030303030303030ull;  // byte k held digit k
}

// PutOctal with '0' as the pad for the two widths of a header's numbers: every place is a digit
// (the same bytes), asked six times for every entry written.
void PutOctal8(std::uint8_t* field, std::uint64_t value)
{
    // Seven digits and the NUL: the eight digits moved down a place drop the eighth.
    PutLE64(field, OctalDigits8(value) >> 8);
}

void PutOctal12(std::uint8_t* field, std::uint64_t value)
{
    const std::uint64_t high = (value >> 24) & 0777;
    field[0] = std::uint8_t('0' + (high >> 6));
    field[1] = std::uint8_t('0' + ((high >> 3) & 7));
    field[2] = std::uint8_t('0' + (high & 7));
    PutLE64(field + 3, OctalDigits8(value));
    field[11] = 0;
}

void PutTextInZeros(std::uint8_t* field, std::size_t width, const std::string& text)
{
    std::memcpy(field, text.data(), std::min(text.size(), width));
}

}  // namespace

void EncodeTarHeaders(const TTarWriteEntry& Entry, std::vector<std::uint8_t>& Out)
{
    // The name as stored: a directory's ends in "/". Read in place, not copied.
    const std::string_view given = Entry.Name;
    const bool addSlash = Entry.Directory && (given.empty() || given.back() != '/');
    const std::size_t nameLength = given.size() + (addSlash ? 1 : 0);
    const auto putName = [&](std::uint8_t* to, std::size_t count) {
        const std::size_t fromGiven = std::min(count, given.size());
        std::memcpy(to, given.data(), fromGiven);
        if (count > fromGiven)
            to[fromGiven] = '/';
    };
    const std::int64_t size = Entry.Directory ? 0 : std::max<std::int64_t>(Entry.Size, 0);
    const bool longName = nameLength > std::size_t(NameWidth);

    // Built in place in Out, all zeros first: an "L" record and the name's blocks when the name
    // is long, then the entry's own header.
    const std::size_t total =
        TarBlockSize + (longName ? TarBlockSize + std::size_t(RoundUpToBlock(std::int64_t(nameLength) + 1)) : 0);
    Out.assign(total, 0);
    std::uint8_t* h = Out.data() + total - TarBlockSize;
    std::memcpy(h + 257, GnuMagic, sizeof GnuMagic);
    PutTextInZeros(h + 265, 32, Entry.UName);
    PutTextInZeros(h + 297, 32, Entry.GName);
    // Writable for the owner by default: a tree that tar restores read-only could not even be removed.
    const std::uint32_t permissions = (Entry.Mode & 07777) != 0 ? Entry.Mode & 07777 : Entry.Directory ? 0755 : 0644;
    PutOctal8(h + 100, (Entry.Directory ? 040000 : 0100000) | permissions);
    h[156] = Entry.Directory ? '5' : '0';
    if (Entry.MTime >= 0 || !Entry.KeepTimeBefore1970) {
        PutOctal12(h + 136, std::uint64_t(std::clamp<std::int64_t>(Entry.MTime, 0, MaxOctal11)));
    } else {  // negative base-256, as GNU tar writes it
        for (int i = 0; i < 12; ++i)
            h[136 + 11 - i] = i < 8 ? std::uint8_t(std::uint64_t(Entry.MTime) >> (8 * i)) : 0xFF;
    }

    if (longName) {
        PutLongNameRecord(Out.data(), h, nameLength);
        putName(Out.data() + TarBlockSize, nameLength);
    }

    putName(h, std::min<std::size_t>(nameLength, NameWidth));
    PutOctal8(h + 108, std::min<std::uint32_t>(Entry.Uid, 07777777));
    PutOctal8(h + 116, std::min<std::uint32_t>(Entry.Gid, 07777777));
    if (size <= MaxOctal11) {
        PutOctal12(h + 124, std::uint64_t(size));
    } else {  // base-256, which every GNU-form reader takes
        h[124] = 0x80;
        for (int i = 0; i < 8; ++i)
            h[124 + 11 - i] = std::uint8_t(size >> (8 * i));
    }
    PutOctal8(h + 148, TarHeaderChecksum(h));
}

bool RenameTarHeaders(const TReadAt& Read, const TTarEntry& Entry, const std::string& NewName,
                      std::vector<std::uint8_t>& Out, std::int64_t& Rest)
{
    std::vector<std::uint8_t> kept;  // the records that stay, in their order
    bool paxNamed = false;
    bool sparseNamed = false;
    std::uint8_t h[TarBlockSize];
    std::int64_t at = Entry.HeaderOffset;
    for (;;) {
        if (at + TarBlockSize > Entry.NextOffset || Read(at, h, TarBlockSize) != TarBlockSize)
            return false;
        const char type = char(h[156]);
        if (type != 'L' && type != 'K' && type != 'x' && type != 'X' && type != 'g')
            break;
        const auto size = TarNumericField(h + 124, 12);
        if (!size || *size > TarMaxMetaSize)
            return false;
        const std::int64_t next = at + TarBlockSize + RoundUpToBlock(*size);
        if (type == 'L') {  // the old long name goes
            at = next;
            continue;
        }
        std::string text(std::size_t(*size), '\0');
        if (Read(at + TarBlockSize, text.data(), *size) != *size)
            return false;
        if (type == 'x' || type == 'X') {
            std::vector<std::pair<std::string, std::string>> list;
            if (!ParsePaxRecordList(text, list))
                return false;
            // A sparse file's real name is its GNU.sparse.name; "path" names the map's holder.
            sparseNamed |= std::any_of(list.begin(), list.end(), [](const auto& r) { return r.first == "GNU.sparse.name"; });
            std::erase_if(list, [](const auto& r) { return r.first == "path" || r.first == "GNU.sparse.name"; });
            list.emplace_back(sparseNamed ? "GNU.sparse.name" : "path", NewName);
            text.clear();
            for (const auto& [key, value] : list) {
                // The length counts its own digits.
                const std::size_t body = key.size() + value.size() + 3;
                std::size_t length = body + 1;
                while (std::to_string(length).size() + body > length)
                    ++length;
                text += std::to_string(length) + " " + key + "=" + value + "\n";
            }
            PutOctal(h + 124, 12, std::int64_t(text.size()), '0');
            PutOctal(h + 148, 8, TarHeaderChecksum(h), '0');
            paxNamed = true;
        }
        kept.insert(kept.end(), h, h + TarBlockSize);
        kept.insert(kept.end(), text.begin(), text.end());
        kept.resize(std::size_t(RoundUpToBlock(std::int64_t(kept.size()))), 0);
        at = next;
    }
    Out.clear();
    if (!sparseNamed) {
        if (NewName.size() > std::size_t(NameWidth) && !paxNamed) {
            const std::size_t name = AppendLongNameRecord(Out, h, NewName.size());
            std::memcpy(Out.data() + name, NewName.data(), NewName.size());
        }
        // The prefix of a ustar header would stand in front of the new name.
        if (std::memcmp(h + 257, UstarMagic, sizeof UstarMagic) == 0)
            std::memset(h + 345, 0, 155);
        PutText(h, NameWidth, NewName);
    }
    PutOctal(h + 148, 8, TarHeaderChecksum(h), '0');
    Out.insert(Out.end(), kept.begin(), kept.end());
    Out.insert(Out.end(), h, h + TarBlockSize);
    Rest = at + TarBlockSize;
    return true;
}
