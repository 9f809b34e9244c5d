#include "unit/U_OneInst.h"

#include "platform/win/Messages.h"

#include <cstdlib>
#include <string>

namespace {

std::string& InstanceClassName()
{
    static std::string name;
    return name;
}

}  // namespace

void SetInstanceClassName(const char* className)
{
    InstanceClassName() = className == nullptr ? "" : className;
}

bool OtherInstanceRunning()
{
    return !InstanceClassName().empty() && FindWindowA(InstanceClassName().c_str(), nullptr) != 0;
}

void CheckSingleInstance()
{
    if (OtherInstanceRunning())
        std::exit(0);
}
