// A one-line question whose texts the caller sets (caption, Label1) and whose answer it reads (Edit1).
#pragma once

#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <optional>
#include <string>

class TfrmInput : public vcl::TForm {
public:
    explicit TfrmInput(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmInput"; }

    // Shows the question with `value` in the edit; the edited text after "&Ok", nothing otherwise.
    std::optional<std::string> Ask(const std::string& caption, const std::string& prompt, const std::string& value);

    vcl::TLabel* Label1;
    vcl::TEdit* Edit1;
    vcl::TButton *btnOK, *btnCancel;
};
