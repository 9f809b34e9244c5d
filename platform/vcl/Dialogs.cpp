#include "platform/vcl/Dialogs.h"

namespace vcl {

bool TOpenDialog::Execute()
{
    TFileDialogParams p;
    p.Save = save_;
    p.Title = Title;
    p.Filter = Filter;
    p.InitialDir = InitialDir;
    p.DefaultExt = DefaultExt;
    p.FileName = FileName;
    p.FilterIndex = FilterIndex;
    p.MultiSelect = !save_ && (Options & ofAllowMultiSelect);
    if (!WidgetSet().FileDialog(p) || p.Files.empty())
        return false;
    Files.Clear();
    for (const std::string& f : p.Files)
        Files.Add(f);
    FileName = p.Files.front();
    FilterIndex = p.FilterIndex;
    return true;
}

bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory)
{
    std::string chosen = directory.empty() ? root : directory;
    if (!WidgetSet().SelectDirectory(caption, chosen))
        return false;
    directory = chosen;
    return true;
}

TModalResult MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int)
{
    static const char* const captions[] = {"Warning", "Error", "Information", "Confirm", ""};
    TMessageBoxParams p;
    p.Text = msg;
    p.Type = type;
    p.Caption = type == mtCustom ? Application->Title : captions[type];
    static const std::pair<TMsgDlgButtons, TModalResult> order[] = {
        {mbYes, mrYes},     {mbNo, mrNo},         {mbOK, mrOk},   {mbCancel, mrCancel},   {mbAbort, mrAbort},
        {mbRetry, mrRetry}, {mbIgnore, mrIgnore}, {mbAll, mrAll}, {mbNoToAll, mrNoToAll}, {mbYesToAll, mrYesToAll}};
    for (auto [flag, result] : order)
        if (buttons & flag)
            p.Buttons.push_back(result);
    if (p.Buttons.empty())
        p.Buttons.push_back(mrOk);
    // The default is OK or Yes where there is one, as the dialogs of the class library do.
    for (size_t i = 0; i < p.Buttons.size(); ++i)
        if (p.Buttons[i] == mrOk || p.Buttons[i] == mrYes) {
            p.DefaultButton = int(i);
            break;
        }
    const TDialogCursor arrow;
    return WidgetSet().MessageBox(p);
}

void ShowMessage(const std::string& msg)
{
    MessageDlg(msg, mtCustom, mbOK);
}

std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& defaultValue)
{
    std::string value = defaultValue;
    return InputQuery(caption, prompt, value) ? value : defaultValue;
}

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value)
{
    std::string edited = value;
    const TDialogCursor arrow;
    if (!WidgetSet().InputQuery(caption, prompt, edited))
        return false;
    value = edited;
    return true;
}

}  // namespace vcl
