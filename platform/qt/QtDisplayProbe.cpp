#include "platform/qt/QtDisplayProbe.h"

#include <QGuiApplication>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace torvoqt {

namespace {

constexpr auto ProbeLimit = std::chrono::seconds(10);

[[noreturn]] void ProbeInChild()
{
    // Qt's complaint would be a second, confusing message; the caller says what happens.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0)
        ::dup2(null, STDERR_FILENO);
    static int argc = 1;
    static char name[] = "torvo";
    static char* argv[] = {name, nullptr};
    QGuiApplication probe(argc, argv);
    ::_exit(0);
}

}  // namespace

bool DisplayUsable()
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0)
        ProbeInChild();
    const auto deadline = std::chrono::steady_clock::now() + ProbeLimit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace torvoqt
