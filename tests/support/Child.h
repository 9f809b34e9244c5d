// Child processes and waits for tests. Every wait has a deadline, and a child is killed and reaped
// however its test ends, so a stuck or lost peer fails one test instead of hanging the run.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

// Long on purpose: limits matter only when something is broken or the machine is very busy.
constexpr std::chrono::seconds PeerDeadline{60};

using Pump = std::function<void()>;

// Checks the condition until it holds or the limit passes; pump (serving this process's own
// windows, say) runs between checks instead of a short sleep.
template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = PeerDeadline, const Pump& pump = {})
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        if (pump)
            pump();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

class Child {
public:
    enum class Output { Inherit, Capture, File };

    Child() = default;
    // Starts argv[0] (a path) with standard input from /dev/null; with Output::File its output and
    // errors go to outputFile. Started() says whether it runs.
    // inputFile (a FIFO, say) replaces /dev/null as its standard input.
    explicit Child(const std::vector<std::string>& argv, Output output = Output::Inherit,
                   const std::string& outputFile = {}, const std::string& inputFile = "/dev/null")
    {
        int pipeFds[2] = {-1, -1};
        if (output == Output::Capture && pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, inputFile.c_str(), O_RDONLY, 0);
        if (output == Output::Capture) {
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        } else if (output == Output::File) {
            posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        }
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (output == Output::Capture) {
            ::close(pipeFds[1]);
            outputFd_ = pipeFds[0];
            fcntl(outputFd_, F_SETFL, O_NONBLOCK);
        }
        if (rc == 0)
            pid_ = pid;
    }
    Child(Child&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)),
          code_(other.code_),
          outputFd_(std::exchange(other.outputFd_, -1)),
          output_(std::move(other.output_))
    {}
    Child& operator=(Child&& other) noexcept
    {
        if (this != &other) {
            Kill();
            CloseOutput();
            pid_ = std::exchange(other.pid_, -1);
            code_ = other.code_;
            outputFd_ = std::exchange(other.outputFd_, -1);
            output_ = std::move(other.output_);
        }
        return *this;
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        Kill();
        CloseOutput();
    }

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // The exit code (128 + N when signal N ended it), or nothing while it still runs after the
    // limit. Its output is collected meanwhile, so a chatty child never blocks on a full pipe.
    std::optional<int> Wait(std::chrono::milliseconds limit = PeerDeadline, const Pump& pump = {})
    {
        Eventually([this] { return Reap(WNOHANG); }, limit, pump);
        Drain();
        return code_;
    }
    bool Running() { return Started() && !Wait(std::chrono::milliseconds(0)); }

    // Ends it at once and reaps it; its exit code stays known.
    void Kill()
    {
        if (!Started() || Reap(WNOHANG))
            return;
        ::kill(pid_, SIGKILL);
        Reap(0);
    }

    // What it wrote to its captured output so far.
    const std::string& Output()
    {
        Drain();
        return output_;
    }

private:
    // True once the child has ended and been reaped (or was never started).
    bool Reap(int flags)
    {
        if (code_ || pid_ <= 0)
            return true;
        int status = 0;
        pid_t r;
        do {
            r = waitpid(pid_, &status, flags);
        } while (r < 0 && errno == EINTR);
        if (r == pid_)
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else if (r < 0)
            code_ = -1;  // not ours to wait for any more
        return code_.has_value();
    }
    void Drain()
    {
        if (outputFd_ < 0)
            return;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(outputFd_, buffer, sizeof buffer)) > 0)
            output_.append(buffer, static_cast<std::size_t>(n));
    }
    void CloseOutput()
    {
        if (outputFd_ >= 0)
            ::close(outputFd_);
        outputFd_ = -1;
    }

    pid_t pid_ = -1;
    std::optional<int> code_;
    int outputFd_ = -1;
    std::string output_;
};

}  // namespace testsupport
