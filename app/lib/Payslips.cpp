#include "app/lib/Payslips.h"

#include "app/lib/BackupNames.h"
#include "platform/win/SysStrings.h"

#include <algorithm>
#include <sstream>

namespace {

struct TOptionKey {
    const char* key;
    std::string TPayslipOptions::*value;
    bool blanks;  // "?" stands for a blank
    bool folder;  // gets a trailing "\"
};

const TOptionKey OptionKeys[] = {
    {"/nameseznam=", &TPayslipOptions::ListName, false, false},
    {"/pathpdf=", &TPayslipOptions::PdfFolder, true, true},
    {"/pathpdfzip=", &TPayslipOptions::ZipFolder, true, true},
    {"/filepdfzip=", &TPayslipOptions::ZipBaseName, true, false},
};

}  // namespace

TPayslipOptions ParsePayslipOptions(const std::string& text)
{
    TPayslipOptions options;
    std::istringstream tokens(text);
    std::string token;
    while (tokens >> token) {
        const std::string lower = win::LowerCase(token);
        for (const TOptionKey& key : OptionKeys) {
            if (lower.find(key.key) != std::string::npos)
                options.*key.value = token;
        }
    }
    for (const TOptionKey& key : OptionKeys) {
        std::string& value = options.*key.value;
        const std::string k = key.key;
        if (!value.empty() && value[0] == '/' && win::LowerCase(value.substr(0, k.size())) == k)
            value.erase(0, k.size());
        if (key.blanks)
            std::replace(value.begin(), value.end(), '?', ' ');
        if (key.folder && !value.empty() && value.back() != '\\')
            value += '\\';
    }
    return options;
}

std::string PayslipFilePath(const std::string& entry, const std::string& pdfFolder)
{
    const bool hasFolder = entry.find_first_of("\\/:") != std::string::npos;
    return hasFolder ? entry : pdfFolder + entry;
}

std::vector<TPayslipGroup> GroupPayslips(const std::vector<std::string>& files, std::size_t groupSize)
{
    std::vector<TPayslipGroup> groups;
    for (std::size_t first = 0; first < files.size(); first += groupSize) {
        const std::size_t end = std::min(files.size(), first + groupSize);
        TPayslipGroup group;
        if (files.size() > groupSize)
            group.Range = std::to_string(first + 1) + "-" + std::to_string(end);
        group.Files.assign(files.begin() + std::ptrdiff_t(first), files.begin() + std::ptrdiff_t(end));
        groups.push_back(std::move(group));
    }
    return groups;
}

std::string PayslipBaseName(win::TDateTime when)
{
    return "VyplatniPasky_" + win::FormatDateTime("yyyy-mm-dd", when) + "(" + win::FormatDateTime("hh-nn", when) + ")";
}

std::string PayslipResultText(const std::string& folder, const std::string& baseName, std::size_t count)
{
    return "Na adresáří " + folder + "\r\n" + "v souboru " + baseName + ".ZIP" + "\r\n" +
           "jsou zpakované výplatní pásky v počtu: " + std::to_string(count) + ".";
}
