#include "platform/vcl/Headless.h"

#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/win/Messages.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vcl {

namespace {
bool IsNumber(const std::string& s)
{
    return !s.empty() && s.size() < 9 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsCancel(const std::string& s)
{
    return win::SameText(s, "Cancel") || win::SameText(s, "Esc");
}

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::vector<TButton*> Buttons(TForm& form)
{
    std::vector<TButton*> out;
    for (TControl* c : form.AllControls())
        if (auto* b = dynamic_cast<TButton*>(c); b && b->Showing() && b->EnabledWithParents())
            out.push_back(b);
    return out;
}

void Press(TButton* b)
{
    if (b->CanFocus())
        b->SetFocus();
    b->Click();
}
}  // namespace

THeadlessWidgetSet::THeadlessWidgetSet()
{
    struct stat st {};
    if (const char* path = std::getenv("TORVO_RESPONSES"); path && ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode)) {
        answersFifo_ = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } else if (path) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            answers_.push_back(line);
        }
    }
    if (const char* path = std::getenv("TORVO_TRANSCRIPT"))
        transcriptPath_ = path;
}

THeadlessWidgetSet::~THeadlessWidgetSet()
{
    if (answersFifo_ >= 0)
        ::close(answersFifo_);
}

void THeadlessWidgetSet::PullAnswers(bool wait)
{
    while (answersFifo_ >= 0) {
        char buffer[4096];
        const ssize_t n = ::read(answersFifo_, buffer, sizeof buffer);
        if (n > 0) {
            partialAnswer_.append(buffer, std::size_t(n));
            for (std::size_t end; (end = partialAnswer_.find('\n')) != std::string::npos;) {
                std::string line = partialAnswer_.substr(0, end);
                partialAnswer_.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                answers_.push_back(line);
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Nothing now. Before any writer came the FIFO reads as ended too; only a hang-up after
        // one ends the answers.
        pollfd fd{answersFifo_, POLLIN, 0};
        const bool hungUp = ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLHUP) && !(fd.revents & POLLIN);
        if (hungUp) {
            ::close(answersFifo_);
            answersFifo_ = -1;
            return;
        }
        if (!wait || !answers_.empty())
            return;
        ::poll(&fd, 1, -1);
    }
}

void THeadlessWidgetSet::Echo(const std::string& line) const
{
    if (!echo_)
        return;
    std::string text;
    for (char c : line)
        text += c == '\r' ? std::string() : c == '\n' ? std::string(" / ") : std::string(1, c);
    std::fprintf(stderr, "torvo: %s\n", text.c_str());
    std::fflush(stderr);
}

THeadlessWidgetSet* HeadlessWidgetSet()
{
    return dynamic_cast<THeadlessWidgetSet*>(&WidgetSet());
}

void THeadlessWidgetSet::SetAnswers(const std::vector<std::string>& answers)
{
    responder_ = nullptr;
    answers_.assign(answers.begin(), answers.end());
}

std::optional<std::string> THeadlessWidgetSet::Ask(const TShown& shown)
{
    Echo(shown.Kind + " [" + shown.Caption + "] " + shown.Text);
    if (responder_)
        return responder_(shown);
    PullAnswers(answers_.empty());
    if (answers_.empty())
        return std::nullopt;
    std::string answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void THeadlessWidgetSet::Record(const TShown& shown, const std::string& answer)
{
    transcript_.push_back({shown.Kind, shown.Caption, shown.Text, answer});
    Echo("  -> " + answer);
    if (transcriptPath_.empty())
        return;
    std::ofstream out(transcriptPath_, std::ios::app);
    out << Escape(shown.Kind) << '\t' << Escape(shown.Caption) << '\t' << Escape(shown.Text) << '\t' << Escape(answer)
        << '\n';
}

// Searches below item, depth first, as a user opens the submenus.
static TMenuItem* FindMenuItem(TMenuItem* item, const std::string& caption)
{
    for (int i = 0; item && i < item->Count(); ++i) {
        TMenuItem* child = item->Items(i);
        if (win::SameText(StripHotkey(child->Caption), caption))
            return child;
        if (TMenuItem* found = FindMenuItem(child, caption))
            return found;
    }
    return nullptr;
}

bool THeadlessWidgetSet::ChooseMainMenuItem()
{
    PullAnswers(false);
    if (responder_ || answers_.empty() || answers_.front().rfind(MainMenuAnswer, 0) != 0)
        return false;
    TForm* main = Application->MainForm;
    if (!main || !main->Visible())
        return false;
    const std::string caption = answers_.front().substr(std::string(MainMenuAnswer).size());
    answers_.pop_front();
    TMenuItem* item = main->Menu ? FindMenuItem(main->Menu->Items(), caption) : nullptr;
    const bool enabled = item && item->Enabled;
    const char* answer = !item ? "(no such item)" : enabled ? "Click" : "(disabled)";
    Record({"MainMenu", main->Caption, caption, nullptr}, answer);
    if (enabled)
        SafeCall([&] { item->Click(); });
    return true;
}

void THeadlessWidgetSet::ProcessEvents(bool wait)
{
    DispatchWindowMessages();
    // Only the idle loop takes a main-menu answer, so that it never lands inside work in progress.
    if (wait && ChooseMainMenuItem())
        return;
    if (wait)
        AnswerIdleListBox();
    if (wait) {
        WaitMessageFor(50);
        DispatchWindowMessages();
    }
}

TListBox* THeadlessWidgetSet::IdleListBox() const
{
    if (responder_ || answers_.empty())
        return nullptr;
    TForm* form = Screen && Screen->ActiveForm ? Screen->ActiveForm : Application ? Application->MainForm : nullptr;
    if (!form || form->IsModal() || !form->Showing())
        return nullptr;
    auto* box = dynamic_cast<TListBox*>(form->ActiveControl());
    if (!box || !box->Showing() || !box->EnabledWithParents() || box->Items.Count() == 0)
        return nullptr;
    return box;
}

void THeadlessWidgetSet::AnswerIdleListBox()
{
    TListBox* box = IdleListBox();
    if (!box)
        return;
    TShown shown{"ListBox", box->Name, box->Items.Text(), nullptr};
    const std::string answer = *Ask(shown);
    if (win::SameText(answer, "Esc")) {
        Record(shown, answer);
        return;
    }
    int index = -1;
    if (IsNumber(answer) && std::stoi(answer) < box->Items.Count())
        index = std::stoi(answer);
    for (int i = 0; index < 0 && i < box->Items.Count(); ++i) {
        const std::string& item = box->Items[i];
        if (win::SameText(item, answer) || win::SameText(item.substr(0, item.find('\t')), answer))
            index = i;
    }
    if (index < 0) {
        Record(shown, answer + " (no such item)");
        return;
    }
    Record(shown, answer);
    box->SetItemIndex(index);
    SafeCall([box] { box->DblClick(); });
}

std::string THeadlessWidgetSet::FormText(TForm& form)
{
    std::string out;
    for (TControl* c : form.AllControls()) {
        if (!c->Showing())
            continue;
        std::string text = c->ShownText();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (!text.empty())
            out += (out.empty() ? "" : "\n") + text;
    }
    return out;
}

void THeadlessWidgetSet::ModalStep(TForm& form)
{
    DispatchWindowMessages();
    if (form.ModalResult != mrNone)
        return;
    TShown shown{"Form", form.Caption, FormText(form), &form};
    std::optional<std::string> answer = Ask(shown);
    if (!answer) {
        if (responder_) {  // the test answers later; keep the loop alive meanwhile
            WaitMessageFor(10);
            return;
        }
        Record(shown, "Cancel (no answer)");
        form.ModalResult = mrCancel;
        return;
    }
    bool matched = true;
    SafeCall([&] { matched = ApplyFormAnswer(form, *answer); });
    Record(shown, matched ? *answer : *answer + " (no such control; Cancel)");
    if (!matched && form.ModalResult == mrNone)
        form.ModalResult = mrCancel;
}

bool THeadlessWidgetSet::ApplyFormAnswer(TForm& form, const std::string& answer)
{
    if (win::SameText(answer, "Esc")) {
        form.PressKey(VK_ESCAPE);
        if (form.IsModal() && form.ModalResult == mrNone)
            form.ModalResult = mrCancel;
        return true;
    }
    std::vector<TButton*> buttons = Buttons(form);
    if (IsNumber(answer)) {
        size_t index = size_t(std::stoi(answer));
        if (index >= buttons.size())
            return false;
        Press(buttons[index]);
        return true;
    }
    if (TModalResult result = ModalResultFromName(answer)) {
        for (TButton* b : buttons)
            if (b->ModalResult == result) {
                Press(b);
                return true;
            }
    }
    for (TControl* c : form.AllControls()) {
        if (!c->Showing() || !c->EnabledWithParents() || !win::SameText(StripHotkey(c->Caption), answer))
            continue;
        if (auto* b = dynamic_cast<TButton*>(c)) {
            Press(b);
            return true;
        }
        if (auto* box = dynamic_cast<TCheckBox*>(c)) {
            box->Toggle();
            return true;
        }
    }
    if (TModalResult result = ModalResultFromName(answer)) {
        form.ModalResult = result;
        return true;
    }
    return false;
}

TModalResult THeadlessWidgetSet::MessageBox(const TMessageBoxParams& p)
{
    TShown shown{"MessageBox", p.Caption, p.Text, nullptr};
    TModalResult fallback =
        p.Buttons.empty() ? mrOk : p.Buttons[size_t(std::clamp(p.DefaultButton, 0, int(p.Buttons.size()) - 1))];
    std::optional<std::string> answer = Ask(shown);
    if (!answer) {
        // The same box again and again with nobody to answer it (a disk prompt whose disk never
        // changes): a box that can be cancelled is, rather than be shown for ever.
        const std::string key = p.Caption + '\n' + p.Text;
        defaultedRepeats_ = key == lastDefaulted_ ? defaultedRepeats_ + 1 : 0;
        lastDefaulted_ = key;
        const bool cancellable = std::find(p.Buttons.begin(), p.Buttons.end(), mrCancel) != p.Buttons.end();
        if (defaultedRepeats_ >= 2 && cancellable && fallback != mrCancel) {
            Record(shown, "Cancel (no answer; shown again unchanged)");
            return mrCancel;
        }
        Record(shown, ModalResultName(fallback) + " (no answer)");
        return fallback;
    }
    lastDefaulted_.clear();
    auto has = [&](TModalResult r) { return std::find(p.Buttons.begin(), p.Buttons.end(), r) != p.Buttons.end(); };
    TModalResult result = mrNone;
    if (win::SameText(*answer, "Esc"))
        result = has(mrCancel) ? mrCancel : p.Buttons.size() == 1 ? p.Buttons[0] : mrNone;
    else if (IsNumber(*answer) && size_t(std::stoi(*answer)) < p.Buttons.size())
        result = p.Buttons[size_t(std::stoi(*answer))];
    else if (TModalResult r = ModalResultFromName(*answer); r && has(r))
        result = r;
    if (result == mrNone) {
        Record(shown, *answer + " (no such button; " + ModalResultName(fallback) + ")");
        return fallback;
    }
    Record(shown, *answer);
    return result;
}

bool THeadlessWidgetSet::FileDialog(TFileDialogParams& p)
{
    TShown shown{p.Save ? "SaveDialog" : "OpenDialog", p.Title.empty() ? (p.Save ? "Save As" : "Open") : p.Title,
                 "Filter: " + p.Filter + "\nFolder: " + p.InitialDir + "\nFile: " + p.FileName, nullptr};
    std::optional<std::string> answer = Ask(shown);
    if (!answer || answer->empty() || IsCancel(*answer)) {
        Record(shown, answer ? *answer : "Cancel (no answer)");
        return false;
    }
    Record(shown, *answer);
    p.Files.clear();
    size_t start = 0;
    for (;;) {
        size_t bar = answer->find('|', start);
        std::string name = answer->substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!name.empty())
            p.Files.push_back(name);
        if (bar == std::string::npos || !p.MultiSelect)
            break;
        start = bar + 1;
    }
    return !p.Files.empty();
}

bool THeadlessWidgetSet::SelectDirectory(const std::string& caption, std::string& directory)
{
    TShown shown{"FolderDialog", caption, directory, nullptr};
    std::optional<std::string> answer = Ask(shown);
    if (!answer || IsCancel(*answer)) {
        Record(shown, answer ? *answer : "Cancel (no answer)");
        return false;
    }
    Record(shown, *answer);
    if (!win::SameText(*answer, "OK"))
        directory = *answer;
    return true;
}

bool THeadlessWidgetSet::InputQuery(const std::string& caption, const std::string& prompt, std::string& value)
{
    TShown shown{"InputBox", caption, prompt + "\n" + value, nullptr};
    std::optional<std::string> answer = Ask(shown);
    if (!answer || IsCancel(*answer)) {
        Record(shown, answer ? *answer : "Cancel (no answer)");
        return false;
    }
    Record(shown, *answer);
    if (!win::SameText(*answer, "OK"))
        value = *answer;
    return true;
}

void THeadlessWidgetSet::Popup(TPopupMenu& menu, int, int)
{
    std::vector<TMenuItem*> items;
    std::string text;
    for (int i = 0; i < menu.Items()->Count(); ++i) {
        TMenuItem* item = menu.Items()->Items(i);
        if (!item->Visible || item->IsLine())
            continue;
        items.push_back(item);
        text += (text.empty() ? "" : "\n") + StripHotkey(item->Caption);
    }
    TShown shown{"PopupMenu", menu.Name, text, nullptr};
    std::optional<std::string> answer = Ask(shown);
    if (!answer || IsCancel(*answer)) {
        Record(shown, answer ? *answer : "Cancel (no answer)");
        return;
    }
    Record(shown, *answer);
    TMenuItem* chosen = nullptr;
    if (IsNumber(*answer) && size_t(std::stoi(*answer)) < items.size())
        chosen = items[size_t(std::stoi(*answer))];
    for (TMenuItem* item : items)
        if (!chosen && win::SameText(StripHotkey(item->Caption), *answer))
            chosen = item;
    if (chosen)
        SafeCall([&] { chosen->Click(); });
}

}  // namespace vcl
