// The one gzip member header reader in its two modes, and the one mapping of codec endings to
// message numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/CodecStatus.h"
#include "core/Err_Msgs.h"
#include "readers/GzipFormat.h"
#include "support/ToolRun.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

// A member header with FEXTRA, FNAME, FCOMMENT and FHCRC; the header CRC deliberately wrong
// when BadCrc.
TBytes FullHeader(bool BadCrc)
{
    TBytes h = {0x1F, 0x8B, 8, GzipFlagExtra | GzipFlagName | GzipFlagComment | GzipFlagHeaderCrc, 1, 2, 3, 4, 0, 3};
    h.insert(h.end(), {3, 0, 'x', 'y', 'z'});
    h.insert(h.end(), {'a', '.', 't', 'x', 't', 0});
    h.insert(h.end(), {'h', 'i', 0});
    // FHCRC: the low half of the CRC-32 of every header byte before it.
    std::uint32_t crc = Crc32Of(h) & 0xFFFF;
    if (BadCrc)
        crc ^= 0x5A5A;
    h.push_back(std::uint8_t(crc));
    h.push_back(std::uint8_t(crc >> 8));
    return h;
}

TCodecStatus Read(const TBytes& Data, TGzipHeader& Header, TGzipHeaderMode Mode)
{
    std::size_t pos = 0;
    return ReadGzipHeader(
        [&](std::uint8_t* Buffer, std::size_t Count) {
            const std::size_t n = std::min(Count, Data.size() - pos);
            std::copy_n(Data.data() + pos, n, Buffer);
            pos += n;
            return n;
        },
        Header, Mode);
}

TEST(GzipHeaderModes, FullKeepsEveryFieldAndChecksTheHeaderCrc)
{
    const TBytes h = FullHeader(false);
    TGzipHeader header;
    ASSERT_EQ(Read(h, header, TGzipHeaderMode::Full), TCodecStatus::Ok);
    EXPECT_EQ(header.Name, "a.txt");
    EXPECT_EQ(header.Comment, "hi");
    EXPECT_EQ(header.Extra, (TBytes{'x', 'y', 'z'}));
    EXPECT_EQ(header.MTime, 0x04030201u);
    EXPECT_EQ(header.Size, h.size());
    // A wrong header CRC still leaves every field read, for a listing that shows the member anyway.
    header = TGzipHeader();
    EXPECT_EQ(Read(FullHeader(true), header, TGzipHeaderMode::Full), TCodecStatus::HeaderCrcError);
    EXPECT_EQ(header.Name, "a.txt");
    EXPECT_EQ(header.Size, h.size());
}

TEST(GzipHeaderModes, SkipWalksPastTheHeaderWithoutKeepingOrChecking)
{
    const TBytes h = FullHeader(true);
    TGzipHeader header;
    ASSERT_EQ(Read(h, header, TGzipHeaderMode::Skip), TCodecStatus::Ok);
    EXPECT_EQ(header.Size, h.size());
    EXPECT_TRUE(header.Name.empty());
    EXPECT_TRUE(header.Extra.empty());
}

TEST(GzipHeaderModes, BothModesRefuseWhatIsNoDeflatedMember)
{
    for (const auto mode : {TGzipHeaderMode::Full, TGzipHeaderMode::Skip}) {
        TGzipHeader header;
        TBytes h = FullHeader(false);
        EXPECT_EQ(Read(TBytes(h.begin(), h.begin() + 14), header, mode), TCodecStatus::Truncated);
        h[3] |= GzipFlagEncrypted;
        EXPECT_EQ(Read(h, header, mode), TCodecStatus::Encrypted);
        h[3] = GzipFlagsReserved;
        EXPECT_EQ(Read(h, header, mode), TCodecStatus::BadHeader);
        h[2] = 9;
        EXPECT_EQ(Read(h, header, mode), TCodecStatus::UnsupportedMethod);
        h[0] = 0;
        EXPECT_EQ(Read(h, header, mode), TCodecStatus::NotGzip);
    }
}

TEST(GzipHeaderModes, AnOverlongNameIsABadHeaderInBothModes)
{
    TBytes h = {0x1F, 0x8B, 8, GzipFlagName, 0, 0, 0, 0, 0, 3};
    h.insert(h.end(), GzipMaxTextLength, 'n');
    TBytes fits = h;
    fits.push_back(0);
    h.insert(h.end(), {'n', 0});
    for (const auto mode : {TGzipHeaderMode::Full, TGzipHeaderMode::Skip}) {
        TGzipHeader header;
        EXPECT_EQ(Read(fits, header, mode), TCodecStatus::Ok);
        EXPECT_EQ(Read(h, header, mode), TCodecStatus::BadHeader);
    }
}

TEST(CodecStatusMessage, EachEndingHasOneMessage)
{
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::Ok), 0);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::Truncated), E_UNEXPECTEDEOF);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::HeaderCrcError), E_HEADERCRC);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::Encrypted), E_PASSWORDPROTECTED);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::UnsupportedMethod), E_UNSUPPORTEDMETHOD);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::CrcError), E_CRC);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::SizeError), E_FILESIZEDIFFERS);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::NotFormat), E_BADFILEHEADER);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::BadHeader), E_BADFILEHEADER);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::DataError), E_CORRUPTINPUT);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::OutputLimit), E_CORRUPTINPUT);
    EXPECT_EQ(CodecStatusMessage(TCodecStatus::OutOfMemory), E_OUTOFMEMORY);
}

}  // namespace
