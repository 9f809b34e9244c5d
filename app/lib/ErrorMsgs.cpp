#include "app/lib/ErrorMsgs.h"

#include <algorithm>

using namespace vcl;

TfrmErrorMsgs::TfrmErrorMsgs(TComponent* owner) : TForm(owner)
{
    Name = "frmErrorMsgs";
    Caption = "Error messages";
    Position = poScreenCenter;
    KeyPreview = true;
    SetClientWidth(900);
    SetClientHeight(240);
    ListView1 = new TListView(this);
    ListView1->Name = "ListView1";
    ListView1->SetParent(this);
    ListView1->SetAlign(alClient);
    ListView1->ReadOnly = true;
    ListView1->AddColumn("Error", 880);
    // The column spans the window, so a wider window shows more of each report.
    OnResize = [this](TObject*) { ListView1->Columns[0].Width = std::max(100, ListView1->ClientWidth() - 8); };
    OnKeyDown = [this](TObject*, WORD& key, TShiftState) {
        if (key == VK_DELETE) {
            DeleteSelected();
            key = 0;
        } else if (key == VK_ESCAPE) {
            Close();
            key = 0;
        }
    };
}

void TfrmErrorMsgs::AddError(const std::string& report)
{
    std::string row;
    for (std::size_t at = 0; at < report.size(); ++at) {
        if (report[at] != '\r' && report[at] != '\n') {
            row += report[at];
            continue;
        }
        while (at + 1 < report.size() && (report[at + 1] == '\r' || report[at + 1] == '\n'))
            ++at;
        row += " | ";
    }
    ListView1->AddItem()->Caption = row;
}

void TfrmErrorMsgs::DeleteSelected()
{
    TListItem* selected = ListView1->Selected();
    if (!selected)
        return;
    const int index = selected->Index();
    ListView1->DeleteItem(index);
    const int count = ListView1->ItemCount();
    if (count > 0)
        ListView1->SetSelected(ListView1->Items(std::min(index, count - 1)));
}
