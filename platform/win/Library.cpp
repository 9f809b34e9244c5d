#include "platform/win/Library.h"

#include "platform/win/Paths.h"
#include "platform/win/Utf8.h"

#include <dlfcn.h>

#include <string>
#include <vector>

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && win::SameText(text.substr(text.size() - suffix.size()), suffix);
}

std::vector<std::string> Candidates(std::string name)
{
    if (name.find(".so") != std::string::npos && name.find('/') != std::string::npos)
        return {name};
    if (const std::size_t slash = name.find_last_of("\\/"); slash != std::string::npos)
        name = name.substr(slash + 1);
    if (name.find(".so") != std::string::npos)
        return {win::ExecutableDir() + "/" + name, name};
    if (EndsWithNoCase(name, ".dll"))
        name.resize(name.size() - 4);
    const std::string dir = win::ExecutableDir() + "/";
    const std::string lower = win::LowerCase(name);
    std::vector<std::string> names;
    // Our stand-ins for external libraries: beside the program, else where this build made them.
    for (const std::string& folder : {dir, std::string(TORVO_EXT_LIBRARY_DIR "/")}) {
        names.insert(names.end(), {folder + "lib" + name + ".so", folder + name + ".so"});
        if (lower != name)
            names.insert(names.end(), {folder + "lib" + lower + ".so", folder + lower + ".so"});
    }
    names.insert(names.end(), {"lib" + name + ".so", name + ".so"});
    if (lower != name)
        names.insert(names.end(), {"lib" + lower + ".so", lower + ".so"});
    return names;
}

}  // namespace

HMODULE LoadLibraryA(const char* fileName)
{
    if (fileName && *fileName) {
        for (const std::string& candidate : Candidates(fileName)) {
            // Loaded once for good: the engine loads and frees a library per archive, and what the
            // library registered with the process (atexit handlers, instrumented builds' counters)
            // must outlive FreeLibrary.
            if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE))
                return handle;
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* procName)
{
    if (module && procName) {
        if (void* symbol = dlsym(module, procName))
            return reinterpret_cast<FARPROC>(symbol);
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module)
{
    return module && dlclose(module) == 0 ? TRUE : FALSE;
}
