// What the cabinet extractor and writer share: the cabinet library's entry points, the file
// handler through which the library reads and writes files, and the library's error.
#pragma once

#include "core/plxConsts.h"
#include "platform/ext/cabinet/Cabinet.h"
#include "platform/win/SysStrings.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class TFileStream32;

// "Cabinet error %d (type %d)": a library failure other than a corrupt cabinet or a user abort.
class ECabinetError : public win::Exception {
public:
    ECabinetError(int ErrorCode, int ErrorType);
    int ErrorCode;
    int ErrorType;
};

// The cabinet library and its entry points. Loaded once per process; a library that is absent
// leaves Loaded False and every entry point null.
struct TCabinetLibrary {
    bool Loaded = false;
    PFN_FDICreate FDICreate = nullptr;
    PFN_FDIIsCabinet FDIIsCabinet = nullptr;
    PFN_FDICopy FDICopy = nullptr;
    PFN_FDIDestroy FDIDestroy = nullptr;
    PFN_FCICreate FCICreate = nullptr;
    PFN_FCIAddFile FCIAddFile = nullptr;
    PFN_FCIFlushFolder FCIFlushFolder = nullptr;
    PFN_FCIFlushCabinet FCIFlushCabinet = nullptr;
    PFN_FCIDestroy FCIDestroy = nullptr;

    // Loads FileName ("plxCabinet.dll" for the engine); Loaded only when every entry point is there.
    static TCabinetLibrary Load(const std::string& FileName);
};
const TCabinetLibrary& CabinetLibrary();

// File operations for the library; every operation answers its result and an error (0 = success).
class TCabinetFileHandler : public TObject {
public:
    virtual CAB_INT_PTR Open(const std::string& Name, int Flags, int Mode, int& Error) = 0;
    virtual CAB_UINT Read(CAB_INT_PTR Handle, void* Buffer, CAB_UINT Count, int& Error) = 0;
    virtual CAB_UINT Write(CAB_INT_PTR Handle, const void* Buffer, CAB_UINT Count, int& Error) = 0;
    virtual int Close(CAB_INT_PTR Handle, int& Error) = 0;
    virtual CAB_LONG Seek(CAB_INT_PTR Handle, CAB_LONG Offset, int Origin, int& Error) = 0;
    virtual int Delete(const std::string& Name, int& Error) = 0;
};

// Files as the engine's file streams, identified by their system handles.
class TStreamCabinetFileHandler : public TCabinetFileHandler {
public:
    TStreamCabinetFileHandler();
    ~TStreamCabinetFileHandler() override;

    CAB_INT_PTR Open(const std::string& Name, int Flags, int Mode, int& Error) override;
    CAB_UINT Read(CAB_INT_PTR Handle, void* Buffer, CAB_UINT Count, int& Error) override;
    CAB_UINT Write(CAB_INT_PTR Handle, const void* Buffer, CAB_UINT Count, int& Error) override;
    int Close(CAB_INT_PTR Handle, int& Error) override;
    CAB_LONG Seek(CAB_INT_PTR Handle, CAB_LONG Offset, int Origin, int& Error) override;
    int Delete(const std::string& Name, int& Error) override;

    // The stream behind a handle, or null.
    TFileStream32* StreamOf(CAB_INT_PTR Handle) const;

private:
    std::map<CAB_INT_PTR, std::unique_ptr<TFileStream32>> FStreams;
};

// The compression type word: Memory shl 8 or Level shl 4 or Type; LZX: Window shl 8 or 3.
constexpr std::uint16_t MakeCabCompressionType(int Type, int Level, int Memory)
{
    return std::uint16_t((Memory << 8) | (Level << 4) | Type);
}
constexpr std::uint16_t MakeLzxCompressionType(int Window)
{
    return std::uint16_t((Window << 8) | 3);
}

// A stored cabinet name in the program's form: UTF-8 when the attribute says so, else OEM. Out
// keeps its buffer from one name to the next.
void CabNameToProgram(std::string_view Stored, std::uint16_t Attributes, std::string& Out);
