// The split dialog: how the splitting ZIP writer cuts the archive it writes into volumes. Shown
// from the writer's split-begin event.
#pragma once

#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <cstdint>
#include <string>

class TZipSplitter;

// The number typed as a volume size: "," dropped, everything from the first "." cut, anything
// but digits ignored; a number too large for 64 bits saturates.
std::int64_t PartSizeFromText(const std::string& text);

class TfrmSplitArchive : public vcl::TForm {
public:
    explicit TfrmSplitArchive(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmSplitArchive"; }

    // The writer whose split settings the dialog edits; set before it is shown.
    TZipSplitter* Splitter = nullptr;

    vcl::TRadioGroup *RadioGroup2, *RadioGroup1;
    vcl::TEdit* Edit3;
    vcl::TLabel *Label9, *Label8, *Label10, *Label7;
    vcl::TButton *Button1, *Button2;

private:
    void Activated();
    void Refresh();
    void CloseQuery(bool& canClose);
    bool filling_ = false;
};
