// The comment dialog of the workflow command "Poznámka": one line of at most 50 characters that
// becomes the archive's comment. Built when needed.
#pragma once

#include "app/lib/VColButton.h"
#include "app/lib/VEdit.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <optional>
#include <string>

class TfrmComm : public vcl::TForm {
public:
    explicit TfrmComm(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmComm"; }

    static constexpr int MaxCommentLength = 50;
    TVLabeledEdit* leComment;
    TVColButton* btnOK;
    TVColButton* btnBack;
};

// Shows the dialog with the comment; the new text after "OK", nothing after "Zpět" or Esc.
std::optional<std::string> EditArchiveComment(vcl::TComponent* owner, const std::string& comment);
