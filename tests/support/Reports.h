// What a component reported through OnError, kept for the test to compare.
#pragma once

#include "core/plxConsts.h"

#include <vector>

// An OnError handler that keeps only the message numbers.
inline TOnError CollectCodes(std::vector<int>& Codes)
{
    return [&Codes](TObject*, const std::string&, const std::string&, const std::string&, int Code) {
        Codes.push_back(Code);
    };
}
