// The seed-key editor: the three header and three data seed keys of the traditional ZIP cipher.
#pragma once

#include "core/plxCrypt.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// A seed key typed as decimal digits: nothing for an empty text, a non-digit or a value above
// 4294967295.
std::optional<std::uint32_t> ParseSeedKey(const std::string& text);

class TfrmSeedKeys : public vcl::TForm {
public:
    explicit TfrmSeedKeys(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmSeedKeys"; }

    void ResetHeaderKeys();
    void ResetDataKeys();
    // The keys of the edits; the defaults stand in for an edit that holds no valid key.
    TKeyTriple HeaderKeys() const;
    TKeyTriple DataKeys() const;

    vcl::TLabel* Label1;
    vcl::TMemo* Memo1;
    std::array<vcl::TEdit*, 3> edtHeaderKey{}, edtDataKey{};
    vcl::TButton *btnResetHeader, *btnResetData, *btnOk, *btnClose;

private:
    void OkClick();
};
