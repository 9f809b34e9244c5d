// The user at a program's prompts, for tests that run the program as a process of its own: the
// program writes each question as a line of its output (a file) and reads the answer as a line
// of a FIFO; between the two the test does what the user would, such as swapping a disk.
#pragma once

#include "support/Child.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class TPromptDriver {
public:
    // Makes the FIFO at Fifo (the program's standard input or its scripted answers).
    explicit TPromptDriver(std::filesystem::path Fifo);
    ~TPromptDriver();
    TPromptDriver(const TPromptDriver&) = delete;
    TPromptDriver& operator=(const TPromptDriver&) = delete;

    const std::filesystem::path& Fifo() const { return fifo_; }

    // Follows Output until Program ends (or the limit passes; then it is killed): every new line
    // goes to OnLine, and what that answers is written to the FIFO as a line. Answers the exit
    // code (-1 after the limit).
    using TOnLine = std::function<std::optional<std::string>(const std::string& Line)>;
    int Run(testsupport::Child& Program, const std::filesystem::path& Output, const TOnLine& OnLine,
            std::chrono::milliseconds Limit = testsupport::PeerDeadline);
    // Every line seen so far.
    const std::string& Seen() const { return seen_; }

private:
    bool Answer(const std::string& Text);

    std::filesystem::path fifo_;
    int writer_ = -1;
    std::string seen_;
};
