// The dialogs that exist from the start. Their contents come with the commands that use them.
#pragma once

#include "app/lib/ErrorMsgs.h"
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

TORVO_DIALOG(TfrmExtract, "Extract")
TORVO_DIALOG(TfrmUUEncode, "Encode")
TORVO_DIALOG(TfrmRunFile, "View / Run")
TORVO_DIALOG(TfrmTestArchive, "Test Archive")
TORVO_DIALOG(TfrmEditComments, "Edit Comments")
TORVO_DIALOG(TfrmInput, "Input")
TORVO_DIALOG(TfrmComment, "Comment")

#undef TORVO_DIALOG
