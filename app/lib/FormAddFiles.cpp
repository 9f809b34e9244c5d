#include "app/lib/FormAddFiles.h"

#include "app/lib/FormBuild.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"

#include <algorithm>

using namespace vcl;

namespace {

constexpr TArcType CompressorTypes[] = {atBh, atBz2, atCab, atGZip, atJar, atLha, atTar, atTarBz, atTarGz, atZip};

// Every archive extension but ".tar": archives inside are stored, not packed again. Lower case,
// as the writer compares them.
const std::vector<std::string> StoredTypes = {
    ".ace", ".arc", ".arj", ".bh",  ".bz",  ".bz2", ".cab", ".enc", ".gz",  ".ha",  ".jar", ".lha", ".lzh", ".mim",
    ".pak", ".pk3", ".pk_", ".rar", ".tbz", ".tgz", ".uue", ".uu",  ".war", ".xxe", ".z",   ".zip", ".zipx", ".zoo",
    ".plx"};

// Names typed as host paths are taken in the program's own (Windows) form.
std::string WindowsForm(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    const std::string windows = win::ToWindowsPath(path);
    return windows.empty() ? path : windows;
}

std::string CurrentFolder()
{
    char buffer[MAX_PATH + 1] = {};
    return ::GetCurrentDirectoryA(sizeof buffer, buffer) ? std::string(buffer) : std::string();
}

}  // namespace

TfrmAddFiles::TfrmAddFiles(TComponent* owner) : TForm(owner)
{
    Name = "frmAddFiles";
    Caption = "Add File(s)";
    BorderStyle = bsSingle;
    Position = poScreenCenter;
    SetClientWidth(520);
    SetClientHeight(380);
    Place(this, new TLabel(this), "Label1", 8, 8, 100, 16)->SetCaption("File(s):");
    Edit2 = Place(this, new TEdit(this), "Edit2", 8, 26, 300, 22);
    Edit2->Hint = "Wildcards ok...";
    Edit2->OnKeyDown = [this](TObject*, WORD& key, TShiftState) {
        if (key == VK_RETURN && !Edit2->Text().empty()) {
            AddFileSpec(Edit2->Text());
            key = 0;
        }
    };
    BitBtn1 = Place(this, new TBitBtn(this), "BitBtn1", 312, 26, 26, 22);
    BitBtn1->Caption = "...";
    BitBtn1->Hint = "Select files...";
    Place(this, new TLabel(this), "Label2", 8, 54, 100, 16)->SetCaption("Default Dir:");
    Edit1 = Place(this, new TEdit(this), "Edit1", 8, 72, 300, 22);
    btnSelectDir = Place(this, new TBitBtn(this), "btnSelectDir", 312, 72, 26, 22);
    btnSelectDir->Caption = "...";
    btnSelectDir->Hint = "Change directory...";
    btnSelectDir->OnClick = [this](TObject*) {
        std::string folder = Edit1->Text();
        if (SelectDirectory("Change directory...", "", folder))
            Edit1->SetText(folder);
    };
    ComboBox6 = PlaceList(this, "ComboBox6", "Compressor:", 350, 8, 160,
                          {"atBh (TBlakHole)", "atBZip (TBzip)", "atCab (TMakeCab)", "atgZip (TGzip)", "atJar (TJar)",
                           "atLha (TLha)", "atTar (TTar)", "atTarBz (TTarBzip)", "atTarGz (TTarGzip)",
                           "atZip (TZipSplitter)"});
    ComboBox6->SetItemIndex(9);
    lstFileSpec = Place(this, new TListBox(this), "lstFileSpec", 8, 102, 330, 120);
    lstFileSpec->MultiSelect = true;
    lstFileSpec->Hint = "All FileSpecs MUST contain path...";
    CheckBox1 = PlaceCheck(this, "CheckBox1", "&Store Empty Sub-dirs", false, 8, 230);
    cbRecurseDirs = PlaceCheck(this, "cbRecurseDirs", "&Recurse sub-directories", false, 8, 252);
    cbIncludeHiddenDirs = PlaceCheck(this, "cbIncludeHiddenDirs", "Include &Hidden Dirs", true, 8, 274);
    CheckBox3 = PlaceCheck(this, "CheckBox3", "TranslateOemChar", false, 8, 296);
    ComboBox2 = PlaceList(this, "ComboBox2", "Stored Dirs:", 350, 54, 160,
                          {"sdNone", "sdAbsolute", "sdAbsoluteNoDrv", "sdAbsoluteNoRoot", "sdRelative",
                           "sdRelativeStoreStart", "sdExplorer_Auto", "sdExplorer_UserDefinedDefaultDir"});
    ComboBox3 = PlaceList(this, "ComboBox3", "DateAttribute:", 350, 100, 160, {"FileDate", "SystemDate", "MaxFileDate"});
    ComboBox4 = PlaceList(this, "ComboBox4", "Switch: ", 350, 146, 160, {"swAdd", "swRefresh", "swMove"});
    ComboBox5 = PlaceList(this, "ComboBox5", "DeflateType:", 350, 192, 160, {"Super fast", "Fast", "Normal", "Extra"});
    ComboBox7 = PlaceList(this, "ComboBox7", "RelativeDir:", 350, 238, 160, {"byItem", "byList"});
    ComboBox7->Hint = "valid only when StoredDirNames is sdRelative or sdRelativeStoreStart";
    ComboBox2->OnChange = [this](TObject*) {
        ComboBox7->SetEnabled(ComboBox2->ItemIndex() == sdRelative || ComboBox2->ItemIndex() == sdRelativeStoreStart);
    };
    btnOK = Place(this, new TButton(this), "btnOK", 340, 340, 80, 28);
    btnOK->Caption = "&OK";
    btnOK->Default = true;
    btnOK->OnClick = [this](TObject*) { OkClick(); };
    btnClose = Place(this, new TButton(this), "btnClose", 428, 340, 80, 28);
    btnClose->Caption = "&Cancel";
    btnClose->Cancel = true;
    btnClose->ModalResult = mrCancel;
    OnActivate = [this](TObject*) {
        if (Edit1->Text().empty())
            Edit1->SetText(CurrentFolder());
    };
}

int TfrmAddFiles::CompressorIndex(TArcType type)
{
    const auto* found = std::find(std::begin(CompressorTypes), std::end(CompressorTypes), type);
    return found == std::end(CompressorTypes) ? 9 : int(found - std::begin(CompressorTypes));
}

void TfrmAddFiles::AddFileSpec(const std::string& name)
{
    std::string spec = WindowsForm(name);
    if (win::ExtractFilePath(spec).empty())
        spec = win::IncludeTrailingPathDelimiter(WindowsForm(Edit1->Text().empty() ? CurrentFolder() : Edit1->Text())) +
               spec;
    if (lstFileSpec->Items.IndexOf(spec) < 0)
        lstFileSpec->Items.Insert(0, spec);
}

void TfrmAddFiles::ShowSettingsOf(TCompBase& writer)
{
    writer_ = &writer;
    ComboBox6->SetItemIndex(CompressorIndex(writer.ArcType()));
    Edit1->SetText(writer.DefaultDir);
    lstFileSpec->Items.Clear();
    for (const std::string& spec : writer.FileSpec())
        lstFileSpec->Items.Add(spec);
    cbRecurseDirs->SetChecked(false);
    CheckBox1->SetChecked(writer.StoreEmptySubDirs);
    cbIncludeHiddenDirs->SetChecked(writer.IncludeHiddenDirs);
    CheckBox3->SetChecked(writer.TranslateOemChar);
    ComboBox2->SetItemIndex(writer.StoredDirNames);
    ComboBox3->SetItemIndex(writer.DateAttribute);
    ComboBox4->SetItemIndex(writer.Switch > swMove ? swAdd : writer.Switch);
    ComboBox5->SetItemIndex(writer.DeflateType);
    ComboBox7->SetItemIndex(writer.RelativeDir);
}

void TfrmAddFiles::OkClick()
{
    if (lstFileSpec->Items.Count() == 0 || !writer_)
        return;
    TCompBase& w = *writer_;
    w.DefaultDir = WindowsForm(Edit1->Text());
    w.RecurseDirs = cbRecurseDirs->Checked();
    w.StoreEmptySubDirs = CheckBox1->Checked();
    w.IncludeHiddenDirs = cbIncludeHiddenDirs->Checked();
    w.TranslateOemChar = CheckBox3->Checked();
    w.StoredDirNames = TStoredDirNames(std::max(0, ComboBox2->ItemIndex()));
    w.DateAttribute = TDateAttribute(std::max(0, ComboBox3->ItemIndex()));
    w.Switch = TSwitch(std::max(0, ComboBox4->ItemIndex()));
    w.DeflateType = TDeflateType(std::max(0, ComboBox5->ItemIndex()));
    w.RelativeDir = TRelativeDir(std::max(0, ComboBox7->ItemIndex()));
    std::vector<std::string> specs;
    for (int i = 0; i < lstFileSpec->Items.Count(); ++i)
        specs.push_back(lstFileSpec->Items[i]);
    w.SetFileSpec(specs);
    w.StoreFilesOfType = StoredTypes;
    ModalResult = mrOk;
}
