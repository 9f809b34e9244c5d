// A caller of the backup program: sends one request record and waits for the reply.
#include "app/lib/RequestRecord.h"
#include "platform/win/Errors.h"
#include "platform/win/Messages.h"
#include "platform/win/SysStrings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const Usage =
    "usage: torvo-caller --command N [--mode M] [--mode-value V] [--definition NAME] [--folder DIR]\n"
    "                    [--minimise] [--ftp-entry] [--targets TEXT] [--timeout SECONDS] [--linger SECONDS]\n"
    "\n"
    "Sends WM_COPYDATA (dwData = N, wParam = the caller's window) with a 565-byte request record to\n"
    "the window of class TFormTorvo, then waits for replies, printing \"reply <mode value>\" for each.\n"
    "Record fields:\n"
    "  offset   0  foreground window   the caller's own window\n"
    "  offset   4  reply window        the caller's own window\n"
    "  offset   8  mode                --mode (default 0)\n"
    "  offset  16  mode value          --mode-value (default: the mode)\n"
    "  offset  24  definition file     --definition (default archivace.dta); command 50: option text 1\n"
    "  offset 153  data folder         --folder (default empty); command 50: option text 2\n"
    "  offset 307  minimise            1 with --minimise\n"
    "  offset 308  FTP entry           1 with --ftp-entry\n"
    "  offset 309  network targets     --targets\n"
    "Strings are converted from UTF-8 to Windows-1250 and cut at their field's size.\n"
    "--command 999 ends a run that is waiting (the run replies to its own caller, so 999 waits 5 s\n"
    "by default). --linger keeps listening that long after the first reply, so that a second reply\n"
    "shows. Exit: 0 after the first reply, 3 when --timeout (default 600 s) passes without one,\n"
    "1 when no TFormTorvo window is found or the send fails, 2 for bad arguments.\n";

struct Options {
    std::uint32_t command = 0;
    bool haveCommand = false;
    TRequestRecord record;
    bool haveModeValue = false;
    double timeoutSeconds = -1;
    double lingerSeconds = 0;
};

bool ParseNumber(const char* text, int& value)
{
    return win::TryStrToInt(text, value);
}

bool ParseArguments(int argc, char** argv, Options& options)
{
    options.record.DefinitionFileName = "archivace.dta";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        int number = 0;
        if (arg == "--minimise") {
            options.record.Minimise = 1;
        } else if (arg == "--ftp-entry") {
            options.record.FtpEntry = 1;
        } else if (!hasValue) {
            return false;
        } else if (arg == "--command") {
            if (!ParseNumber(argv[++i], number))
                return false;
            options.command = static_cast<std::uint32_t>(number);
            options.haveCommand = true;
        } else if (arg == "--mode") {
            if (!ParseNumber(argv[++i], number))
                return false;
            options.record.Mode = number;
        } else if (arg == "--mode-value") {
            double value = 0;
            if (!win::TryStrToFloat(argv[++i], value))
                return false;
            options.record.ModeValue = value;
            options.haveModeValue = true;
        } else if (arg == "--definition") {
            options.record.DefinitionFileName = argv[++i];
        } else if (arg == "--folder") {
            options.record.DataFolder = argv[++i];
        } else if (arg == "--targets") {
            options.record.NetworkTargets = argv[++i];
        } else if (arg == "--timeout") {
            double value = 0;
            if (!win::TryStrToFloat(argv[++i], value) || value < 0)
                return false;
            options.timeoutSeconds = value;
        } else if (arg == "--linger") {
            double value = 0;
            if (!win::TryStrToFloat(argv[++i], value) || value < 0)
                return false;
            options.lingerSeconds = value;
        } else {
            return false;
        }
    }
    if (!options.haveModeValue)
        options.record.ModeValue = options.record.Mode;
    // A caller never waits for ever: the finish's reply goes to the run's caller, not to this one.
    if (options.timeoutSeconds < 0)
        options.timeoutSeconds = options.command == 999 ? 5 : 600;
    return options.haveCommand;
}

int replies = 0;

LRESULT CallerWindowProc(HWND, UINT msg, WPARAM, LPARAM lParam)
{
    if (msg != WM_COPYDATA)
        return 0;
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const auto reply = data == nullptr ? std::nullopt : DecodeRequestRecord(data->lpData, data->cbData);
    if (!reply)
        return 0;
    std::printf("reply %s\n", win::FloatToStr(reply->ModeValue, win::TFormatSettings{.DecimalSeparator = "."}).c_str());
    std::fflush(stdout);
    ++replies;
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const HWND own = CreateWindowA("TorvoCaller", "torvo-caller", CallerWindowProc);
    if (own == 0) {
        std::fprintf(stderr, "torvo-caller: cannot create a window (error %u)\n",
                     static_cast<unsigned>(GetLastError()));
        return 1;
    }
    const HWND target = FindWindowA("TFormTorvo", nullptr);
    if (target == 0) {
        std::fputs("torvo-caller: no TFormTorvo window\n", stderr);
        return 1;
    }
    options.record.ForegroundWindow = own;
    options.record.ReplyWindow = own;
    const TRequestBytes bytes = EncodeRequestRecord(options.record);
    const COPYDATASTRUCT data{options.command, static_cast<DWORD>(bytes.size()), bytes.data()};
    const auto start = std::chrono::steady_clock::now();
    SendMessageA(target, WM_COPYDATA, own, reinterpret_cast<LPARAM>(&data));
    if (GetLastError() != ERROR_SUCCESS && replies == 0) {
        std::fprintf(stderr, "torvo-caller: the send failed (error %u)\n", static_cast<unsigned>(GetLastError()));
        return 1;
    }
    // The reply usually comes later, from the program's finish; keep serving our window meanwhile.
    while (replies == 0) {
        int waitMs = -1;
        if (options.timeoutSeconds >= 0) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (elapsed >= options.timeoutSeconds)
                return 3;
            waitMs = static_cast<int>((options.timeoutSeconds - elapsed) * 1000) + 1;
        }
        WaitMessageFor(waitMs);
        MSG msg;
        while (replies == 0 && PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return 3;
            DispatchMessageA(&msg);
        }
    }
    const auto lingerEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.lingerSeconds);
    while (std::chrono::steady_clock::now() < lingerEnd) {
        WaitMessageFor(20);
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    DestroyWindow(own);
    return 0;
}
