// The archive-comment window: shows an archive's main comment, read-only, after a listing.
#pragma once

#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

class TfrmComment : public vcl::TForm {
public:
    explicit TfrmComment(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmComment"; }

    vcl::TMemo* Memo1;
    vcl::TButton* btnOK;
};
