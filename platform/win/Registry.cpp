#include "platform/win/Registry.h"

#include "platform/win/Utf8.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

struct RegistryKeyHandle {
    int root;
    std::string path;  // normalised, original case
    bool writable;
};

namespace {

constexpr int kRootCount = 2;
constexpr const char* kRootFile[kRootCount] = {"HKCU", "HKLM"};
constexpr const char* kRootEnv[kRootCount] = {"TORVO_REGISTRY_HKCU", "TORVO_REGISTRY_HKLM"};

struct Value {
    std::string name;
    DWORD type = REG_SZ;
    std::string data;
};

struct Key {
    std::string path;
    std::map<std::string, Value> values;  // by folded name
};

using Store = std::map<std::string, Key>;  // by folded path; the root itself is implicit

std::mutex gMutex;
std::set<HKEY> gHandles;

std::string StoreFolder(int root)
{
    if (const char* dir = std::getenv(kRootEnv[root]); dir && *dir)
        return dir;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"))
        base = std::string(home) + "/.config";
    else
        base = "/tmp";
    return base + "/torvo/registry";
}

std::string StoreFile(int root)
{
    return StoreFolder(root) + "/" + kRootFile[root] + ".reg";
}

bool MakeFolders(const std::string& path)
{
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            const std::string part = path.substr(0, at);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RootWritable(int root)
{
    const std::string folder = StoreFolder(root);
    return MakeFolders(folder) && access(folder.c_str(), W_OK) == 0;
}

std::string NormalPath(std::string_view path)
{
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start) {
            if (!out.empty())
                out += '\\';
            out += path.substr(start, end - start);
        }
        start = end + 1;
    }
    return out;
}

std::string JoinPath(const std::string& base, const char* sub)
{
    return NormalPath(base + "\\" + (sub ? sub : ""));
}

// Bytes that would break the line format are written as %XX.
std::string Escape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || c == '%' || c == '=' || c == '[' || c == ']') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex(text.substr(i + 1, 2));
            char* end = nullptr;
            const long v = std::strtol(hex.c_str(), &end, 16);
            if (hex.size() == 2 && end == hex.c_str() + 2) {
                out += static_cast<char>(v);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

Key& AddKey(Store& store, const std::string& path)
{
    std::size_t at = 0;
    while ((at = path.find('\\', at)) != std::string::npos) {
        const std::string parent = path.substr(0, at++);
        store.try_emplace(win::FoldCase(parent), Key{parent, {}});
    }
    return store.try_emplace(win::FoldCase(path), Key{path, {}}).first->second;
}

Store Load(int root)
{
    Store store;
    std::ifstream in(StoreFile(root), std::ios::binary);
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string path = NormalPath(Unescape(std::string_view(line).substr(1, line.size() - 2)));
            current = path.empty() ? nullptr : &AddKey(store, path);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!current || eq == std::string::npos || line.compare(eq + 1, 3, "sz:") != 0)
            continue;
        Value value{Unescape(std::string_view(line).substr(0, eq)), REG_SZ, Unescape(line.substr(eq + 4))};
        current->values[win::FoldCase(value.name)] = std::move(value);
    }
    return store;
}

bool Save(int root, const Store& store)
{
    std::ostringstream text;
    for (const auto& [folded, key] : store) {
        text << '[' << Escape(key.path) << "]\n";
        for (const auto& [name, value] : key.values) {
            text << Escape(value.name) << "=sz:" << Escape(value.data) << '\n';
        }
    }
    const std::string target = StoreFile(root);
    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    const std::string data = text.str();
    bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok)
        ok = rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

// Runs a change under the store's lock: load, change, save when the change succeeded.
LONG Modify(int root, const std::function<LONG(Store&)>& change)
{
    if (!RootWritable(root))
        return ERROR_ACCESS_DENIED;
    const std::string lockName = StoreFolder(root) + "/" + kRootFile[root] + ".lock";
    const int lock = open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        return ERROR_ACCESS_DENIED;
    flock(lock, LOCK_EX);
    Store store = Load(root);
    LONG result = change(store);
    if (result == ERROR_SUCCESS && !Save(root, store))
        result = ERROR_ACCESS_DENIED;
    close(lock);
    return result;
}

bool Resolve(HKEY hKey, RegistryKeyHandle& out)
{
    if (hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE) {
        const int root = hKey == HKEY_CURRENT_USER ? 0 : 1;
        out = RegistryKeyHandle{root, "", RootWritable(root)};
        return true;
    }
    std::lock_guard guard(gMutex);
    if (!gHandles.count(hKey))
        return false;
    out = *hKey;
    return true;
}

bool WantsWrite(REGSAM sam)
{
    return (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
}

HKEY NewHandle(int root, const std::string& path, bool writable)
{
    HKEY h = new RegistryKeyHandle{root, path, writable};
    std::lock_guard guard(gMutex);
    gHandles.insert(h);
    return h;
}

const Key* FindKey(const Store& store, const std::string& path)
{
    static const Key kRoot;
    if (path.empty())
        return &kRoot;
    const auto it = store.find(win::FoldCase(path));
    return it == store.end() ? nullptr : &it->second;
}

bool HasSubKeys(const Store& store, const std::string& folded)
{
    const auto it = store.upper_bound(folded + "\\");
    return it != store.end() && it->first.compare(0, folded.size() + 1, folded + "\\") == 0;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, const char* subKey, DWORD, REGSAM sam, PHKEY result)
{
    RegistryKeyHandle base{};
    if (!result || !Resolve(hKey, base))
        return ERROR_INVALID_HANDLE;
    const std::string path = JoinPath(base.path, subKey);
    const Store store = Load(base.root);
    const Key* key = FindKey(store, path);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    const bool writable = WantsWrite(sam);
    if (writable && !RootWritable(base.root))
        return ERROR_ACCESS_DENIED;
    *result = NewHandle(base.root, path.empty() ? path : key->path, writable);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, const char* subKey, DWORD, char*, DWORD, REGSAM sam, void*, PHKEY result,
                     DWORD* disposition)
{
    RegistryKeyHandle base{};
    if (!result || !Resolve(hKey, base))
        return ERROR_INVALID_HANDLE;
    const std::string path = JoinPath(base.path, subKey);
    const bool writable = WantsWrite(sam);
    const Store current = Load(base.root);  // FindKey points into it
    if (const Key* key = FindKey(current, path)) {
        if (writable && !RootWritable(base.root))
            return ERROR_ACCESS_DENIED;
        if (disposition)
            *disposition = REG_OPENED_EXISTING_KEY;
        *result = NewHandle(base.root, path.empty() ? path : key->path, writable);
        return ERROR_SUCCESS;
    }
    std::string stored = path;
    const LONG rc = Modify(base.root, [&](Store& store) {
        stored = AddKey(store, path).path;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    if (disposition)
        *disposition = REG_CREATED_NEW_KEY;
    *result = NewHandle(base.root, stored, writable);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    std::lock_guard guard(gMutex);
    if (!gHandles.erase(hKey))
        return ERROR_INVALID_HANDLE;
    delete hKey;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize)
{
    RegistryKeyHandle key{};
    if (!Resolve(hKey, key))
        return ERROR_INVALID_HANDLE;
    const Store store = Load(key.root);
    const Key* found = FindKey(store, key.path);
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    const auto it = found->values.find(win::FoldCase(name ? name : ""));
    if (it == found->values.end())
        return ERROR_FILE_NOT_FOUND;
    const std::string& value = it->second.data;
    const auto needed = static_cast<DWORD>(value.size() + 1);
    if (type)
        *type = it->second.type;
    if (!data) {
        if (dataSize)
            *dataSize = needed;
        return ERROR_SUCCESS;
    }
    if (!dataSize)
        return ERROR_INVALID_PARAMETER;
    const DWORD room = *dataSize;
    *dataSize = needed;
    if (room < needed)
        return ERROR_MORE_DATA;
    std::memcpy(data, value.c_str(), needed);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, const char* name, DWORD, DWORD type, const BYTE* data, DWORD dataSize)
{
    RegistryKeyHandle key{};
    if (!Resolve(hKey, key))
        return ERROR_INVALID_HANDLE;
    if (!key.writable)
        return ERROR_ACCESS_DENIED;
    if (type != REG_SZ || (!data && dataSize > 0))
        return ERROR_INVALID_PARAMETER;
    std::string text(reinterpret_cast<const char*>(data), data ? dataSize : 0);
    text.resize(std::strlen(text.c_str()));  // up to the terminating zero
    const std::string valueName = name ? name : "";
    return Modify(key.root, [&](Store& store) {
        if (key.path.empty())
            return static_cast<LONG>(ERROR_ACCESS_DENIED);  // no values on a root
        AddKey(store, key.path).values[win::FoldCase(valueName)] = Value{valueName, REG_SZ, text};
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

LONG RegDeleteValueA(HKEY hKey, const char* name)
{
    RegistryKeyHandle key{};
    if (!Resolve(hKey, key))
        return ERROR_INVALID_HANDLE;
    if (!key.writable)
        return ERROR_ACCESS_DENIED;
    return Modify(key.root, [&](Store& store) {
        const auto it = store.find(win::FoldCase(key.path));
        if (it == store.end() || !it->second.values.erase(win::FoldCase(name ? name : ""))) {
            return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        }
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

namespace {

LONG DeleteKey(HKEY hKey, const char* subKey, bool tree)
{
    RegistryKeyHandle base{};
    if (!Resolve(hKey, base))
        return ERROR_INVALID_HANDLE;
    const std::string folded = win::FoldCase(JoinPath(base.path, subKey));
    if (folded.empty() && !tree)
        return ERROR_ACCESS_DENIED;
    return Modify(base.root, [&](Store& store) {
        if (!folded.empty() && !store.count(folded))
            return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        if (!tree && HasSubKeys(store, folded))
            return static_cast<LONG>(ERROR_ACCESS_DENIED);
        const std::string prefix = folded.empty() ? "" : folded + "\\";
        for (auto it = store.lower_bound(prefix);
             it != store.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
            it = store.erase(it);
        }
        if (!folded.empty())
            store.erase(folded);
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

}  // namespace

LONG RegDeleteKeyA(HKEY hKey, const char* subKey)
{
    return DeleteKey(hKey, subKey, false);
}

LONG RegDeleteTreeA(HKEY hKey, const char* subKey)
{
    return DeleteKey(hKey, subKey, true);
}

namespace win {

std::string TRegistry::FullPath(const std::string& key) const
{
    if (!key.empty() && key.front() == '\\')
        return NormalPath(key);
    return NormalPath(current_ ? currentPath_ + "\\" + key : key);
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate)
{
    const std::string path = FullPath(key);
    HKEY opened = nullptr;
    const LONG rc = canCreate ? RegCreateKeyExA(RootKey, path.c_str(), 0, nullptr, 0, Access, nullptr, &opened, nullptr)
                              : RegOpenKeyExA(RootKey, path.c_str(), 0, Access, &opened);
    if (rc != ERROR_SUCCESS)
        return false;
    CloseKey();
    current_ = opened;
    currentPath_ = path;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key)
{
    const std::string path = FullPath(key);
    HKEY opened = nullptr;
    if (RegOpenKeyExA(RootKey, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    CloseKey();
    current_ = opened;
    currentPath_ = path;
    return true;
}

void TRegistry::CloseKey()
{
    if (current_)
        RegCloseKey(current_);
    current_ = nullptr;
    currentPath_.clear();
}

bool TRegistry::KeyExists(const std::string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(RootKey, FullPath(key).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

bool TRegistry::DeleteKey(const std::string& key)
{
    const std::string path = FullPath(key);
    return !path.empty() && RegDeleteTreeA(RootKey, path.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::ValueExists(const std::string& name)
{
    DWORD size = 0;
    return RegQueryValueExA(current_ ? current_ : RootKey, name.c_str(), nullptr, nullptr, nullptr, &size) ==
           ERROR_SUCCESS;
}

std::string TRegistry::ReadString(const std::string& name)
{
    const HKEY key = current_ ? current_ : RootKey;
    for (int attempt = 0; attempt < 3; ++attempt) {  // the value may grow between the two calls
        DWORD size = 0;
        if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
            return {};
        std::string buffer(size, '\0');
        const LONG rc =
            RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (rc == ERROR_SUCCESS)
            return std::string(buffer.c_str());
        if (rc != ERROR_MORE_DATA)
            return {};
    }
    return {};
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    const LONG rc = RegSetValueExA(current_ ? current_ : RootKey, name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

bool TRegistry::DeleteValue(const std::string& name)
{
    return RegDeleteValueA(current_ ? current_ : RootKey, name.c_str()) == ERROR_SUCCESS;
}

}  // namespace win
