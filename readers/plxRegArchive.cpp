#include "readers/plxRegArchive.h"

#include <algorithm>

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "platform/win/Paths.h"
#include "platform/win/Registry.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

namespace {

constexpr const char* kAppNameDefault = "[Appname]";
constexpr const char* kFileDescriptionDefault = "[Appname file]";
constexpr const char* kOldAppName = "Ostrak32";
constexpr const char* kOldFileDescription = "Ostrak32 file";
constexpr const char* kParamDefault = "%1";
constexpr const char* kClasses = "\\Software\\Classes\\";

std::vector<std::string> WithoutExe(std::vector<std::string> List)
{
    for (std::string& ext : List)
        ext = win::LowerCase(ext);
    std::erase(List, std::string(".exe"));
    return List;
}

std::string ThisProgram()
{
    char buffer[4096] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// The program an open command starts: between its first pair of quotes, else up to the first blank.
std::string ProgramOfCommand(const std::string& Command)
{
    if (!Command.empty() && Command.front() == '"') {
        const std::size_t close = Command.find('"', 1);
        return Command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return Command.substr(0, Command.find(' '));
}

std::string DefaultValueOf(win::TRegistry& Registry, const std::string& Key)
{
    return Registry.OpenKeyReadOnly(Key) ? Registry.ReadString("") : std::string();
}

}  // namespace

TRegArchive::TRegArchive(TObject* AOwner)
    : TZipCommon(AOwner),
      FExtDescription(kAppNameDefault),
      FFileDescription(kFileDescriptionDefault),
      FParamString(kParamDefault),
      FProgram(ThisProgram())
{
    std::vector<std::string> extensions;
    LoadArchiveExtensions(extensions);
    SetArcExtensions(extensions);
}

void TRegArchive::SetArcExtensions(const std::vector<std::string>& Value)
{
    FArcExtensions = WithoutExe(Value);
}

std::string TRegArchive::ExtDescription() const
{
    return FExtDescription.empty() || FExtDescription == kOldAppName ? kAppNameDefault : FExtDescription;
}

std::string TRegArchive::FileDescription() const
{
    return FFileDescription.empty() || FFileDescription == kOldFileDescription ? kFileDescriptionDefault
                                                                               : FFileDescription;
}

void TRegArchive::SetExtDescription(const std::string& Value)
{
    FExtDescription = Value.empty() ? kAppNameDefault : Value;
}

void TRegArchive::SetFileDescription(const std::string& Value)
{
    FFileDescription = Value.empty() ? kFileDescriptionDefault : Value;
}

void TRegArchive::SetParamString(const std::string& Value)
{
    FParamString = Value.empty() ? kParamDefault : Value;
}

void TRegArchive::Loaded()
{
    FArcExtensions = WithoutExe(FArcExtensions);
    if (ActivateOnStartup)
        Activate();
}

std::string TRegArchive::AppName() const
{
    const std::string name = ExtDescription();
    if (name != kAppNameDefault)
        return name;
    const std::string file = win::ExtractFileName(FProgram);
    return file.substr(0, file.find('.'));
}

std::string TRegArchive::Description() const
{
    const std::string description = FileDescription();
    return description == kFileDescriptionDefault ? AppName() + " file" : description;
}

std::string TRegArchive::OpenCommand() const
{
    return "\"" + FProgram + "\" \"" + FParamString + "\"";
}

bool TRegArchive::AllRegistered()
{
    win::TRegistry registry(KEY_READ);
    registry.RootKey = RegistrySection == plxHKEY_CURRENT_USER ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    return std::all_of(FArcExtensions.begin(), FArcExtensions.end(), [&](const std::string& ext) {
        const std::string type = DefaultValueOf(registry, kClasses + ext);
        if (type.empty() || DefaultValueOf(registry, kClasses + type + "\\DefaultIcon").empty())
            return false;
        const std::string command = DefaultValueOf(registry, kClasses + type + "\\Shell\\Open\\Command");
        return win::SameText(ProgramOfCommand(command), FProgram);
    });
}

void TRegArchive::Activate()
{
    if (!OnAssociation || FProgram.empty() || AllRegistered())
        return;
    const std::string appName = AppName();
    bool cancel = true;
    OnAssociation(this, appName, cancel);
    if (cancel)
        return;
    const std::string classKey = kClasses + appName;
    const std::string icon = FProgram + "," + std::to_string(IconIndex);
    for (const std::string& ext : FArcExtensions)
        WriteKey(kClasses + ext, appName);
    // One class serves every extension.
    WriteKey(classKey, Description());
    WriteKey(classKey + "\\DefaultIcon", icon);
    WriteKey(classKey + "\\Shell\\Open\\Command", OpenCommand());
    if (!MenuName.empty())
        WriteKey(classKey + "\\Shell\\Open", MenuName);
}

void TRegArchive::WriteKey(const std::string& Key, const std::string& Value)
{
    win::TRegistry registry;
    const bool machine = RegistrySection == plxHKEY_LOCAL_MACHINE;
    registry.RootKey = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    try {
        if (registry.OpenKey(Key, true)) {
            registry.WriteString("", Value);
            return;
        }
    } catch (const win::ERegistryException&) {
    }
    DoError((machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") + Key, "", E_REGISTRYPERMISSIONS, "");
}
