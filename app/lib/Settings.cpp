#include "app/lib/Settings.h"

#include "platform/win/ShownPath.h"
#include "platform/win/Utf8.h"

namespace {

HKEY currentRoot = HKEY_CURRENT_USER;
std::string currentSubKey = ProgramSubKey;

HKEY OtherRoot(HKEY root)
{
    return root == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

std::string RegReadString(HKEY root, const std::string& key, const std::string& name, const std::string& fallback)
{
    win::TRegistry registry(KEY_READ);
    registry.RootKey = root;
    if (!registry.OpenKeyReadOnly(key))
        return fallback;
    return registry.ReadString(name);
}

void RegWriteString(HKEY root, const std::string& key, const std::string& name, const std::string& value)
{
    win::TRegistry registry(KEY_ALL_ACCESS);
    registry.RootKey = root;
    try {
        // Opening first keeps existing keys off the create path.
        if (registry.OpenKey(key, false) || registry.OpenKey(key, true))
            registry.WriteString(name, value);
    } catch (const win::ERegistryException&) {
        // A root the user may not write (the machine's) is skipped without a message.
    }
}

HKEY CurrentSettingsRoot()
{
    return currentRoot;
}

const std::string& CurrentProgramSubKey()
{
    return currentSubKey;
}

void SetSettingsRoot(HKEY root)
{
    currentRoot = root;
}

void SetProgramSubKey()
{
    currentSubKey = ProgramSubKey;
}

std::string ProgramSetting(const std::string& name, const std::string& valueOrFallback, TSettingMode mode)
{
    const std::string key = std::string(MakerRootKey) + currentSubKey;
    if (mode == TSettingMode::Write) {
        RegWriteString(currentRoot, key, name, valueOrFallback);
        return valueOrFallback;
    }
    const std::string value = RegReadString(currentRoot, key, name, "");
    return value.empty() ? valueOrFallback : value;
}

void SetProgramSetting(HKEY root, const std::string& name, const std::string& value)
{
    currentRoot = root;
    ProgramSetting(name, value, TSettingMode::Write);
}

std::string ReadOtherProgramValue(const std::string& subKey, const std::string& name)
{
    const std::string key = std::string(MakerRootKey) + subKey;
    const std::string value = RegReadString(currentRoot, key, name, "");
    return value.empty() ? RegReadString(OtherRoot(currentRoot), key, name, "") : value;
}

std::string ReadMailProgramPath()
{
    const HKEY savedRoot = currentRoot;
    const std::string savedSubKey = currentSubKey;
    currentSubKey = "\\Dastel";
    currentRoot = HKEY_LOCAL_MACHINE;
    const std::string path = ProgramSetting("InstallPath", "", TSettingMode::Read);
    currentRoot = savedRoot;
    currentSubKey = savedSubKey;
    return path;
}

std::string InstallQuestionText(const std::string& exeFolder, const std::string& stored)
{
    return "Zjistil jsem, že program Torvo je pravděpodobně nainstalovaný\r\nv počítači na více místech:\r\n\n1. " +
           ShownPath(exeFolder) + " - adresář právě spuštěného programu" + "\r\n" + "2. " + ShownPath(stored) +
           " - původní adresář z registru" + "\r\n\n" +
           "Mám nahradit \"původní adresář\" programu Torvo \"adresářem spuštěného programu\" ?";
}

void CheckInstallPath(const std::string& exeFolder, const std::string& fileVersion,
                      const std::function<bool(const std::string& text)>& askReplace)
{
    const HKEY savedRoot = currentRoot;
    const std::string stored = ProgramSetting("InstallPath", exeFolder, TSettingMode::Read);
    bool replace = true;
    if (win::UpperCase(stored) != win::UpperCase(exeFolder))
        replace = askReplace && askReplace(InstallQuestionText(exeFolder, stored));
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        currentRoot = root;
        ProgramSetting("InstallVersion", fileVersion, TSettingMode::Write);
        if (replace)
            ProgramSetting("InstallPath", exeFolder, TSettingMode::Write);
    }
    currentRoot = savedRoot;
}
