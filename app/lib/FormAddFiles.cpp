#include "app/lib/FormAddFiles.h"
#include "platform/win/ShownPath.h"

#include "core/ArcDescriptor.h"

#include "app/lib/FormBuild.h"
#include "app/lib/FormPassword.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "writers/WriterForType.h"

#include <algorithm>

using namespace vcl;

namespace {

// Alt+P still reaches the button once it says the files will be encrypted.
constexpr const char* ProtectedCaption = "&PROTECTED";

constexpr TArcType CompressorTypes[] = {atBh, atBz2, atCab, atGZip, atJar, atLha, atTar, atTarBz, atTarGz, atZip};

// Every archive extension but ".tar": archives inside are stored, not packed again. Lower case,
// as the writer compares them.
const std::vector<std::string> StoredTypes = {".ace", ".arc", ".arj",  ".bh",  ".bz",  ".bz2", ".cab", ".enc",
                                              ".gz",  ".ha",  ".jar",  ".lha", ".lzh", ".mim", ".pak", ".pk3",
                                              ".pk_", ".rar", ".tbz",  ".tgz", ".uue", ".uu",  ".war", ".xxe",
                                              ".z",   ".zip", ".zipx", ".zoo", ".plx"};

constexpr TplxFileAttribute BoxAttributes[] = {fsArchive,   fsReadOnly, fsHidden,    fsSysFile,
                                               fsDirectory, fsZeroAttr, fsEncrypted, fsReparsePoints};
constexpr const char* BoxCaptions[] = {"Archive",   "Read Only", "Hidden",    "SysFile",
                                       "Directory", "ZeroAttr",  "Encrypted", "Reparse Points"};

std::string CurrentFolder()
{
    char buffer[MAX_PATH + 1] = {};
    return ::GetCurrentDirectoryA(sizeof buffer, buffer) ? std::string(buffer) : std::string();
}

std::array<TCheckBox*, 8> AttributeBoxes(TGroupBox* group, const char* prefix)
{
    std::array<TCheckBox*, 8> boxes{};
    for (size_t i = 0; i < boxes.size(); ++i) {
        const std::string name = prefix + std::to_string(i + 1);
        boxes[i] = PlaceCheck(group, name.c_str(), BoxCaptions[i], false, 8, 16 + int(i) * 19, 110);
    }
    return boxes;
}

void ShowAttributes(const std::array<TCheckBox*, 8>& boxes, TplxFileAttributes attributes)
{
    for (size_t i = 0; i < boxes.size(); ++i)
        boxes[i]->SetChecked((attributes & AttrBit(BoxAttributes[i])) != 0);
}

// The boxes' bits over the attributes that the dialog does not show.
TplxFileAttributes ReadAttributes(const std::array<TCheckBox*, 8>& boxes, TplxFileAttributes attributes)
{
    for (size_t i = 0; i < boxes.size(); ++i) {
        const TplxFileAttributes bit = AttrBit(BoxAttributes[i]);
        attributes = boxes[i]->Checked() ? TplxFileAttributes(attributes | bit) : TplxFileAttributes(attributes & ~bit);
    }
    return attributes;
}

// The lines as the writer takes them: the program's form of the host paths shown.
std::vector<std::string> LinesOf(const TListBox& list)
{
    std::vector<std::string> lines;
    for (int i = 0; i < list.Items.Count(); ++i)
        lines.push_back(TypedPath(list.Items[i]));
    return lines;
}

void ShowLines(TListBox& list, const std::vector<std::string>& lines)
{
    list.Items.Clear();
    for (const std::string& line : lines)
        list.Items.Add(ShownPath(line));
}

}  // namespace

TfrmAddFiles::TfrmAddFiles(TComponent* owner) : TForm(owner)
{
    Name = "frmAddFiles";
    Caption = "Add File(s)";
    BorderStyle = bsSingle;
    Position = poScreenCenter;
    SetClientWidth(640);
    SetClientHeight(420);
    MainMenu1 = new TMainMenu(this);
    TMenuItem* file = NewItem(this, "File");
    file->Add(NewItem(this, "&Select File(s)", 0, [this](TObject*) { SelectFiles(); }));
    file->Add(NewItem(this, "&Close", 0, [this](TObject*) { ModalResult = mrCancel; }));
    MainMenu1->Items()->Add(file);
    Menu = MainMenu1;

    Place(this, new TLabel(this), "Label1", 8, 8, 100, 16)->SetCaption("File(s):");
    Edit2 = Place(this, new TEdit(this), "Edit2", 8, 26, 300, 22);
    Edit2->Hint = "Wildcards ok...";
    Edit2->OnKeyDown = [this](TObject*, WORD& key, TShiftState) {
        if (key == VK_RETURN && !Edit2->Text().empty()) {
            AddFileSpec(Edit2->Text());
            // Ready for the next name: typing must not run on from the last one.
            Edit2->SetText("");
            key = 0;
        }
    };
    BitBtn1 = Place(this, new TBitBtn(this), "BitBtn1", 312, 26, 26, 22);
    BitBtn1->Caption = "...";
    BitBtn1->Hint = "Select files...";
    BitBtn1->OnClick = [this](TObject*) { SelectFiles(); };
    Place(this, new TLabel(this), "Label2", 8, 54, 100, 16)->SetCaption("Default Dir:");
    Edit1 = Place(this, new TEdit(this), "Edit1", 8, 72, 300, 22);
    btnSelectDir = Place(this, new TBitBtn(this), "btnSelectDir", 312, 72, 26, 22);
    btnSelectDir->Caption = "...";
    btnSelectDir->Hint = "Change directory...";
    btnSelectDir->OnClick = [this](TObject*) {
        std::string folder = Edit1->Text();
        if (SelectDirectory("Change directory...", "", folder))
            Edit1->SetText(ShownPath(folder));
    };

    lstFileSpec = Place(this, new TListBox(this), "lstFileSpec", 8, 126, 330, 110);
    lstFileSpec->MultiSelect = true;
    lstFileSpec->Hint = "All FileSpecs MUST contain path...";
    lstExcludeSpec = Place(this, new TListBox(this), "lstExcludeSpec", 8, 126, 330, 110);
    lstExcludeSpec->MultiSelect = true;
    lstExcludeSpec->SetVisible(false);
    CheckBox2 = PlaceCheck(this, "CheckBox2", "FileSpec List", true, 8, 102);
    CheckBox2->TabOrder = lstFileSpec->TabOrder - 1;  // Tab reaches it above the lists it switches
    CheckBox2->OnClick = [this](TObject*) {
        CheckBox2->Caption = CheckBox2->Checked() ? "FileSpec List" : "ExcludeSpec List";
        lstFileSpec->SetVisible(CheckBox2->Checked());
        lstExcludeSpec->SetVisible(!CheckBox2->Checked());
        CheckBox2->Invalidate();
    };
    for (TListBox* list : {lstFileSpec, lstExcludeSpec}) {
        list->OnKeyDown = [list](TObject*, WORD& key, TShiftState) {
            if (key != VK_DELETE || list->SelCount() == 0)
                return;
            key = 0;
            if (MessageDlg("Delete selected?", mtConfirmation, mbYes | mbNo) != mrYes)
                return;
            for (int i = list->Items.Count() - 1; i >= 0; --i)
                if (list->Selected(i))
                    list->Items.Delete(i);
        };
        list->OnClick = [this, list](TObject*) {
            if (list->ItemIndex() >= 0)
                Edit2->SetText(list->Items[list->ItemIndex()]);
        };
    }

    cbEncryptHeaders = PlaceCheck(this, "cbEncryptHeaders", "&EncryptHeaders", false, 8, 244);
    CheckBox1 = PlaceCheck(this, "CheckBox1", "&Store Empty Sub-dirs", false, 8, 266);
    cbRecurseDirs = PlaceCheck(this, "cbRecurseDirs", "&Recurse sub-directories", false, 8, 288);
    cbIncludeHiddenDirs = PlaceCheck(this, "cbIncludeHiddenDirs", "Include &Hidden Dirs", true, 8, 310);
    CheckBox3 = PlaceCheck(this, "CheckBox3", "TranslateOemChar", false, 8, 332);
    btnPassword = Place(this, new TButton(this), "btnPassword", 8, 360, 110, 26);
    btnPassword->Caption = "&Password";
    btnPassword->OnClick = [this](TObject*) { PasswordClick(); };

    ComboBox6 =
        PlaceList(this, "ComboBox6", "Compressor:", 350, 8, 160,
                  {"atBh (TBlakHole)", "atBZip (TBzip)", "atCab (TMakeCab)", "atgZip (TGzip)", "atJar (TJar)",
                   "atLha (TLha)", "atTar (TTar)", "atTarBz (TTarBzip)", "atTarGz (TTarGzip)", "atZip (TZipSplitter)"});
    ComboBox6->SetItemIndex(9);
    ComboBox6->OnChange = [this](TObject*) { ChooseCompressor(ComboBox6->ItemIndex()); };
    ComboBox1 = PlaceList(this, "ComboBox1", "Method:", 350, 54, 160, {});
    ComboBox1->OnChange = [this](TObject*) { ShowMethodChoice(); };
    ComboBox2 = PlaceList(this, "ComboBox2", "Stored Dirs:", 350, 100, 160,
                          {"sdNone", "sdAbsolute", "sdAbsoluteNoDrv", "sdAbsoluteNoRoot", "sdRelative",
                           "sdRelativeStoreStart", "sdExplorer_Auto", "sdExplorer_UserDefinedDefaultDir"});
    ComboBox3 =
        PlaceList(this, "ComboBox3", "DateAttribute:", 350, 146, 160, {"FileDate", "SystemDate", "MaxFileDate"});
    ComboBox4 = PlaceList(this, "ComboBox4", "Switch: ", 350, 192, 160, {"swAdd", "swRefresh", "swMove"});
    ComboBox5 = PlaceList(this, "ComboBox5", "DeflateType:", 350, 238, 160, {"Super fast", "Fast", "Normal", "Extra"});
    ComboBox7 = PlaceList(this, "ComboBox7", "RelativeDir:", 350, 284, 160, {"byItem", "byList"});
    ComboBox7->Hint = "valid only when StoredDirNames is sdRelative or sdRelativeStoreStart";
    ComboBox2->OnChange = [this](TObject*) {
        ComboBox7->SetEnabled(ComboBox2->ItemIndex() == sdRelative || ComboBox2->ItemIndex() == sdRelativeStoreStart);
    };

    GroupBox1 = Place(this, new TGroupBox(this), "GroupBox1", 520, 8, 112, 174);
    GroupBox1->Caption = "A&ttribute";
    Attribute = AttributeBoxes(GroupBox1, "cbAttr");
    GroupBox2 = Place(this, new TGroupBox(this), "GroupBox2", 520, 190, 112, 174);
    GroupBox2->Caption = "Attribute &Exclude";
    AttributeEx = AttributeBoxes(GroupBox2, "cbAttrEx");
    ShowAttributes(Attribute, AttrBit(fsArchive) | AttrBit(fsReadOnly) | AttrBit(fsZeroAttr) | AttrBit(fsEncrypted));
    ShowAttributes(AttributeEx, AttrBit(fsReparsePoints));

    btnOK = Place(this, new TButton(this), "btnOK", 456, 368, 84, 28);
    btnOK->Caption = "&OK";
    btnOK->Default = true;
    btnOK->OnClick = [this](TObject*) { OkClick(); };
    btnClose = Place(this, new TButton(this), "btnClose", 548, 368, 84, 28);
    btnClose->Caption = "&Cancel";
    btnClose->Cancel = true;
    btnClose->ModalResult = mrCancel;
    OnActivate = [this](TObject*) {
        Edit1->SetText(ShownPath(CurrentFolder()));
        if (!OnDefineCompressor)
            return;
        // An archive that its own writer updates keeps its type; any other name picks one.
        const bool fixed = NewWriterForType(listedType_) != nullptr;
        ComboBox6->SetEnabled(!fixed);
        ChooseCompressor(fixed ? CompressorIndex(listedType_) : CompressorIndexOfName(archiveName_));
    };
}

int TfrmAddFiles::CompressorIndex(TArcType type)
{
    switch (type) {
    case atJarExe:
        return 4;
    case atLzh:
        return 5;
    case atBhExe:
        return 0;
    default:
        break;
    }
    const auto* found = std::find(std::begin(CompressorTypes), std::end(CompressorTypes), type);
    return found == std::end(CompressorTypes) ? 9 : int(found - std::begin(CompressorTypes));
}

int TfrmAddFiles::CompressorIndexOfName(const std::string& archiveName)
{
    // The compressor whose format the extension names; ZIP for any other.
    const TArcDescriptor* format = DescriptorByExtension(win::LowerCase(win::ExtractFileExt(archiveName)));
    for (std::size_t i = 0; format && i < std::size(CompressorTypes); ++i)
        if (DescriptorOf(CompressorTypes[i]) == format)
            return int(i);
    return 9;
}

void TfrmAddFiles::PrepareFor(const std::string& archiveName, TArcType listedType)
{
    archiveName_ = archiveName;
    listedType_ = listedType;
}

void TfrmAddFiles::ChooseCompressor(int index)
{
    if (index < 0 || index >= int(std::size(CompressorTypes)) || !OnDefineCompressor)
        return;
    TCompBase* writer =
        OnDefineCompressor(listedType_ != atNA && NewWriterForType(listedType_) ? listedType_ : CompressorTypes[index]);
    if (!writer)
        return;
    std::string name = archiveName_;
    // A new archive takes the writer's extension unless its name already has one of the writer's
    // format: a typed "x.lzh" stays so. One that is added to keeps its name.
    const TArcDescriptor* named = DescriptorByExtension(win::LowerCase(win::ExtractFileExt(name)));
    const bool ownExtension = named && named == DescriptorOf(writer->ArcType());
    if (!name.empty() && !NewWriterForType(listedType_) && !ownExtension) {
        const std::string ext = win::LowerCase(writer->DefaultExt());
        name = win::ChangeFileExt(name, ext);
    }
    if (!name.empty()) {
        Caption = ShownPath(name);
        writer->SetArchiveFile(name);
    }
    ShowSettingsOf(*writer);
}

TListBox* TfrmAddFiles::ListInUse() const
{
    return CheckBox2->Checked() ? lstFileSpec : lstExcludeSpec;
}

void TfrmAddFiles::AddFileSpec(const std::string& name)
{
    std::string spec = TypedPath(name);
    TListBox* list = ListInUse();
    if (list == lstFileSpec && win::ExtractFilePath(spec).empty())
        spec = win::IncludeTrailingPathDelimiter(TypedPath(Edit1->Text().empty() ? CurrentFolder() : Edit1->Text())) +
               spec;
    spec = ShownPath(spec);
    if (list->Items.IndexOf(spec) < 0)
        list->Items.Insert(0, spec);
}

void TfrmAddFiles::SelectFiles()
{
    TOpenDialog dialog(this);
    dialog.Title = "Select file(s) to add ( Ctrl+Click or Shift+Click )";
    const std::string typed = Edit2->Text();
    const std::string mask = win::ExtractFileName(typed);
    dialog.Filter = mask.empty() ? "*.*|*.*" : mask + "|" + mask;
    dialog.InitialDir = win::ExtractFilePath(typed);
    dialog.Options = ofAllowMultiSelect | ofFileMustExist | ofHideReadOnly;
    if (!dialog.Execute())
        return;
    for (int i = 0; i < dialog.Files.Count(); ++i)
        AddFileSpec(dialog.Files[i]);
}

void TfrmAddFiles::ShowSettingsOf(TCompBase& writer)
{
    writer_ = &writer;
    ComboBox6->SetItemIndex(CompressorIndex(writer.ArcType() == atNA ? listedType_ : writer.ArcType()));
    if (!writer.DefaultDir.empty())
        Edit1->SetText(ShownPath(writer.DefaultDir));
    ShowLines(*lstFileSpec, writer.FileSpec());
    ShowLines(*lstExcludeSpec, writer.ExcludeSpec());
    ShowAttributes(Attribute, writer.Attributes);
    ShowAttributes(AttributeEx, writer.AttributesEx);
    ComboBox1->Items.Clear();
    methods_.clear();
    // Only what this writer can write: anything else would be refused when the run starts.
    for (int m = 0; m < TEnumCount<TCompressMethod>::value; ++m) {
        if (writer.MethodAvailable(TCompressMethod(m))) {
            methods_.push_back(TCompressMethod(m));
            ComboBox1->Items.Add(std::string(CompressMethodName(TCompressMethod(m))));
        }
    }
    const auto chosen = std::find(methods_.begin(), methods_.end(), TCompressMethod(writer.CompressMethod));
    ComboBox1->SetItemIndex(chosen == methods_.end() ? (methods_.empty() ? -1 : 0) : int(chosen - methods_.begin()));
    // The option boxes keep what they were set to; recursion is asked for anew.
    cbRecurseDirs->SetChecked(false);
    ComboBox2->SetItemIndex(writer.StoredDirNames);
    ComboBox7->SetEnabled(writer.StoredDirNames == sdRelative || writer.StoredDirNames == sdRelativeStoreStart);
    ComboBox3->SetItemIndex(writer.DateAttribute);
    if (writer.Switch > swMove)
        writer.Switch = swAdd;
    ComboBox4->SetItemIndex(writer.Switch);
    ComboBox5->SetItemIndex(writer.DeflateType);
    ComboBox7->SetItemIndex(writer.RelativeDir);
    btnPassword->Caption = writer.Password().empty() ? "&Password" : ProtectedCaption;
    ShowMethodChoice();
}

void TfrmAddFiles::ShowMethodChoice()
{
    const int index = ComboBox1->ItemIndex();
    const TCompressMethod m = index >= 0 && index < int(methods_.size()) ? methods_[size_t(index)] : cmStore;
    ComboBox5->SetEnabled(m == cmDeflate || m == cmTarBz || m == cmBz2);
}

void TfrmAddFiles::PasswordClick()
{
    if (!writer_)
        return;
    // A writer of a type without a cipher would store the files in the clear under "PROTECTED".
    const int index = ComboBox6->ItemIndex();
    if (index < 0 || index >= int(std::size(CompressorTypes)) || !HasArcFlag(CompressorTypes[index], arcflag::Encrypt)) {
        Application->MessageBox("Encryption is not supported for this type of archive.", "Password", MB_OK);
        return;
    }
    if (!Password1)
        Password1 = new TfrmPassword1(this);
    if (Password1->ShowModal() == mrOk) {
        writer_->SetPassword(Password1->Password());
        writer_->SetEncryptionMethod(Password1->Method());
        btnPassword->Caption = ProtectedCaption;
    } else {
        writer_->SetPassword("");
        writer_->SetEncryptionMethod(emNone);
        btnPassword->Caption = "&Password";
    }
}

void TfrmAddFiles::OkClick()
{
    if (lstFileSpec->Items.Count() == 0 || !writer_)
        return;
    TCompBase& w = *writer_;
    w.DefaultDir = TypedPath(Edit1->Text());
    w.Attributes = ReadAttributes(Attribute, w.Attributes);
    w.AttributesEx = ReadAttributes(AttributeEx, w.AttributesEx);
    w.EncryptHeaders = cbEncryptHeaders->Checked();
    w.RecurseDirs = cbRecurseDirs->Checked();
    w.TranslateOemChar = CheckBox3->Checked();
    w.StoreEmptySubDirs = CheckBox1->Checked();
    w.IncludeHiddenDirs = cbIncludeHiddenDirs->Checked();
    w.StoredDirNames = TStoredDirNames(std::max(0, ComboBox2->ItemIndex()));
    w.DateAttribute = TDateAttribute(std::max(0, ComboBox3->ItemIndex()));
    w.Switch = TSwitch(std::max(0, ComboBox4->ItemIndex()));
    w.DeflateType = TDeflateType(std::max(0, ComboBox5->ItemIndex()));
    w.RelativeDir = TRelativeDir(std::max(0, ComboBox7->ItemIndex()));
    // The method chosen here, whatever an earlier run with "Super fast" left in the writer.
    if (ComboBox1->ItemIndex() >= 0 && ComboBox1->ItemIndex() < int(methods_.size()))
        w.CompressMethod = methods_[size_t(ComboBox1->ItemIndex())];
    w.SetFileSpec(LinesOf(*lstFileSpec));
    w.SetExcludeSpec(LinesOf(*lstExcludeSpec));
    w.StoreFilesOfType = StoredTypes;
    ModalResult = mrOk;
}
