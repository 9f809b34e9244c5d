// One test or extraction run of the ZIP extractor, and what it reported.
#pragma once

#include "readers/plxUnZIP.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct TUnZipRun {
    int Count = 0;
    std::vector<int> Errors;
    std::vector<std::string> ErrorNames;
    std::map<std::string, bool> Ends;  // target name -> CRC passed
    int Passed = 0, Failed = 0;
    bool Has(int Code) const;
};

// Tests Archive, or extracts it into Dir, trying Password alone and never asking for another; a
// missing volume ends the run. Setup adjusts the extractor before it runs.
TUnZipRun RunUnZip(const std::filesystem::path& Archive, const std::filesystem::path& Dir, bool Test,
                   const std::string& Password = {}, const std::function<void(TUnZip&)>& Setup = {});
