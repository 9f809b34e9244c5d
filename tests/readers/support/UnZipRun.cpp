#include "readers/support/UnZipRun.h"

#include "support/ToolRun.h"

#include <algorithm>

bool TUnZipRun::Has(int Code) const
{
    return std::find(Errors.begin(), Errors.end(), Code) != Errors.end();
}

TUnZipRun RunUnZip(const std::filesystem::path& Archive, const std::filesystem::path& Dir, bool Test,
                   const std::string& Password, const std::function<void(TUnZip&)>& Setup)
{
    TUnZip z;
    TUnZipRun r;
    z.OnError = [&r](TObject*, const std::string& name, const std::string&, const std::string&, int code) {
        r.Errors.push_back(code);
        r.ErrorNames.push_back(name);
    };
    z.OnEnd = [&r](TObject*, const std::string& name, bool pass) {
        r.Ends[name] = pass;
        ++(pass ? r.Passed : r.Failed);
    };
    z.OnNextVolume = [](TObject*, std::string&, int, bool exists, bool& cancel) { cancel = !exists; };
    z.SetPassword(Password);
    z.PasswordAttempts = 1;
    z.OnGetPassword = [](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&, bool& again) {
        again = false;
    };
    z.SetArchiveFile(ZDrivePath(Archive));
    z.SetExtractDir(ZDrivePath(Dir));
    z.CreateStoredDirs = true;
    if (Setup)
        Setup(z);
    r.Count = Test ? z.TestArchive() : z.Extract();
    return r;
}
