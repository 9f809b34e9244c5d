#include "platform/win/Process.h"

#include "platform/win/Errors.h"
#include "platform/win/Handles.h"
#include "platform/win/Paths.h"
#include "platform/win/Time.h"
#include "platform/win/Utf8.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

extern char** environ;

namespace {

void ReapInBackground(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

DWORD ExitCodeOf(int status)
{
    if (WIFEXITED(status))
        return static_cast<DWORD>(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return static_cast<DWORD>(128 + WTERMSIG(status));
    return 1;
}

// A child behind a process handle. Closing the last handle to a running child leaves it to a
// background waiter, so it never stays a zombie.
class ProcessObject : public win::KernelObject {
public:
    explicit ProcessObject(pid_t pid) : pid_(pid) {}
    ~ProcessObject() override
    {
        if (!HasExited())
            ReapInBackground(pid_);
    }

    // Collects the child's status once it has ended.
    bool HasExited()
    {
        std::lock_guard guard(lock_);
        if (exited_)
            return true;
        int status = 0;
        pid_t r;
        do {
            r = waitpid(pid_, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == pid_) {
            exited_ = true;
            exitCode_ = ExitCodeOf(status);
        } else if (r < 0) {
            exited_ = true;  // not our child any more: nothing left to wait for
            exitCode_ = 1;
        }
        return exited_;
    }

    DWORD ExitCode()
    {
        HasExited();
        std::lock_guard guard(lock_);
        return exitCode_;
    }

private:
    std::mutex lock_;
    pid_t pid_;
    bool exited_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

std::shared_ptr<ProcessObject> FindProcess(HANDLE handle)
{
    auto process = win::FindHandleOf<ProcessObject>(handle);
    if (!process)
        SetLastError(ERROR_INVALID_HANDLE);
    return process;
}

bool IsProgramFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool EndsWithExe(const std::string& name)
{
    return name.size() > 4 && win::SameText(name.substr(name.size() - 4), ".exe");
}

std::string ProgramAt(const std::string& path)
{
    if (IsProgramFile(path))
        return path;
    if (EndsWithExe(path) && IsProgramFile(path.substr(0, path.size() - 4)))
        return path.substr(0, path.size() - 4);
    return {};
}

// Starts argv; 0 and a process handle (or a background reaper) on success, else an errno value.
int Spawn(const std::vector<std::string>& argv, const std::string& directory, HANDLE* handle)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return rc;
    if (handle) {
        *handle = win::AddHandle(std::make_shared<ProcessObject>(pid));
    } else {
        ReapInBackground(pid);
    }
    return 0;
}

UINT SpawnError(int err)
{
    if (err == ENOEXEC)
        return ERROR_BAD_FORMAT;
    if (err == EACCES || err == EPERM)
        return SE_ERR_ACCESSDENIED;
    if (err == ENOTDIR)
        return SE_ERR_PNF;
    return SE_ERR_FNF;
}

std::string Opener()
{
    if (const char* custom = std::getenv("TORVO_OPEN_PROGRAM"); custom && *custom)
        return custom;
    return win::ResolveExecutable("xdg-open");
}

bool IsUrl(const std::string& file)
{
    return file.find("://") != std::string::npos || win::SameText(file.substr(0, 7), "mailto:");
}

// A name with a folder or a drive in it is a Windows path and goes through the drive table; a bare
// program name is searched for instead.
bool IsPathName(const std::string& name)
{
    return name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':');
}

// The host path of a document or folder; URLs stay as they are.
bool MapDocument(const std::string& name, std::string& host)
{
    if (IsUrl(name)) {
        host = name;
        return true;
    }
    return win::ToHostPath(name, host);
}

// The host path of the program to run, or empty.
std::string ProgramOf(const std::string& name)
{
    if (!IsPathName(name))
        return win::ResolveExecutable(name);
    std::string host;
    if (!win::ToHostPath(name, host))
        return {};
    if (std::string program = ProgramAt(host); !program.empty())
        return program;
    // "X.EXE" for a program "x": the name without the suffix is looked up without case as well.
    if (EndsWithExe(name) && win::ToHostPath(name.substr(0, name.size() - 4), host) && IsProgramFile(host))
        return host;
    return {};
}

std::string Unquoted(std::string text)
{
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return text;
}

// The shell's "Open with" dialog, as the original reaches it through rundll32.
bool IsOpenWith(const std::string& file, const std::string& params, std::string& target)
{
    constexpr std::string_view kEntry = "shell32.dll,OpenAs_RunDLL";
    const std::size_t slash = file.find_last_of("\\/");
    std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    if (EndsWithExe(base))
        base.resize(base.size() - 4);
    if (!win::SameText(base, "rundll32") || !win::SameText(params.substr(0, kEntry.size()), kEntry))
        return false;
    target = Unquoted(params.substr(kEntry.size()));
    return true;
}

// The work of ShellExecute: an error code below 32, or 33.
UINT Execute(const char* verbText, const char* fileText, const char* paramText, const char* dirText, HANDLE* handle)
{
    const std::string verb = verbText ? verbText : "";
    const std::string file = fileText ? fileText : "";
    const std::string params = paramText ? paramText : "";
    std::string directory;
    if (dirText && *dirText && !win::ToHostPath(dirText, directory))
        return SE_ERR_PNF;
    if (file.empty())
        return SE_ERR_FNF;

    std::vector<std::string> argv;
    std::string target;
    std::string document;
    if (!verb.empty() && !win::SameText(verb, "open") && !win::SameText(verb, "explore"))
        return SE_ERR_NOASSOC;
    if (IsOpenWith(file, params, target)) {
        if (!MapDocument(target, document))
            return SE_ERR_FNF;
        argv = {Opener(), document};
    } else if (const std::string program = win::SameText(verb, "explore") ? "" : ProgramOf(file); !program.empty()) {
        argv = win::SplitParameters(params);
        argv.insert(argv.begin(), program);
    } else if (MapDocument(file, document) && (IsUrl(document) || access(document.c_str(), F_OK) == 0)) {
        argv = {Opener(), document};
    } else {
        return SE_ERR_FNF;
    }
    if (argv[0].empty())
        return SE_ERR_NOASSOC;
    const int err = Spawn(argv, directory, handle);
    return err == 0 ? 33 : SpawnError(err);
}

}  // namespace

namespace win {

std::vector<std::string> SplitParameters(std::string_view text)
{
    std::vector<std::string> args;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size())
            break;
        std::string arg;
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            std::size_t backslashes = 0;
            while (i < text.size() && text[i] == '\\')
                ++backslashes, ++i;
            if (i < text.size() && text[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2) {
                    arg += '"';
                } else if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                    arg += '"';  // "" inside quotes is a literal quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t')))
                    arg += text[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string QuoteArgument(std::string_view argument)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            quoted.append(backslashes + 1, '\\');  // each backslash doubled, then the escape
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');  // doubled before the closing quote
    return quoted + '"';
}

std::vector<std::string> SplitCommandLine(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i >= text.size())
        return {};
    std::string program;
    if (text[i] == '"') {
        const std::size_t close = text.find('"', i + 1);
        const std::size_t end = close == std::string_view::npos ? text.size() : close;
        program = std::string(text.substr(i + 1, end - i - 1));
        i = end == text.size() ? end : end + 1;
    } else {
        const std::size_t end = std::min(text.find_first_of(" \t", i), text.size());
        program = std::string(text.substr(i, end - i));
        i = end;
    }
    std::vector<std::string> args = SplitParameters(text.substr(i));
    args.insert(args.begin(), program);
    return args;
}

std::string ResolveExecutable(const std::string& name)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return ProgramAt(name);
    std::vector<std::string> dirs = {ExecutableDir(), "."};
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest(path);
        while (!rest.empty()) {
            const std::size_t colon = std::min(rest.find(':'), rest.size());
            if (colon > 0)
                dirs.emplace_back(rest.substr(0, colon));
            rest.remove_prefix(std::min(colon + 1, rest.size()));
        }
    }
    for (const std::string& dir : dirs) {
        const std::string found = ProgramAt(dir + "/" + name);
        if (!found.empty())
            return found;
    }
    return {};
}

}  // namespace win

UINT WinExec(const char* cmdLine, UINT)
{
    if (!cmdLine)
        return SE_ERR_FNF;
    std::vector<std::string> argv = win::SplitCommandLine(cmdLine);
    if (argv.empty())
        return SE_ERR_FNF;
    argv[0] = ProgramOf(argv[0]);
    if (argv[0].empty())
        return SE_ERR_FNF;
    const int err = Spawn(argv, {}, nullptr);
    return err == 0 ? 33 : SpawnError(err);
}

HINSTANCE ShellExecuteA(HWND, const char* verb, const char* file, const char* parameters, const char* directory, int)
{
    const UINT rc = Execute(verb, file, parameters, directory, nullptr);
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(rc));
}

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info)
{
    if (!info)
        return FALSE;
    HANDLE process = nullptr;
    const bool keep = (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0;
    const UINT rc =
        Execute(info->lpVerb, info->lpFile, info->lpParameters, info->lpDirectory, keep ? &process : nullptr);
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(rc));
    info->hProcess = process;
    if (rc > 32)
        return TRUE;
    SetLastError(rc == SE_ERR_NOASSOC ? ERROR_NO_ASSOCIATION : rc);
    return FALSE;
}

DWORD WaitForSingleObject(HANDLE process, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    const auto object = FindProcess(process);
    if (!object)
        return WAIT_FAILED;
    for (;;) {
        if (object->HasExited())
            return WAIT_OBJECT_0;
        const DWORD elapsed = GetTickCount() - start;
        if (milliseconds != INFINITE && elapsed >= milliseconds)
            return WAIT_TIMEOUT;
        const DWORD left = milliseconds == INFINITE ? 5 : std::min<DWORD>(5, milliseconds - elapsed);
        usleep(left * 1000);
    }
}

DWORD WaitForInputIdle(HANDLE, DWORD)
{
    return 0;
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode)
{
    const auto object = FindProcess(process);
    if (!object)
        return FALSE;
    if (!exitCode)
        return win::FailWith(ERROR_INVALID_PARAMETER);
    *exitCode = object->ExitCode();
    return TRUE;
}
