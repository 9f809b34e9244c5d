#include "readers/plxCabGbls.h"

#include "core/plxGbls.h"
#include "core/plxLoadLib.h"
#include "core/plxRegister.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"

#include <algorithm>
#include <cstdio>

ECabinetError::ECabinetError(int Code, int Type)
    : win::Exception([&] {
          char text[64];
          std::snprintf(text, sizeof text, "Cabinet error %d (type %d)", Code, Type);
          return std::string(text);
      }()),
      ErrorCode(Code),
      ErrorType(Type)
{}

TCabinetLibrary TCabinetLibrary::Load(const std::string& FileName)
{
    TCabinetLibrary lib;
    HMODULE module = LoadLib(FileName);
    if (!module)
        return lib;
    const auto take = [module](auto& entry, const char* name) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(GetProcAddress(module, name));
        return entry != nullptr;
    };
    const bool all = take(lib.FDICreate, "FDICreate") && take(lib.FDIIsCabinet, "FDIIsCabinet") &&
                     take(lib.FDICopy, "FDICopy") && take(lib.FDIDestroy, "FDIDestroy") &&
                     take(lib.FCICreate, "FCICreate") && take(lib.FCIAddFile, "FCIAddFile") &&
                     take(lib.FCIFlushFolder, "FCIFlushFolder") && take(lib.FCIFlushCabinet, "FCIFlushCabinet") &&
                     take(lib.FCIDestroy, "FCIDestroy");
    if (!all) {
        FreeLibrary(module);
        return {};
    }
    lib.Loaded = true;  // the module stays loaded for the life of the process
    return lib;
}

const TCabinetLibrary& CabinetLibrary()
{
    static const TCabinetLibrary library = TCabinetLibrary::Load("plxCabinet.dll");
    return library;
}

namespace {

CAB_INT_PTR HandleKey(const TFileStream32& Stream)
{
    return reinterpret_cast<CAB_INT_PTR>(Stream.Handle());
}

}  // namespace

TStreamCabinetFileHandler::TStreamCabinetFileHandler() = default;
TStreamCabinetFileHandler::~TStreamCabinetFileHandler() = default;

TFileStream32* TStreamCabinetFileHandler::StreamOf(CAB_INT_PTR Handle) const
{
    const auto found = FStreams.find(Handle);
    return found == FStreams.end() ? nullptr : found->second.get();
}

CAB_INT_PTR TStreamCabinetFileHandler::Open(const std::string& Name, int Flags, int /*Mode*/, int& Error)
{
    std::uint16_t mode;
    if (Flags & CAB_O_CREAT) {
        mode = fmCreate;
    } else {
        const int access = Flags & 3;
        mode = access == CAB_O_RDWR ? fmOpenReadWrite : (access & CAB_O_WRONLY) ? fmOpenWrite : fmOpenRead;
        mode |= (Flags & CAB_O_EXCL) ? fmShareExclusive : fmShareDenyNone;
    }
    auto stream = std::make_unique<TFileStream32>(Name, mode);
    if (!stream->HandleValid()) {
        Error = -1;
        return -1;
    }
    const CAB_INT_PTR key = HandleKey(*stream);
    FStreams[key] = std::move(stream);
    Error = 0;
    return key;
}

CAB_UINT TStreamCabinetFileHandler::Read(CAB_INT_PTR Handle, void* Buffer, CAB_UINT Count, int& Error)
{
    TFileStream32* s = StreamOf(Handle);
    if (!s) {
        Error = -1;
        return 0;
    }
    const std::int32_t got = s->Read(Buffer, std::int32_t(std::min<CAB_UINT>(Count, 0x7FFFFFFF)));
    Error = got < std::int32_t(Count) ? int(GetLastError()) : 0;
    return got < 0 ? CAB_UINT(-1) : CAB_UINT(got);
}

CAB_UINT TStreamCabinetFileHandler::Write(CAB_INT_PTR Handle, const void* Buffer, CAB_UINT Count, int& Error)
{
    TFileStream32* s = StreamOf(Handle);
    if (!s) {
        Error = -1;
        return 0;
    }
    const std::int32_t put = s->Write(Buffer, std::int32_t(std::min<CAB_UINT>(Count, 0x7FFFFFFF)));
    Error = put < std::int32_t(Count) ? std::max(1, int(GetLastError())) : 0;
    return put < 0 ? CAB_UINT(-1) : CAB_UINT(put);
}

int TStreamCabinetFileHandler::Close(CAB_INT_PTR Handle, int& Error)
{
    FStreams.erase(Handle);
    Error = 0;
    return 0;
}

CAB_LONG TStreamCabinetFileHandler::Seek(CAB_INT_PTR Handle, CAB_LONG Offset, int Origin, int& Error)
{
    TFileStream32* s = StreamOf(Handle);
    if (!s) {
        Error = -1;
        return 0;
    }
    const TSeekOrigin from = Origin == 1 ? soCurrent : Origin == 2 ? soEnd : soBeginning;
    const std::int64_t at = s->Seek64(Offset, from);
    Error = (Origin == 0 && at != Offset) || at < 0 || at > 0x7FFFFFFF ? std::max(1, int(GetLastError())) : 0;
    return Error ? -1 : CAB_LONG(at);
}

int TStreamCabinetFileHandler::Delete(const std::string& Name, int& Error)
{
    SetFileAttributesA(Name.c_str(), FILE_ATTRIBUTE_NORMAL);
    Error = DeleteFileA(Name.c_str()) ? 0 : std::max(1, int(GetLastError()));
    return Error ? -1 : 0;
}

void CabNameToProgram(std::string_view Stored, std::uint16_t Attributes, std::string& Out)
{
    // Plain ASCII reads the same in every code page: only the separators change.
    const bool ascii =
        std::all_of(Stored.begin(), Stored.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || (Attributes & CAB_A_NAME_IS_UTF)) {
        Out.assign(Stored);
        std::replace(Out.begin(), Out.end(), '/', '\\');
        return;
    }
    OemToAnsiName(atCab, -1, Out, Stored);
}
