// A window in another process: msg_peer <class> [nested|stall]
// Answers WM_COPYDATA with the checksum of the bytes. With "nested" it first sends the bytes back
// reversed to the sender's window (wParam) from inside its handler and adds that answer. With
// "stall" it takes no connection until SIGUSR1 has come and 300 ms more have passed; with
// "nofiles" it can open no descriptor once its window is up. Its
// exit code is the WM_QUIT wParam plus every posted WM_COUNT wParam.
#include "platform/win/bin/msg_peer.h"
#include "platform/win/Messages.h"
#include "support/DieWithParent.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    testsupport::DieWithParent();
    const bool nested = argc > 2 && std::strcmp(argv[2], "nested") == 0;
    const bool stall = argc > 2 && std::strcmp(argv[2], "stall") == 0;
    const bool noFiles = argc > 2 && std::strcmp(argv[2], "nofiles") == 0;
    sigset_t resume;
    sigemptyset(&resume);
    sigaddset(&resume, SIGUSR1);
    if (stall)
        sigprocmask(SIG_BLOCK, &resume, nullptr);
    const HWND hwnd = CreateWindowA(argv[1], "peer", [nested](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == msg_peer::WM_VANISH)
            std::_Exit(7);
        if (msg == msg_peer::WM_ECHO_LATER) {
            std::this_thread::sleep_for(std::chrono::milliseconds(lParam));
            return PostMessageA(static_cast<HWND>(wParam), msg_peer::WM_ECHOED, 0, 0);
        }
        if (msg == msg_peer::WM_ADD)
            return static_cast<LRESULT>(wParam) + lParam;
        if (msg != WM_COPYDATA)
            return 0;
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        LRESULT result = msg_peer::Checksum(data->dwData, data->lpData, data->cbData);
        if (nested && wParam != 0) {
            const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
            const std::vector<std::uint8_t> reversed(std::make_reverse_iterator(bytes + data->cbData),
                                                     std::make_reverse_iterator(bytes));
            const COPYDATASTRUCT back{msg_peer::NestedTag, static_cast<DWORD>(reversed.size()), reversed.data()};
            result += SendMessageA(static_cast<HWND>(wParam), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&back));
        }
        return result;
    });
    if (hwnd == 0) {
        std::fprintf(stderr, "msg_peer: no window (error %u)\n", static_cast<unsigned>(GetLastError()));
        return 2;
    }
    if (noFiles) {
        const int lowestFree = dup(0);
        close(lowestFree);
        const rlimit limit{static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (stall) {
        int signal = 0;
        sigwait(&resume, &signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    int code = 0;
    MSG msg;
    while (GetMessageA(&msg, 0, 0, 0)) {
        if (msg.message == msg_peer::WM_COUNT)
            code += static_cast<int>(msg.wParam);
        DispatchMessageA(&msg);
    }
    return (code + static_cast<int>(msg.wParam)) & 0xFF;
}
