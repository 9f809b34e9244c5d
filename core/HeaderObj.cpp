#include "core/HeaderObj.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/win/Utf8.h"

namespace {

// A name or extra block kept beside its record; none when absent.
std::vector<std::uint8_t> CopyOfBlock(const void* Block, std::uint32_t Length)
{
    if (Length == 0 || !Block)
        return {};
    const auto* p = static_cast<const std::uint8_t*>(Block);
    return std::vector<std::uint8_t>(p, p + Length);
}

}  // namespace

void TUnBaseHeaderObj::Init()
{
    RecordSize = ItemSize;
    Clear();
}

bool TUnBaseHeaderObj::AddItem(const void* Record, const void* NameBlock, std::uint32_t NameLength)
{
    TRecord& r = Records.emplace_back();
    std::memcpy(r.data(), Record, ItemSize);
    Blocks.push_back(CopyOfBlock(NameBlock, NameLength));
    ++Count;
    return true;
}

std::uint8_t* TUnBaseHeaderObj::GetItem(std::uint32_t Index)
{
    if (Index >= Records.size())
        throw E_RAISE(E_INDEXOUTOFBOUNDS);
    return Records[Index].data();
}

const std::vector<std::uint8_t>& TUnBaseHeaderObj::GetBlock(std::uint32_t Index) const
{
    if (Index >= Blocks.size())
        throw E_RAISE(E_INDEXOUTOFBOUNDS);
    return Blocks[Index];
}

void TUnBaseHeaderObj::Clear()
{
    Records.clear();
    Blocks.clear();
    Count = 0;
}

bool TCompressHeaderObj::AddItem(TCompressFileInfo Record, const std::string& Name, std::uint16_t Value16,
                                 std::uint32_t ExtraLength, const void* ExtraBlock)
{
    // A name that left the front of the list lends its buffer: a walk's paths cost no allocation each.
    if (FSpareNames.empty()) {
        NameList.push_back(Name);
    } else {
        NameList.push_back(std::move(FSpareNames.back()));
        FSpareNames.pop_back();
        NameList.back().assign(Name);
    }
    if (FFoldIndexed) {
        FFolded.push_back(win::FoldCase(Name));
        FByFold[FFolded.back()].push_back(std::uint32_t(NameList.size() - 1));
        FRefoldMarked.push_back(false);
    }
    Values.push_back(Value16);
    Records.push_back(std::move(Record));
    Extras.push_back(CopyOfBlock(ExtraBlock, ExtraLength));
    ++Count;
    return true;
}

void TCompressHeaderObj::CheckIndex(std::uint32_t Index) const
{
    if (Index >= Records.size())
        throw E_RAISE(E_INDEXOUTOFBOUNDS);
}

TCompressFileInfo& TCompressHeaderObj::GetItem(std::uint32_t Index)
{
    CheckIndex(Index);
    return Records[Index];
}

std::string& TCompressHeaderObj::Name(std::uint32_t Index)
{
    CheckIndex(Index);
    if (FFoldIndexed && !FRefoldMarked[Index]) {
        FRefoldMarked[Index] = true;
        FRefold.push_back(Index);
    }
    return NameList[Index];
}

std::uint16_t& TCompressHeaderObj::Value(std::uint32_t Index)
{
    CheckIndex(Index);
    return Values[Index];
}

const std::vector<std::uint8_t>& TCompressHeaderObj::Extra(std::uint32_t Index) const
{
    CheckIndex(Index);
    return Extras[Index];
}

void TCompressHeaderObj::SetExtra(std::uint32_t Index, std::vector<std::uint8_t> Block)
{
    CheckIndex(Index);
    Extras[Index] = std::move(Block);
}

int TCompressHeaderObj::IndexOfName(std::string_view Name) const
{
    RefreshFoldIndex();
    const auto found = FByFold.find(win::FoldCase(Name));
    return found == FByFold.end() || found->second.empty() ? -1 : int(found->second.front());
}

void TCompressHeaderObj::RefreshFoldIndex() const
{
    if (!FFoldIndexed) {
        FByFold.clear();
        FFolded.resize(NameList.size());
        for (std::uint32_t i = 0; i < NameList.size(); ++i) {
            FFolded[i] = win::FoldCase(NameList[i]);
            FByFold[FFolded[i]].push_back(i);
        }
        FRefold.clear();
        FRefoldMarked.assign(NameList.size(), false);
        FFoldIndexed = true;
        return;
    }
    for (const std::uint32_t i : FRefold) {
        FRefoldMarked[i] = false;
        std::string folded = win::FoldCase(NameList[i]);
        if (folded == FFolded[i])
            continue;
        std::vector<std::uint32_t>& was = FByFold[FFolded[i]];
        was.erase(std::lower_bound(was.begin(), was.end(), i));
        if (was.empty())
            FByFold.erase(FFolded[i]);
        std::vector<std::uint32_t>& now = FByFold[folded];
        now.insert(std::lower_bound(now.begin(), now.end(), i), i);
        FFolded[i] = std::move(folded);
    }
    FRefold.clear();
}

int TCompressHeaderObj::IndexOfExactName(std::string_view Name) const
{
    for (std::size_t i = 0; i < NameList.size(); ++i)
        if (NameList[i] == Name)
            return int(i);
    return -1;
}

void TCompressHeaderObj::Clear()
{
    Records.clear();
    Extras.clear();
    NameList.clear();
    FSpareNames.clear();
    Values.clear();
    Count = 0;
    FFoldIndexed = false;
}

void TCompressHeaderObj::DropFront(std::uint32_t Number)
{
    const auto n = std::ptrdiff_t(std::min(Number, Count));
    Records.erase(Records.begin(), Records.begin() + n);
    Extras.erase(Extras.begin(), Extras.begin() + n);
    constexpr std::size_t kSpareNames = 1024;
    for (std::ptrdiff_t i = 0; i < n && FSpareNames.size() < kSpareNames; ++i)
        FSpareNames.push_back(std::move(NameList[std::size_t(i)]));
    NameList.erase(NameList.begin(), NameList.begin() + n);
    Values.erase(Values.begin(), Values.begin() + n);
    Count -= std::uint32_t(n);
    FFoldIndexed = false;  // every position moved
}

void TRecordList::AddRecord(const void* Record)
{
    const auto* p = static_cast<const std::uint8_t*>(Record);
    Bytes.insert(Bytes.end(), p, p + RecordSize);
    ++Count;
}

std::uint8_t* TRecordList::GetRecord(std::uint32_t Index)
{
    if (Index >= Count)
        throw E_RAISE(E_INDEXOUTOFBOUNDS);
    return Bytes.data() + std::size_t(Index) * RecordSize;
}

void TRecordList::Clear()
{
    Bytes.clear();
    Count = 0;
}
