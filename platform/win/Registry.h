// The registry: one file-backed store per root, $XDG_CONFIG_HOME/torvo/registry/HKCU.reg and
// HKLM.reg (~/.config when XDG_CONFIG_HOME is unset). TORVO_REGISTRY_HKCU / TORVO_REGISTRY_HKLM name
// another folder for a root (tests use an unwritable one). Every call re-reads the store, so values
// written by other processes are seen; every change is written to a temporary file and renamed over
// the store under a lock. A root whose folder cannot be written answers ERROR_ACCESS_DENIED to write
// access. Key and value names compare case-insensitively. Only string values are stored.
#pragma once

#include "platform/win/SysStrings.h"
#include "platform/win/WinTypes.h"

#include <string>

struct RegistryKeyHandle;
using HKEY = RegistryKeyHandle*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
constexpr LONG ERROR_MORE_DATA = 234;

// Sub-key paths are relative to hKey; leading and doubled backslashes are ignored.
LONG RegOpenKeyExA(HKEY hKey, const char* subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExA(HKEY hKey, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM sam,
                     void* security, PHKEY result, DWORD* disposition);
LONG RegCloseKey(HKEY hKey);
// A null or empty name is the key's default value. With data null, *dataSize receives the size
// (for REG_SZ including the terminating zero); a buffer too small gives ERROR_MORE_DATA.
LONG RegQueryValueExA(HKEY hKey, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegSetValueExA(HKEY hKey, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegDeleteValueA(HKEY hKey, const char* name);
// Fails with ERROR_ACCESS_DENIED while the key has sub-keys, as the original does.
LONG RegDeleteKeyA(HKEY hKey, const char* subKey);
// The key, its sub-keys and values.
LONG RegDeleteTreeA(HKEY hKey, const char* subKey);

namespace win {

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// The class library's registry object. A key path starting with "\" is taken from RootKey,
// otherwise from the open key.
class TRegistry {
public:
    explicit TRegistry(REGSAM access = KEY_ALL_ACCESS) : Access(access) {}
    ~TRegistry() { CloseKey(); }
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey = HKEY_CURRENT_USER;
    REGSAM Access;

    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey();
    bool KeyExists(const std::string& key);
    bool DeleteKey(const std::string& key);
    bool ValueExists(const std::string& name);
    // An absent value reads as empty. A failed write raises ERegistryException.
    std::string ReadString(const std::string& name);
    void WriteString(const std::string& name, const std::string& value);
    bool DeleteValue(const std::string& name);
    HKEY CurrentKey() const { return current_; }
    const std::string& CurrentPath() const { return currentPath_; }

private:
    std::string FullPath(const std::string& key) const;
    HKEY current_ = nullptr;
    std::string currentPath_;
};

}  // namespace win
