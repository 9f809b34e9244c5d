// Sends WM_COPYDATA to the window of a class: copydata_sender <class> <text>. Prints the result.
#include "platform/win/Messages.h"
#include "support/DieWithParent.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    testsupport::DieWithParent();
    // Long enough for a busy machine; the test that waits for us has its own limit.
    HWND target = 0;
    for (int i = 0; i < 6000 && !target; ++i) {
        target = FindWindowA(argv[1], nullptr);
        if (!target)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!target)
        return 3;
    COPYDATASTRUCT data{7, DWORD(std::strlen(argv[2])), argv[2]};
    LRESULT result = SendMessageA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    std::printf("%ld\n", long(result));
    return 0;
}
