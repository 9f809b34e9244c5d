// What a component reported through OnError, kept for the test to compare.
#pragma once

#include "core/plxConsts.h"

#include <algorithm>
#include <vector>

// An OnError handler that keeps only the message numbers.
inline TOnError CollectCodes(std::vector<int>& Codes)
{
    return [&Codes](TObject*, const std::string&, const std::string&, const std::string&, int Code) {
        Codes.push_back(Code);
    };
}

// A component's reports by number, for tests that ask whether one was made.
struct TReports {
    std::vector<int> Codes;
    template <class TComponent>
    void Bind(TComponent& Component)
    {
        Component.OnError = CollectCodes(Codes);
    }
    bool Has(int Code) const { return std::find(Codes.begin(), Codes.end(), Code) != Codes.end(); }
};
