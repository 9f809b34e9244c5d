// The external-library extractors when their library cannot be loaded: the command-line driver
// runs in a private mount namespace where the build's folder of libraries is empty, so the real
// loading path fails. Listing and extraction report the library's number and write nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/Err_Msgs.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

TEST(LibraryAbsent, RarAceAndCabReportTheirNumberAndWriteNothing)
{
#ifndef TORVO_EXT_LIBRARY_DIR
    GTEST_SKIP() << "no folder of external libraries";
#else
    const std::string tool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";
    const fs::path fixtures = FixtureRoot();
    if (!fs::exists(tool))
        GTEST_SKIP() << "plxtool not built";
    TORVO_NEED_FIXTURES(fs::is_directory(fixtures), "no fixtures folder");
    TScratchDir scratch;
    fs::create_directories(scratch / "empty");
    auto without = [&](const std::string& command, int& status) {
        return CaptureCommand("unshare -rm sh -c " +
                                  ShellQuote("mount --bind " + ShellQuote((scratch / "empty").string()) + " " +
                                             ShellQuote(TORVO_EXT_LIBRARY_DIR) + " && exec " + ShellQuote(tool) + " " +
                                             command) +
                                  " 2>&1",
                              &status);
    };
    if (CaptureCommand("unshare -rm true >/dev/null 2>&1; echo $?") != "0\n")
        GTEST_SKIP() << "no private mount namespaces here";
    int status = 0;

    struct TCase {
        const char* Archive;
        int Number;
        bool ListedWithout;  // the listing walks these formats itself
    };
    for (const TCase& c : {TCase{"rar/t.rar", E_UNRARDLL, false}, TCase{"ace/t.ace", E_UNACEV2DLL, true},
                           TCase{"cab/t.cab", E_CABINETDLL, true}}) {
        SCOPED_TRACE(c.Archive);
        const std::string archive = ShellQuote((fixtures / c.Archive).string());
        const std::string number = std::to_string(c.Number);
        std::string text = without("list " + archive, status);
        if (c.ListedWithout) {
            EXPECT_EQ(status, 0) << text;
        } else {
            EXPECT_NE(status, 0);
            EXPECT_NE(text.find(number), std::string::npos) << text;
        }
        const fs::path out = scratch / ("out-" + fs::path(c.Archive).stem().string());
        for (const std::string& command : {"extract " + archive + " " + ShellQuote(out.string()), "test " + archive}) {
            text = without(command, status);
            EXPECT_EQ(status, 1) << command;
            EXPECT_NE(text.find("plxtool: " + number), std::string::npos) << text;
            EXPECT_NE(text.find(" 0, "), std::string::npos) << text;
        }
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
    }
#endif
}

}  // namespace
