// The widget set without a display. Modal forms, message boxes and dialogs are answered by a
// responder: one installed in-process by a test, or the scripted answers of the file named by
// TORVO_RESPONSES. Everything shown is recorded, and appended to the file named by TORVO_TRANSCRIPT.
// TORVO_RESPONSES may name a FIFO: its lines are taken as they come, and a question that finds no
// answer waits for the next line (the end of the FIFO gives the defaults from then on). With the
// echo on (the program), every question and its answer are also written to stderr, so that a run
// with nobody at the screen says what it showed and what it took.
#pragma once

#include "platform/vcl/WidgetSet.h"

#include <deque>
#include <optional>

namespace vcl {

class TListBox;

// What is being shown. Kind: "MessageBox", "Form", "OpenDialog", "SaveDialog", "FolderDialog",
// "InputBox", "PopupMenu", and "ListBox": with scripted answers left over, the idle main loop offers
// the focused list box of the active form; the answer picks an item (index, its text, or its text
// up to the first tab) and double-clicks it, "Esc" leaves it alone. The transcript also logs
// "MainMenu" for a main-menu answer ("MainMenu:<caption>", taken only by the idle loop).
struct TShown {
    std::string Kind, Caption, Text;
    TForm* Form = nullptr;  // for "Form": the form, which a responder may also operate
};

// Answers: a result name ("OK", "Cancel", "Yes", "No", ...), "Esc", an item's index or caption
// (forms and menus), file names separated by "|" (file dialogs), a folder, or an input text.
// An in-process responder may return nothing for a form to let the modal loop run meanwhile.
// A scripted answer "MainMenu:<caption>" is no answer to anything shown: once it is the next answer
// and the application's loop is idle, it chooses the main form's menu item of that caption.
inline constexpr const char* MainMenuAnswer = "MainMenu:";
using TResponder = std::function<std::optional<std::string>(const TShown&)>;

struct TTranscriptEntry {
    std::string Kind, Caption, Text, Answer;
};

class THeadlessWidgetSet : public TWidgetSet {
public:
    THeadlessWidgetSet();
    std::string Name() const override { return "headless"; }
    void SetResponder(TResponder responder) { responder_ = std::move(responder); }
    void SetAnswers(const std::vector<std::string>& answers);
    const std::vector<TTranscriptEntry>& Transcript() const { return transcript_; }
    void ClearTranscript() { transcript_.clear(); }
    void SetTranscriptFile(const std::string& path) { transcriptPath_ = path; }
    void SetEcho(bool echo) { echo_ = echo; }
    // A line on stderr when the echo is on (a report that no box shows, say).
    void Say(const std::string& line) const { Echo(line); }
    ~THeadlessWidgetSet() override;

    void ProcessEvents(bool wait) override;
    void ModalStep(TForm& form) override;
    TModalResult MessageBox(const TMessageBoxParams& params) override;
    bool FileDialog(TFileDialogParams& params) override;
    bool SelectDirectory(const std::string& caption, std::string& directory) override;
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;
    void Popup(TPopupMenu& menu, int screenX, int screenY) override;

    // The texts a form shows, one control a line.
    static std::string FormText(TForm& form);

private:
    std::optional<std::string> Ask(const TShown& shown);
    // Takes the complete lines waiting in the answers' FIFO; with wait, blocks for one line (or
    // the FIFO's end).
    void PullAnswers(bool wait);
    void Echo(const std::string& line) const;
    void Record(const TShown& shown, const std::string& answer);
    // Operates the form as the answer says; returns false when nothing on it matched.
    bool ApplyFormAnswer(TForm& form, const std::string& answer);
    // The list box that a scripted answer may choose from now, or nullptr.
    TListBox* IdleListBox() const;
    void AnswerIdleListBox();
    // Takes a "MainMenu:" answer when it is the next one; true when it did.
    bool ChooseMainMenuItem();

    TResponder responder_;
    std::deque<std::string> answers_;
    std::vector<TTranscriptEntry> transcript_;
    std::string transcriptPath_;
    bool echo_ = false;
    int answersFifo_ = -1;
    std::string partialAnswer_;
    // An unanswered box shown again and again unchanged: nobody is there to change anything.
    std::string lastDefaulted_;
    int defaultedRepeats_ = 0;
};

// The headless widget set in use, or nullptr when another set is in use.
THeadlessWidgetSet* HeadlessWidgetSet();

}  // namespace vcl
