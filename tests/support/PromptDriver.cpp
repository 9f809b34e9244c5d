#include "support/PromptDriver.h"

#include <cerrno>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TPromptDriver::TPromptDriver(fs::path Fifo) : fifo_(std::move(Fifo))
{
    fs::remove(fifo_);
    ::mkfifo(fifo_.c_str(), 0600);
    // Held open from the start (reading too, so the open does not wait): a program that opens its
    // end as it starts is not held up, and it reads the end of its input only once this closes.
    writer_ = ::open(fifo_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

TPromptDriver::~TPromptDriver()
{
    if (writer_ >= 0)
        ::close(writer_);
    std::error_code ec;
    fs::remove(fifo_, ec);
}

bool TPromptDriver::Answer(const std::string& Text)
{
    const std::string line = Text + "\n";
    return writer_ >= 0 && ::write(writer_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

int TPromptDriver::Run(testsupport::Child& Program, const fs::path& Output, const TOnLine& OnLine,
                       std::chrono::milliseconds Limit)
{
    const auto until = std::chrono::steady_clock::now() + Limit;
    std::size_t taken = 0;
    for (;;) {
        const bool ended = !Program.Running();
        std::ifstream in(Output, std::ios::binary);
        in.seekg(std::streamoff(taken));
        std::string line;
        while (std::getline(in, line) && !in.eof()) {
            taken += line.size() + 1;
            seen_ += line + "\n";
            if (const auto answer = OnLine(line); answer && !Answer(*answer))
                seen_ += "(the answer could not be given)\n";
        }
        if (ended)
            return Program.Wait(0ms).value_or(-1);
        if (std::chrono::steady_clock::now() > until) {
            Program.Kill();
            return -1;
        }
        std::this_thread::sleep_for(5ms);
    }
}
