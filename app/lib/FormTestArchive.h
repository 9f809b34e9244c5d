// The integrity-test dialog: tests an archive with its own tester and lists each member's result.
#pragma once

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <memory>
#include <string>
#include <vector>

class TZipCheck;
class TfrmPassword2;

class TfrmTestArchive : public vcl::TForm {
public:
    explicit TfrmTestArchive(vcl::TComponent* owner);
    ~TfrmTestArchive() override;
    std::string ClassName() const override { return "TfrmTestArchive"; }

    // The archive to test and the members selected in the main window.
    void PrepareFor(const std::string& archive, const std::vector<std::string>& selected);
    // Runs the test ("&Ok"); answers the number of members tested.
    int RunTest();
    // True when the last test found a TAR archive inside a GZip or bzip2 file.
    bool TestedNestedTar() const { return nestedTar_; }
    // The rows of the report, one per member result or reported event.
    std::vector<std::string> ReportRows() const;

    vcl::TEdit *Edit1, *Edit3, *Edit2;
    vcl::TCheckBox* CheckBox1;
    vcl::TPaintBox* pbxLed;
    vcl::TProgressBar *Gauge1, *Gauge2;
    vcl::TStatusBar* StatusBar1;
    vcl::TListView* ListView1;
    vcl::TButton *Button1, *Button2;
    vcl::TLabel* lblNote;
    std::unique_ptr<TZipCheck> ZipCheck1;
    // Asks a member's password (the application's dialog when not set).
    TfrmPassword2* Password2 = nullptr;

private:
    void BindTester();
    void AddRow(const std::string& text);
    void SetLed(vcl::TColor colour);
    void ClearGauges();
    // The names to test: the selected members exactly while the FileSpec edit shows them,
    // otherwise the edit's masks.
    std::vector<std::string> FileSpecToTest(bool& exact) const;

    std::vector<std::string> selected_;
    std::string proposedSpec_;
    vcl::TColor ledColour_ = vcl::clGreen;
    bool running_ = false;
    bool nestedTar_ = false;
};
