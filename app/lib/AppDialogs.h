// The dialogs that exist from the start. Their contents come with the commands that use them.
#pragma once

#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormComment.h"
#include "app/lib/FormEditComments.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormInput.h"
#include "app/lib/FormRunFile.h"
#include "app/lib/FormTestArchive.h"
#include "app/lib/FormUUEncode.h"
#include "platform/vcl/Forms.h"

#define TORVO_DIALOG(Name, Title)                                             \
    class Name : public vcl::TForm {                                          \
    public:                                                                   \
        explicit Name(vcl::TComponent* owner) : vcl::TForm(owner)             \
        {                                                                     \
            Caption = Title;                                                  \
            BorderStyle = vcl::bsDialog;                                      \
            Position = vcl::poScreenCenter;                                   \
        }                                                                     \
        std::string ClassName() const override { return #Name; }            \
    };

TORVO_DIALOG(TfrmAddFiles, "Add Files")
TORVO_DIALOG(TfrmPassword1, "Password")
TORVO_DIALOG(TfrmPassword2, "Password")
TORVO_DIALOG(TfrmSeedKeys, "Seed Keys")
TORVO_DIALOG(TfrmSplitArchive, "Split Archive")

#undef TORVO_DIALOG
