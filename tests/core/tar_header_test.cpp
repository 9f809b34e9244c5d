#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/TarHeader.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TTarBlockReader ReaderOf(const std::vector<std::uint8_t>& bytes) {
    return [&bytes](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        if (offset < 0 || offset >= std::int64_t(bytes.size())) return 0;
        std::int64_t n = std::min<std::int64_t>(count, std::int64_t(bytes.size()) - offset);
        std::memcpy(buffer, bytes.data() + offset, std::size_t(n));
        return n;
    };
}

struct TWalk {
    std::vector<TTarHeaderInfo> Entries;
    int Turns = 0;
    std::int64_t EndOffset = 0;
};

TWalk WalkAll(const std::vector<std::uint8_t>& bytes) {
    TWalk walk;
    std::int64_t offset = 0;
    std::string longName;
    TTarHeaderInfo info;
    const auto read = ReaderOf(bytes);
    while (ReadTarHeader(read, std::int64_t(bytes.size()), offset, longName, info)) {
        ++walk.Turns;
        if (info.Kind == TTarHeaderKind::Entry) walk.Entries.push_back(info);
        if (walk.Turns > 1000) break;
    }
    walk.EndOffset = offset;
    return walk;
}

// A header with a correct checksum written as octal + NUL + blank.
std::vector<std::uint8_t> MakeHeader(const std::string& name, char type, const char* mode = "0000644") {
    std::vector<std::uint8_t> h(TarBlockSize, 0);
    std::memcpy(h.data(), name.data(), std::min<std::size_t>(name.size(), 100));
    std::memcpy(h.data() + 100, mode, std::strlen(mode));
    std::memcpy(h.data() + 124, "00000000000", 11);
    h[156] = std::uint8_t(type);
    return h;
}

void SealChecksum(std::vector<std::uint8_t>& h, std::size_t at = 0) {
    std::snprintf(reinterpret_cast<char*>(h.data() + at + 148), 8, "%06o", TarHeaderChecksum(h.data() + at));
    h[at + 155] = ' ';
}

}  // namespace

TEST(TarHeader, ChecksumRule) {
    std::vector<std::uint8_t> zero(TarBlockSize, 0);
    EXPECT_EQ(TarHeaderChecksum(zero.data()), 256u);
    EXPECT_FALSE(TarHeaderValid(zero.data()));  // sum 256 against a field of 0

    auto h = MakeHeader("a.txt", '0');
    SealChecksum(h);  // digits, NUL, blank
    EXPECT_TRUE(TarHeaderValid(h.data()));
    std::memset(h.data() + 148, ' ', 8);  // leading blanks, trailing NUL
    std::snprintf(reinterpret_cast<char*>(h.data() + 150), 6, "%o", TarHeaderChecksum(h.data()));
    EXPECT_TRUE(TarHeaderValid(h.data()));
    h[0] ^= 1;
    EXPECT_FALSE(TarHeaderValid(h.data()));
}

TEST(TarHeader, NumericFieldsOctalAndBase256) {
    const std::uint8_t octal[12] = {' ', '0', '6', '4', '4', ' ', 0};
    EXPECT_EQ(TarNumericField(octal, 12), 420);
    std::uint8_t big[12] = {0x80};
    big[7] = 0x02;  // 2 << 32 = 8 GiB, beyond 11 octal digits
    EXPECT_EQ(TarNumericField(big, 12), std::int64_t(2) << 32);
    std::uint8_t negative[12];
    std::memset(negative, 0xFF, 12);
    EXPECT_FALSE(TarNumericField(negative, 12));
    std::uint8_t huge[12];
    std::memset(huge, 0xFF, 12);
    huge[0] = 0x80;
    EXPECT_FALSE(TarNumericField(huge, 12));
}

TEST(TarHeader, WalksAnArchiveMadeByGnuTar) {
    const fs::path dir = fs::temp_directory_path() / ("torvo_tar_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "src" / "d");
    const std::string longName = "d/" + std::string(150, 'n') + ".txt";
    std::ofstream(dir / "src" / longName) << "long";
    std::ofstream(dir / "src" / "empty");
    std::ofstream(dir / "src" / "x.txt") << std::string(1000, 'x');
    const std::string cmd = "cd '" + (dir / "src").string() +
                            "' && tar --format=gnu --mode=0 --no-recursion -cf ../a.tar d '" + longName +
                            "' empty x.txt";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto bytes = ReadAll(dir / "a.tar");
    fs::remove_all(dir);

    const TWalk walk = WalkAll(bytes);
    ASSERT_EQ(walk.Entries.size(), 4u);
    EXPECT_EQ(walk.Entries[0].FileName, "d\\");
    EXPECT_EQ(walk.Entries[0].TypeFlag, '5');
    EXPECT_EQ(walk.Entries[1].FileName, "d\\" + std::string(150, 'n') + ".txt");
    EXPECT_EQ(walk.Entries[1].Size, 4);
    // An empty file with mode 0 is a member, not the end of the archive.
    EXPECT_EQ(walk.Entries[2].FileName, "empty");
    EXPECT_EQ(walk.Entries[2].Mode, 0u);
    EXPECT_EQ(walk.Entries[2].Size, 0);
    EXPECT_EQ(walk.Entries[3].FileName, "x.txt");
    EXPECT_EQ(walk.Entries[3].Size, 1000);
    EXPECT_EQ(walk.Entries[3].DataOffset % TarBlockSize, 0);
    EXPECT_EQ(walk.Turns, 5);  // the long-name record lists nothing
}

TEST(TarHeader, HostileSizesStayBounded) {
    // A long-name record claiming 2^40 bytes keeps at most 511 of them and moves on past the claim.
    auto l = MakeHeader("././@LongLink", 'L');
    std::memset(l.data() + 124, 0, 12);
    l[124] = 0x80;
    l[131] = 0x01;  // 1 << 32
    SealChecksum(l);
    std::vector<std::uint8_t> bytes = l;
    bytes.resize(bytes.size() + 1024, 'q');
    std::int64_t offset = 0;
    std::string pending;
    TTarHeaderInfo info;
    ASSERT_TRUE(ReadTarHeader(ReaderOf(bytes), std::int64_t(bytes.size()), offset, pending, info));
    EXPECT_EQ(info.Kind, TTarHeaderKind::LongName);
    EXPECT_EQ(pending.size(), std::size_t(TarMaxLongName));
    EXPECT_EQ(offset, TarBlockSize + (std::int64_t(1) << 32));
    EXPECT_FALSE(ReadTarHeader(ReaderOf(bytes), std::int64_t(bytes.size()), offset, pending, info));

    // A long name whose bytes are missing ends the walk instead of listing garbage.
    auto shortL = MakeHeader("././@LongLink", 'L');
    std::memcpy(shortL.data() + 124, "00000000200", 11);
    SealChecksum(shortL);
    offset = 0;
    pending.clear();
    EXPECT_FALSE(ReadTarHeader(ReaderOf(shortL), TarBlockSize, offset, pending, info));

    // A nameless empty header ends the walk at the archive's size.
    auto end = MakeHeader("", '0');
    SealChecksum(end);
    offset = 0;
    EXPECT_FALSE(ReadTarHeader(ReaderOf(end), 10240, offset, pending, info));
    EXPECT_EQ(offset, 10240);
}

TEST(TarHeader, PendingLongNameOnlyReplacesAMatchingNameField) {
    const std::string longName = std::string(120, 'a');
    auto l = MakeHeader("././@LongLink", 'L');
    std::snprintf(reinterpret_cast<char*>(l.data() + 124), 12, "%011o", unsigned(longName.size() + 1));
    SealChecksum(l);
    std::vector<std::uint8_t> bytes = l;
    std::vector<std::uint8_t> data(TarBlockSize, 0);
    std::memcpy(data.data(), longName.data(), longName.size());
    bytes.insert(bytes.end(), data.begin(), data.end());
    auto other = MakeHeader("other/name", '0');
    SealChecksum(other);
    bytes.insert(bytes.end(), other.begin(), other.end());
    auto follow = MakeHeader("later", '0');
    SealChecksum(follow);
    bytes.insert(bytes.end(), follow.begin(), follow.end());

    const TWalk walk = WalkAll(bytes);
    ASSERT_EQ(walk.Entries.size(), 2u);
    EXPECT_EQ(walk.Entries[0].FileName, "other\\name");
    EXPECT_EQ(walk.Entries[1].FileName, "later");
}
