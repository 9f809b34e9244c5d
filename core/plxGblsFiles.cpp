// Files and folders: existence, creation, deletion and temporary names, through platform/win.
#include "core/plxGbls.h"

#include "core/Err_Msgs.h"
#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/RecycleBin.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Utf8.h"

#include <cstring>

namespace {

bool IsDotName(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool IsLinkedFolder(DWORD attr)
{
    return (attr & FILE_ATTRIBUTE_DIRECTORY) && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Calls visit for every entry of Dir but "." and ".."; visit answers false to stop, and then so
// does this.
template <class Visit>
bool ForEachEntry(const std::string& Dir, Visit visit)
{
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(JoinPath(Dir, "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return true;  // nothing to visit
    bool completed = true;
    do {
        if (IsDotName(data.cFileName))
            continue;
        if (!visit(data)) {
            completed = false;
            break;
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return completed;
}

}  // namespace

bool FileCopy(const std::string& Source, const std::string& Target, bool FailIfExists)
{
    return CopyFileA(Source.c_str(), Target.c_str(), FailIfExists) != FALSE;
}
bool MakeDir(const std::string& Dir)
{
    return CreateDirectoryA(Dir.c_str(), nullptr) != FALSE;
}
bool FileDelete(const std::string& Name)
{
    return DeleteFileA(Name.c_str()) != FALSE;
}
bool DirRemove(const std::string& Dir)
{
    return RemoveDirectoryA(Dir.c_str()) != FALSE;
}
bool MoveFileWin(const std::string& Source, const std::string& Target)
{
    return MoveFileA(Source.c_str(), Target.c_str()) != FALSE;
}
unsigned GetDriveKind(const std::string& Root)
{
    return GetDriveTypeA(Root.empty() ? nullptr : Root.c_str());
}
DWORD GetFileAttr(const std::string& Name)
{
    return GetFileAttributesA(Name.c_str());
}
bool SetFileAttr(const std::string& Name, DWORD Attr)
{
    return SetFileAttributesA(Name.c_str(), Attr) != FALSE;
}

bool DirExists(const std::string& Path)
{
    const DWORD attr = GetFileAttributesA(Path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExistsAttr(const std::string& Path, DWORD& Attr)
{
    Attr = 0;
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(Path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    Attr = data.dwFileAttributes;
    return true;
}

bool IsFile(const std::string& Path)
{
    DWORD attr = 0;
    return FileExistsAttr(Path, attr);
}

bool IsPlainFile(const std::string& Path)
{
    const DWORD attr = GetFileAttributesA(Path.c_str());
    constexpr DWORD NotPlain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return attr != INVALID_FILE_ATTRIBUTES && (attr & NotPlain) == 0;
}

bool CreateDirPath(const std::string& Dir)
{
    if (DirExists(Dir))
        return true;
    const std::string full = AppendBackslash(win::ExpandFileName(Dir));
    // Every level from the root down; levels that exist or cannot be made are passed over.
    for (std::size_t at = full.find('\\', 3); at != std::string::npos; at = full.find('\\', at + 1))
        if (at > 0 && full[at - 1] != '\\')
            CreateDirectoryA(full.substr(0, at).c_str(), nullptr);
    return DirExists(Dir);
}

bool ForceDirs(const std::string& Dir)
{
    if (Dir.empty())
        throw win::Exception(std::string(LoadMessage(E_CANNOTCREATEDIR)));
    const std::string dir = RemoveBackslash(Dir);
    if (dir.size() < 3 || DirExists(dir))
        return true;
    const std::string parent = win::ExtractFileDir(dir);
    if (parent != dir && !parent.empty() && !ForceDirs(parent))
        return false;
    return CreateDirPath(dir);
}

bool DeleteFileEx(const std::string& Path, TDeleteOptions Mode)
{
    const DWORD attr = GetFileAttributesA(Path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (attr & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(Path.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);
    if (Mode == doAllowUndo) {
        const std::string from = Path + std::string(2, '\0');
        SHFILEOPSTRUCTA op;
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_SILENT | FOF_RENAMEONCOLLISION | FOF_NOCONFIRMATION | FOF_ALLOWUNDO;
        return SHFileOperationA(&op) == 0;
    }
    return DeleteFileA(Path.c_str()) != FALSE;
}

bool DeleteFilesInDir(const std::string& Dir, std::string_view Mask)
{
    if (!DirExists(Dir))
        return true;
    bool allDeleted = true;
    const TInternalMask mask(Mask.empty() ? "*" : Mask);
    ForEachEntry(Dir, [&](const WIN32_FIND_DATAA& data) {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkedFolder(data.dwFileAttributes))
            return true;
        if (!mask.Matches(data.cFileName))
            return true;
        const std::string name = JoinPath(Dir, data.cFileName);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(name.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        // A link to a folder goes as the link: removing it never touches the folder it names.
        const BOOL done =
            IsLinkedFolder(data.dwFileAttributes) ? RemoveDirectoryA(name.c_str()) : DeleteFileA(name.c_str());
        if (!done)
            allDeleted = false;
        return true;
    });
    return allDeleted;
}

bool DeleteDirFiles(const std::string& Dir)
{
    DeleteFilesInDir(Dir, "*");
    const std::string dir = RemoveBackslash(Dir);
    const std::string current = win::CurrentDirectory();
    if (dir.size() > 3 && win::LowerCase(dir) == win::LowerCase(RemoveBackslash(current)))
        SetCurrentDirectoryA((dir + "\\..").c_str());
    return RemoveDirectoryA(dir.c_str()) != FALSE;
}

bool DeleteDirTree(const std::string& Dir)
{
    const DWORD attr = GetFileAttributesA(Dir.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveDirectoryA(Dir.c_str()) != FALSE;
    DeleteFilesInDir(Dir, "*");
    ForEachEntry(Dir, [&](const WIN32_FIND_DATAA& data) {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkedFolder(data.dwFileAttributes))
            DeleteDirTree(JoinPath(Dir, data.cFileName));
        return true;
    });
    return DeleteDirFiles(Dir);
}

void RemoveEmptyDirs(const std::string& Dir)
{
    std::string dir = RemoveBackslash(Dir);
    while (dir.size() > 3 && RemoveDirectoryA(dir.c_str())) {
        const std::string parent = win::ExtractFileDir(dir);
        if (parent == dir)
            break;
        dir = RemoveBackslash(parent);
    }
}

bool IsDirTreeEmpty(const std::string& Dir)
{
    return ForEachEntry(Dir, [&](const WIN32_FIND_DATAA& data) {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
        // Links to folders are not looked into: they may lead back up the tree.
        if (data.cFileName[0] == '.' || IsLinkedFolder(data.dwFileAttributes))
            return true;
        return IsDirTreeEmpty(JoinPath(Dir, data.cFileName));
    });
}

bool IsDirWritable(const std::string& Dir)
{
    if (DirExists(Dir)) {
        const std::string name = win::CreateOwnedTempFile(RemoveBackslash(Dir), "plx");
        if (name.empty())
            return false;
        DeleteFileA(name.c_str());
        return true;
    }
    if (!CreateDirPath(Dir))
        return false;
    RemoveEmptyDirs(Dir);
    return true;
}

std::string GetTempDir()
{
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::string MakeTempFileName(const std::string& Dir)
{
    std::string folder = (!Dir.empty() && DirExists(Dir)) ? Dir : GetTempDir();
    if (folder.empty())
        return {};
    if (!DirExists(folder))
        CreateDirPath(folder);
    const std::string name = win::CreateOwnedTempFile(RemoveBackslash(folder), "plx");
    return name.empty() ? std::string() : win::ExpandFileName(name);
}

std::string GetShortName(const std::string& Path)
{
    std::string out(Path.size() + MAX_PATH, '\0');
    const DWORD length = GetShortPathNameA(Path.c_str(), out.data(), DWORD(out.size()));
    if (length == 0 || length >= out.size())
        return Path;
    out.resize(length);
    return out;
}

std::string GetDisplayPath(const std::string& Path)
{
    const std::string full = win::FullPathOf(Path);
    if (full.empty())
        throw win::EConvertError("'" + Path + "' is not a valid path");
    return full;
}

DWORD AttributeSetToWin(TplxFileAttributes Set)
{
    static constexpr struct {
        TplxFileAttribute member;
        DWORD bit;
    } Bits[] = {{fsReadOnly, 0x01},    {fsHidden, 0x02},      {fsSysFile, 0x04},
                {fsVolumeID, 0x08},    {fsDirectory, 0x10},   {fsArchive, 0x20},
                {fsCompressed, 0x800}, {fsEncrypted, 0x4000}, {fsReparsePoints, 0x400}};
    DWORD out = 0;
    for (const auto& b : Bits)
        if (Set & AttrBit(b.member))
            out |= b.bit;
    return out;
}

DWORD FilterFileAttr(DWORD Attr)
{
    return Attr & (0x80 | 0x20 | 0x01 | 0x02 | 0x08 | 0x04 | 0x10 | 0x4000);
}
