// Stands in for the internet program in tests: a window of its class that logs every 654-byte
// hand-off record and, for a download, "fetches" an archive and tells the sender so.
#include "app/lib/HandOff.h"
#include "app/lib/RequestRecord.h"
#include "platform/win/Files.h"
#include "platform/win/Messages.h"
#include "support/DieWithParent.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

const char* const Usage =
    "usage: fake-qnet [--log FILE] [--zip FILE] [--reply 101|102] [--nested]\n"
    "\n"
    "Opens a window of class TFormqNet and appends every 654-byte WM_COPYDATA record it gets to\n"
    "the log file (--log, else $TORVO_FAKE_QNET_LOG; raw records, one after the other).\n"
    "For a download (transfer codes 20-22, 70) it copies the archive of --zip (else\n"
    "$TORVO_FAKE_QNET_ZIP) into the record's local folder (offset 207) under the record's archive\n"
    "name (offset 122, \".ZIP\" added when it has no extension), then sends command --reply\n"
    "(default 101) with a 565-byte request record (offset 24 the file name, offset 153 the folder)\n"
    "to the window at offset 4: after the sender's send has returned, or with --nested (or\n"
    "$TORVO_FAKE_QNET_NESTED=1) from inside it. Ends on a posted WM_QUIT.\n";

constexpr UINT WM_FETCHED = WM_USER + 1;

struct Options {
    std::string log, zip;
    std::uint32_t reply = 101;
    bool nested = false;
} options;

HWND own = 0;
std::optional<THandOffRecord> pendingDownload;

std::string EnvOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

void Log(const void* bytes, std::size_t size)
{
    if (options.log.empty())
        return;
    if (FILE* f = std::fopen(options.log.c_str(), "ab")) {
        std::fwrite(bytes, 1, size, f);
        std::fclose(f);
    }
}

void Fetch(const THandOffRecord& record)
{
    std::string folder = record.LocalFolder;
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    std::string name = record.ArchiveName;
    if (name.find('.') == std::string::npos)
        name += ".ZIP";
    if (!options.zip.empty() && !CopyFileA(options.zip.c_str(), (folder + name).c_str(), FALSE))
        std::fprintf(stderr, "fake-qnet: cannot place %s%s\n", folder.c_str(), name.c_str());
    TRequestRecord answer;
    answer.DefinitionFileName = name;
    answer.DataFolder = folder;
    const TRequestBytes bytes = EncodeRequestRecord(answer);
    const COPYDATASTRUCT data{options.reply, static_cast<DWORD>(bytes.size()), bytes.data()};
    SendMessageA(record.Window, WM_COPYDATA, own, reinterpret_cast<LPARAM>(&data));
}

LRESULT WindowProc(HWND, UINT msg, WPARAM, LPARAM lParam)
{
    if (msg == WM_FETCHED && pendingDownload) {
        const THandOffRecord record = *pendingDownload;
        pendingDownload.reset();
        Fetch(record);
        return 0;
    }
    if (msg != WM_COPYDATA)
        return 0;
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data == nullptr || data->cbData != HandOffRecordSize)
        return 0;
    Log(data->lpData, data->cbData);
    const auto record = DecodeHandOffRecord(data->lpData, data->cbData);
    if (record && IsDownloadCode(record->TransferCode)) {
        if (options.nested) {
            Fetch(*record);
        } else {
            pendingDownload = record;
            PostMessageA(own, WM_FETCHED, 0, 0);
        }
    }
    return 1;
}

bool ParseArguments(int argc, char** argv)
{
    options.log = EnvOr("TORVO_FAKE_QNET_LOG", "");
    options.zip = EnvOr("TORVO_FAKE_QNET_ZIP", "");
    options.nested = EnvOr("TORVO_FAKE_QNET_NESTED", "") == "1";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--nested")
            options.nested = true;
        else if (i + 1 >= argc)
            return false;
        else if (arg == "--log")
            options.log = argv[++i];
        else if (arg == "--zip")
            options.zip = argv[++i];
        else if (arg == "--reply")
            options.reply = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        else
            return false;
    }
    return options.reply == 101 || options.reply == 102;
}

}  // namespace

int main(int argc, char** argv)
{
    testsupport::DieWithParent();
    if (!ParseArguments(argc, argv)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    own = CreateWindowA(InternetProgramClass, InternetProgramName, WindowProc);
    if (own == 0) {
        std::fputs("fake-qnet: cannot create the window\n", stderr);
        return 1;
    }
    MSG msg;
    while (GetMessageA(&msg, 0, 0, 0))
        DispatchMessageA(&msg);
    DestroyWindow(own);
    return 0;
}
