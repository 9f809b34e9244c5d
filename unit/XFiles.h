// The version resource of the running program.
#pragma once

#include <string>

class TXFileVersion {
public:
    // The string value (e.g. "FileVersion") under the first translation; empty when missing.
    std::string Query(const std::string& name) const;
};

// The running program's "FileVersion".
std::string XFileVersion1();
