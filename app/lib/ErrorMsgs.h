// The error-message window: one row per error that a component reported, shown when an operation
// ends with any.
#pragma once

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Forms.h"

#include <string>

class TfrmErrorMsgs : public vcl::TForm {
public:
    explicit TfrmErrorMsgs(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmErrorMsgs"; }

    vcl::TListView* ListView1;

    // One row; the report's line breaks become separators, since a row shows one line.
    void AddError(const std::string& report);
    // Delete removes the selected row and selects the row that takes its place (or the new last).
    void DeleteSelected();
};
