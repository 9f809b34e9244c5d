#include "app/lib/MenuText.h"

#include "platform/win/SysStrings.h"
#include "platform/win/Utf8.h"

#include <algorithm>

namespace {

const std::string TagMark = "‡";
const std::string IndentOne = "›";
const std::string IndentTwo = "»";
const std::string HintOpen = "¤";
const std::string HintClose = "Ą";
const std::string ImageOpen = "…";
const std::string ImageClose = "†";
const std::string ImageCloseSecond = "®";
const std::string ColourMark = "×";
const std::string CheckBoxMark = "°";
const std::string SeparatorMark = "¬";

int IntOrZero(std::string_view text)
{
    int value = 0;
    return win::TryStrToInt(win::Trim(text), value) ? value : 0;
}

// Cuts the text between the first `open` and the first `close` after it (markers included) out of
// `text` and gives the part between them.
std::optional<std::string> CutBetween(std::string& text, std::string_view open, std::string_view close)
{
    const std::size_t start = text.find(open);
    if (start == std::string::npos)
        return std::nullopt;
    const std::size_t end = text.find(close, start + open.size());
    if (end == std::string::npos)
        return std::nullopt;
    std::string part = text.substr(start + open.size(), end - start - open.size());
    text.erase(start, end + close.size() - start);
    return part;
}

std::size_t Utf8Length(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

void CutImages(std::string& text, TMenuLine& line)
{
    for (;;) {
        const std::size_t start = text.find(ImageOpen);
        if (start == std::string::npos)
            return;
        const std::size_t plain = text.find(ImageClose, start);
        const std::size_t second = text.find(ImageCloseSecond, start);
        const std::size_t end = std::min(plain, second);
        if (end == std::string::npos)
            return;
        const std::size_t closeSize = end == plain ? ImageClose.size() : ImageCloseSecond.size();
        const std::string numbers = text.substr(start + ImageOpen.size(), end - start - ImageOpen.size());
        for (std::size_t pos = 0; pos < numbers.size();) {
            const std::size_t blank = std::min(numbers.find(' ', pos), numbers.size());
            if (blank > pos)
                line.ImageIndexes.push_back(IntOrZero(std::string_view(numbers).substr(pos, blank - pos)));
            pos = blank + 1;
        }
        if (end == second)
            line.SecondImageLayout = true;
        text.erase(start, end + closeSize - start);
    }
}

TMenuLine ParseButton(std::string text)
{
    TMenuLine line;
    if (auto hint = CutBetween(text, HintOpen, HintClose))
        line.Hint = *hint;
    CutImages(text, line);

    const std::size_t tagStart = text.find(TagMark);
    std::string caption = text.substr(0, tagStart);
    std::string tag = tagStart == std::string::npos ? std::string() : text.substr(tagStart + TagMark.size());

    if (caption.starts_with(IndentTwo)) {
        line.Indent = 2;
        caption.erase(0, IndentTwo.size());
    } else if (caption.starts_with(IndentOne)) {
        line.Indent = 1;
        caption.erase(0, IndentOne.size());
    }
    const std::size_t caret = caption.find('^');
    if (caret != std::string::npos && caret + 1 < caption.size()) {
        const std::size_t size =
            std::min(Utf8Length(static_cast<unsigned char>(caption[caret + 1])), caption.size() - caret - 1);
        line.Accelerator = caption.substr(caret + 1, size);
        caption.erase(caret, 1 + size);
    }
    line.Caption = caption;

    if (auto returnText = CutBetween(tag, "<", ">"))
        line.ReturnText = *returnText;
    while (!tag.empty() && (tag.front() == '+' || tag.front() == '-')) {
        (tag.front() == '+' ? line.IsDefault : line.Enabled) = tag.front() == '+';
        tag.erase(0, 1);
    }
    line.Number = IntOrZero(tag);
    return line;
}

TMenuLine ParseLine(const std::string& text)
{
    TMenuLine line;
    if (text.starts_with('~')) {
        line.Kind = TMenuLineKind::Label;
        std::string caption = text.substr(1);
        if (auto colour = CutBetween(caption, ColourMark, ColourMark)) {
            std::int64_t value = 0;
            if (win::TryStrToInt64(win::Trim(*colour), value))
                line.LabelColour = value;
        }
        line.Caption = caption;
    } else if (text.starts_with(CheckBoxMark)) {
        line.Kind = TMenuLineKind::CheckBox;
        std::string caption = text.substr(CheckBoxMark.size());
        if (auto returnText = CutBetween(caption, "<", ">"))
            line.ReturnText = *returnText;
        line.Caption = caption;
    } else if (text.starts_with(SeparatorMark)) {
        line.Kind = TMenuLineKind::Separator;
    } else if (text.starts_with('#')) {
        line.Kind = TMenuLineKind::Range;
        const std::string range = text.substr(1);
        const std::size_t dash = range.find('-', 1);
        int low = 0;
        int high = 0;
        if (dash != std::string::npos && win::TryStrToInt(win::Trim(range.substr(0, dash)), low) &&
            win::TryStrToInt(win::Trim(range.substr(dash + 1)), high)) {
            line.RangeLow = low;
            line.RangeHigh = high;
        }
    } else {
        line = ParseButton(text);
    }
    return line;
}

}  // namespace

TMenuOptions ParseMenuOptions(std::string_view options)
{
    TMenuOptions result;
    bool has[28] = {};
    std::string rest;
    for (const char c : options) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 1 && byte <= 27)
            has[byte] = true;
        else
            rest += c;
    }
    result.BoldLabels = has[1];
    result.BoldWhileFocused = has[2];
    result.KeepDefaultColour = has[7];
    result.NoPreselectByNumber = has[14];
    result.ButtonFaceColours = has[23];
    result.AcceleratorFocusOnly = has[24];
    result.AllBold = has[26];
    result.Alignment = has[12] ? TMenuAlignment::Left : has[18] ? TMenuAlignment::Right : TMenuAlignment::Centre;
    result.ButtonHeight = has[19] ? 19 : has[13] ? 23 : has[8] ? 30 : 25;
    result.ButtonGap = has[4] ? 5 : 0;
    result.Layout5 = has[5];
    result.Layout16 = has[16];
    result.Layout21 = has[21];
    result.MeasureHeight = has[5] ? 14 : 20;
    int index = -1;
    if (win::TryStrToInt(win::Trim(rest), index))
        result.PreselectIndex = index;
    return result;
}

std::vector<std::string> PrepareMenuLines(std::string_view menuText)
{
    std::string text(menuText);
    while (!text.empty() && text.back() == '~')
        text.pop_back();
    if (text.empty())
        return {};
    if (text.front() == '~' || text.front() != '|')
        text = "|" + text;
    std::string marked;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool opensLine = text[i] == '~' || text.compare(i, SeparatorMark.size(), SeparatorMark) == 0;
        if (opensLine && i > 0 && text[i - 1] != '|')
            marked += '|';
        marked += text[i];
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= marked.size()) {
        const std::size_t bar = std::min(marked.find('|', start), marked.size());
        if (bar > start)
            lines.push_back(marked.substr(start, bar - start));
        start = bar + 1;
    }
    return lines;
}

TMenuModel ParseMenuText(std::string_view menuText)
{
    TMenuModel model;
    for (const std::string& text : PrepareMenuLines(menuText)) {
        TMenuLine line = ParseLine(text);
        if (line.Kind == TMenuLineKind::Range) {
            model.RangeLow = line.RangeLow;
            model.RangeHigh = line.RangeHigh;
        }
        model.Lines.push_back(std::move(line));
    }
    return model;
}

std::vector<const TMenuLine*> TMenuModel::Buttons() const
{
    std::vector<const TMenuLine*> buttons;
    for (const TMenuLine& line : Lines)
        if (line.Kind == TMenuLineKind::Button)
            buttons.push_back(&line);
    return buttons;
}

std::vector<const TMenuLine*> TMenuModel::CheckBoxes() const
{
    std::vector<const TMenuLine*> boxes;
    for (const TMenuLine& line : Lines)
        if (line.Kind == TMenuLineKind::CheckBox)
            boxes.push_back(&line);
    return boxes;
}

TMenuPreselection PreselectButton(const TMenuModel& model, const TMenuOptions& options, int inOutNumber)
{
    const auto buttons = model.Buttons();
    TMenuPreselection result;
    if (options.PreselectIndex >= 0 && options.PreselectIndex < static_cast<int>(buttons.size()))
        result.Index = options.PreselectIndex;
    if (options.NoPreselectByNumber)
        return result;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i]->Number == inOutNumber) {
            result.Index = static_cast<int>(i);
            result.MarkDefault = true;
            break;
        }
    }
    return result;
}

TMenuKeyResult MenuAcceleratorKey(const TMenuModel& model, const TMenuOptions& options, char32_t key)
{
    const bool letter = win::FoldCase(key) != win::ToUpper(key);
    const bool accepted = key == U' ' || (key >= U'*' && key <= U'9') || key == U'=' || key == U'\\' || letter;
    TMenuKeyResult result;
    if (!accepted)
        return result;
    const auto buttons = model.Buttons();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const std::u32string accelerator = win::DecodeUtf8(buttons[i]->Accelerator);
        if (buttons[i]->Enabled && accelerator.size() == 1 && win::FoldCase(accelerator[0]) == win::FoldCase(key)) {
            result.Index = static_cast<int>(i);
            result.Choose = !options.AcceleratorFocusOnly;
            break;
        }
    }
    return result;
}

TMenuChoice ChooseMenuButton(const TMenuModel& model, int buttonIndex, const std::vector<bool>& ticked)
{
    TMenuChoice choice;
    if (model.Lines.empty()) {
        choice.Index = MenuEmpty;
        return choice;
    }
    const auto buttons = model.Buttons();
    if (buttonIndex < 0 || buttonIndex >= static_cast<int>(buttons.size()))
        return choice;
    const TMenuLine& button = *buttons[buttonIndex];
    choice.Index = buttonIndex;
    choice.Number = button.Number;
    choice.Text = button.ReturnText;
    const auto boxes = model.CheckBoxes();
    for (std::size_t i = 0; i < boxes.size() && i < ticked.size(); ++i)
        if (ticked[i])
            choice.Text += TagMark + boxes[i]->ReturnText;
    choice.Caption = button.Caption;
    std::erase(choice.Caption, '&');
    return choice;
}
