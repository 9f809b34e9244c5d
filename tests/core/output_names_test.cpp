#include "core/OutputNames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>

namespace {

// "" for a refused name, "." for the folder itself, else where it goes.
std::string Where(const std::string& Stored, const TStoredNameRules& Rules, bool Folders = true)
{
    const TOutputName out = DecideOutputName(Stored, Rules, Folders);
    EXPECT_TRUE(out.Allowed || out.Relative.empty()) << Stored;
    if (!out.Allowed)
        return "";
    return out.FolderItself ? "." : out.Relative;
}

}  // namespace

TEST(OutputNames, EachFormatsRulesDecideWhereANameMayGo)
{
    const TStoredNameRules below{};
    const std::string longName(300, 'n');  // longer than a host name may be
    std::string deep;                      // longer than a host path may be
    for (int i = 0; i < 2100; ++i)
        deep += "d/";
    deep += "x";
    struct TCase {
        std::string stored, belowFolder, rootDropped, relativeOnly;
    };
    for (const TCase& c : std::initializer_list<TCase>{
             {"../x", "", "", ""},
             {"a/b/../../../x", "", "", ""},
             {"a/.../x", "", "", ""},
             {"a/. ./x", "", "", ""},
             {"/etc/x", "etc\\x", "etc\\x", ""},
             {"\\\\server\\share\\x", "server\\share\\x", "server\\share\\x", ""},
             {"C:\\x", "x", "", ""},
             {"C:..\\x", "C_\\x", "C_\\x", "C_\\x"},
             {"C:/x", "x", "", ""},
             {"C:", "", "", ""},
             {"a:b.txt", "a_b.txt", "a_b.txt", "a_b.txt"},
             {"d../e. /f", "d\\e\\f", "d\\e\\f", "d\\e\\f"},
             {"dev:x", "dev_x", "dev_x", "dev_x"},
             {"C:x", "C_x", "C_x", "C_x"},
             {"a/../b", "b", "", ""},
             {"a/./b:c", "a\\b_c", "a\\b_c", "a\\b_c"},
             {"./", ".", ".", "."},
             {"\\", ".", "", ""},
             {".", "", "", ""},
             {"d/" + longName, "", "", ""},
             {deep, "", "", ""},
         }) {
        EXPECT_EQ(Where(c.stored, below), c.belowFolder) << c.stored;
        EXPECT_EQ(Where(c.stored, kDosFullPaths), c.rootDropped) << c.stored;
        EXPECT_EQ(Where(c.stored, kRelativeNamesOnly), c.relativeOnly) << c.stored;
    }
    // Without folders only the file part is kept; a dropped root is not part of the name as read.
    EXPECT_EQ(Where("a/b/c.txt", kRelativeNamesOnly, false), "c.txt");
    EXPECT_EQ(NameAsRead("\\\\dir\\x", kDosFullPaths), "dir\\x");
    EXPECT_EQ(NameAsRead("\\dir\\x", kRelativeNamesOnly), "\\dir\\x");
    EXPECT_TRUE(NameLeavesTarget("C:/x") && NameLeavesTarget("/x") && NameLeavesTarget("a/. ./b"));
    EXPECT_FALSE(NameLeavesTarget("a/b:c") || NameLeavesTarget("a:b.txt") || NameLeavesTarget("./a") || NameLeavesTarget(""));
    // A name the host chose may go anywhere but up.
    EXPECT_TRUE(HostNameClimbs("/tmp/../etc/x"));
    EXPECT_FALSE(HostNameClimbs("/tmp/..x/y"));
    EXPECT_EQ(NameRefusalReason("C:\\a\x01"), "a control character is not allowed in a file name");
    EXPECT_EQ(NameRefusalReason("C:\\a?b"), "the character ? is not allowed in a file name");
}

TEST(OutputNames, PlainNamesFastAnswerAgreesWithThePartByPartDecision)
{
    // Names built of pieces that every check looks for: roots, drives, dots and blanks the host
    // trims, empty parts, both separators, colons, control bytes, parts longer than a host name.
    const std::string pieces[] = {"a",  "b.txt", ".",   "..", "...", ". .", " ",      "x ",   "x.",  ".x",
                                  "/",  "\\",    "//",  ":",  "C:",  "c:\\", "\\\\srv", "CON", "a\x01", "\x7f",
                                  "\xc3\xa9", "d~1", "-",   "..x", std::string(200, 'n'), std::string(56, 'm')};
    const TStoredNameRules rules[] = {{}, kDosFullPaths, kRelativeNamesOnly, {TRootedNames::Refused, true}};
    std::uint32_t seed = 12345;
    const auto next = [&seed](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    int plain = 0;
    for (int i = 0; i < 40000; ++i) {
        std::string stored;
        for (std::uint32_t k = 0, count = 1 + next(6); k < count; ++k)
            stored += pieces[next(std::size(pieces))];
        for (const bool folders : {true, false}) {
            std::string fast = "prefix\\";
            const bool isPlain = AppendPlainOutputName(stored, folders, fast);
            plain += isPlain;
            for (const TStoredNameRules& r : rules) {
                const TOutputName full = DecideOutputNameInFull(stored, r, folders);
                const TOutputName decided = DecideOutputName(stored, r, folders);
                EXPECT_EQ(decided.Allowed, full.Allowed) << stored;
                EXPECT_EQ(decided.Relative, full.Relative) << stored;
                if (isPlain) {
                    EXPECT_TRUE(full.Allowed && !full.FolderItself) << stored;
                    EXPECT_EQ(fast, "prefix\\" + full.Relative) << stored;
                }
            }
            if (!isPlain) {
                EXPECT_EQ(fast, "prefix\\") << stored;
            }
        }
    }
    EXPECT_GT(plain, 5000);  // the fast answer was really compared
}

TEST(OutputNames, ClaimsOfOtherNamesAreFoundAmongMany)
{
    TClaimedTargets claims;
    for (int i = 0; i < 3000; ++i)
        claims.Claim("/out/f" + std::to_string(i), "f" + std::to_string(i));
    claims.Claim("/out/a_b", "a:b");
    EXPECT_TRUE(claims.ClaimedByOther("/out/f7", "f7:"));
    EXPECT_TRUE(claims.ClaimedByOther("/out/a_b", "a_b"));
    EXPECT_FALSE(claims.ClaimedByOther("/out/f2999", "f2999"));  // the same member again
    EXPECT_FALSE(claims.ClaimedByOther("/out/new", "new"));
    claims.Clear();
    EXPECT_FALSE(claims.ClaimedByOther("/out/a_b", "a_b"));
}
