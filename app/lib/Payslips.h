// Payslip packing: the options of command 50, the list of PDF files and its groups of archives.
#pragma once

#include "platform/win/SysDates.h"

#include <string>
#include <vector>

struct TPayslipOptions {
    std::string ListName;     // "/nameseznam="
    std::string PdfFolder;    // "/pathpdf=", with a trailing "\"
    std::string ZipFolder;    // "/pathpdfzip=", with a trailing "\"
    std::string ZipBaseName;  // "/filepdfzip="
};

// Tokens split at blanks; a token that holds an option's key is that option's value, with the key
// cut off when the token starts with it. "?" stands for a blank in the folders and the base name.
TPayslipOptions ParsePayslipOptions(const std::string& text);

// A name without a folder is a file of the PDF folder.
std::string PayslipFilePath(const std::string& entry, const std::string& pdfFolder);

// One archive of payslips: its range part ("" for a single archive, else "1-50", "51-100", ...)
// and its files.
struct TPayslipGroup {
    std::string Range;
    std::vector<std::string> Files;
};
std::vector<TPayslipGroup> GroupPayslips(const std::vector<std::string>& files, std::size_t groupSize = 50);

// "VyplatniPasky_" + "yyyy-mm-dd" + "(" + "hh-mm" + ")".
std::string PayslipBaseName(win::TDateTime when);
std::string PayslipResultText(const std::string& folder, const std::string& baseName, std::size_t count);
inline constexpr const char* PayslipCaption = "Výplatní pásky";
