#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/plxGbls.h"

namespace {

std::string InvalidMessage(const std::string& mask)
{
    try {
        TInternalMask m(mask);
    } catch (const EInvalidMask& e) {
        return e.Message;
    }
    return "";
}

}  // namespace

TEST(Mask, DotRulesAndNamesWithoutDot)
{
    EXPECT_TRUE(MatchesMask("anything.at.all", ""));
    EXPECT_TRUE(MatchesMask("README", "*.*"));
    EXPECT_TRUE(MatchesMask("a.b.c", "*.*"));
    EXPECT_TRUE(MatchesMask("README", "*."));
    EXPECT_FALSE(MatchesMask("a.txt", "*."));
    // A dotless name is first matched as it is.
    EXPECT_TRUE(MatchesMask("README", "README"));
    EXPECT_TRUE(MatchesMask("README", "READ*"));
    EXPECT_TRUE(MatchesMask("README", "README."));
    EXPECT_FALSE(MatchesMask("README", "README?"));
    EXPECT_TRUE(MatchesMask("notes.txt", "*.TXT"));
    EXPECT_FALSE(MatchesMask("notes.txt", "*.tx"));
    EXPECT_FALSE(MatchesMask("a", "a?"));  // "?" never matches the end
    EXPECT_TRUE(MatchesMask("ab", "a?"));
    EXPECT_TRUE(TInternalMask("x.").EndsWithDot());
    EXPECT_FALSE(TInternalMask("x").EndsWithDot());
}

TEST(Mask, AStarAloneTakesEveryName)
{
    for (const char* mask : {"*", "**"})
        for (const std::string name : {"", "a", "a.b", ".", "noext", "\xFF\xFE bad UTF-8", "\xC5\xA1.txt"})
            EXPECT_TRUE(TInternalMask(mask).Matches(name)) << mask << " " << name;
    EXPECT_FALSE(TInternalMask("*a").Matches("b"));
    EXPECT_FALSE(TInternalMask("*.").Matches("a.b"));
    EXPECT_FALSE(TInternalMask("?*").Matches(""));
}

TEST(Mask, SetsRangesAndBacktracking)
{
    EXPECT_FALSE(MatchesMask("Bravo", "[!a-c]*"));
    EXPECT_TRUE(MatchesMask("delta", "[!a-c]*"));
    EXPECT_TRUE(MatchesMask("Delta", "[a-e]elta"));
    EXPECT_TRUE(MatchesMask("x1", "x[0-9]"));
    EXPECT_FALSE(MatchesMask("xa", "x[0-9]"));
    EXPECT_TRUE(MatchesMask("aXbYbZc", "a*b*c"));
    EXPECT_TRUE(MatchesMask("abcbcd", "a*bcd"));
    EXPECT_FALSE(MatchesMask("abcbce", "a*bcd"));
    EXPECT_TRUE(MatchesMask("file.tar.gz", "*.gz"));
    EXPECT_TRUE(MatchesMask("file.tar.gz", "*.tar*"));
}

TEST(Mask, LettersFoldOverUnicodeAndMatchWholeCharacters)
{
    EXPECT_TRUE(MatchesMask("ŽLUŤOUČKÝ.TXT", "žluťoučký.txt"));
    EXPECT_TRUE(MatchesMask("Čtení", "?tení"));  // one "?" takes a two-byte character
    EXPECT_FALSE(MatchesMask("Čtení", "??tení"));
    EXPECT_TRUE(MatchesMask("éa", "[É]a"));
    EXPECT_TRUE(MatchesMask("ÄRGER", "[!a-z]rger"));
    EXPECT_TRUE(MatchesMask("Σ.doc", "σ.*"));
}

TEST(Mask, InvalidMasksAndTheStarLimit)
{
    std::string thirty, thirtyOne;
    for (int i = 0; i < 30; ++i)
        thirty += "*x";
    thirtyOne = thirty + "*x";
    EXPECT_NO_THROW(TInternalMask{thirty});
    EXPECT_EQ(InvalidMessage(thirtyOne), "'" + thirtyOne + "' is an invalid mask at (62)");
    EXPECT_EQ(InvalidMessage("a*"), "");  // a trailing "*" stands before the end state
    EXPECT_EQ(InvalidMessage("[-a]"), "'[-a]' is an invalid mask at (2)");
    EXPECT_NE(InvalidMessage("[z-a]"), "");
    EXPECT_NE(InvalidMessage("[]"), "");
    EXPECT_NE(InvalidMessage("[abc"), "");
    EXPECT_NE(InvalidMessage("[!"), "");
    EXPECT_THROW(MatchesMask("x", "[q-"), EInvalidMask);
    // Masks are kept compiled between calls: an invalid one raises every time, and many masks in
    // turn each answer for themselves.
    EXPECT_THROW(MatchesMask("x", "[q-"), EInvalidMask);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 6; ++i) {
            const std::string mask = "f" + std::to_string(i) + "*.t?t";
            EXPECT_TRUE(MatchesMask("F" + std::to_string(i) + "abc.TXT", mask)) << mask;
            EXPECT_FALSE(MatchesMask("f" + std::to_string(i + 1) + ".txt", mask)) << mask;
        }
    }
}

TEST(Mask, ManyStarsDoNotExplode)
{
    const std::string name(5000, 'a');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesMask(name, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchesMask(name + "b", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
    // Generous: a backtracking matcher would not finish in the lifetime of the test.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(Mask, MultiMaskOwnsItsMask)
{
    TMultiMask m("*.zip");
    EXPECT_TRUE(m.Mask().Matches("A.ZIP"));
    EXPECT_FALSE(m.Mask().Matches("a.zipx"));
}

TEST(Mask, CompressMethodNameByLevelBits)
{
    EXPECT_EQ(CompressMethodName(8, 2), "DFLT-X");
    EXPECT_EQ(CompressMethodName(8, 3), "DFLT-X");
    EXPECT_EQ(CompressMethodName(12, 0), "BZip2-N");
    EXPECT_EQ(CompressMethodName(8, 9), "DFLT-N");
    EXPECT_EQ(CompressMethodName(8, 6), "DFLT-S");
    EXPECT_EQ(CompressMethodName(11, 4), "BZip2-F");
}
