// The cabinet library's calling interface: the decompressor (FDI) and the compressor (FCI) with
// their records, callbacks and error codes. The library is loaded by name at run time; this header
// gives its users the types and the entry points' signatures.
#pragma once

#include <cstdint>

extern "C" {

using CAB_INT_PTR = std::intptr_t;
using CAB_BOOL = int;
using CAB_USHORT = std::uint16_t;
using CAB_UINT = unsigned int;
using CAB_ULONG = std::uint32_t;
using CAB_LONG = std::int32_t;

inline constexpr int CAB_NAME_MAX = 256;

// The error record both halves fill: which operation failed, a system error, and whether any.
struct ERF {
    int erfOper;
    int erfType;
    CAB_BOOL fError;
};

// File callbacks: the C runtime's open flags and seek origins; every byte goes through them.
using PFNALLOC = void* (*)(CAB_ULONG cb);
using PFNFREE = void (*)(void* pv);
using PFNOPEN = CAB_INT_PTR (*)(char* pszFile, int oflag, int pmode);
using PFNREAD = CAB_UINT (*)(CAB_INT_PTR hf, void* pv, CAB_UINT cb);
using PFNWRITE = CAB_UINT (*)(CAB_INT_PTR hf, void* pv, CAB_UINT cb);
using PFNCLOSE = int (*)(CAB_INT_PTR hf);
using PFNSEEK = CAB_LONG (*)(CAB_INT_PTR hf, CAB_LONG dist, int seektype);

inline constexpr int CAB_O_RDONLY = 0x0000;
inline constexpr int CAB_O_WRONLY = 0x0001;
inline constexpr int CAB_O_RDWR = 0x0002;
inline constexpr int CAB_O_CREAT = 0x0100;
inline constexpr int CAB_O_TRUNC = 0x0200;
inline constexpr int CAB_O_EXCL = 0x0400;
inline constexpr int CAB_O_BINARY = 0x8000;

// File attributes inside a cabinet beyond the DOS ones.
inline constexpr CAB_USHORT CAB_A_EXEC = 0x40;
inline constexpr CAB_USHORT CAB_A_NAME_IS_UTF = 0x80;

// Compression type word: the method in the low nibble, level and window above it.
inline constexpr CAB_USHORT tcompMASK_TYPE = 0x000F;
inline constexpr CAB_USHORT tcompTYPE_NONE = 0;
inline constexpr CAB_USHORT tcompTYPE_MSZIP = 1;
inline constexpr CAB_USHORT tcompTYPE_QUANTUM = 2;
inline constexpr CAB_USHORT tcompTYPE_LZX = 3;

// ---- FDI ----

enum FDIERROR {
    FDIERROR_NONE,
    FDIERROR_CABINET_NOT_FOUND,
    FDIERROR_NOT_A_CABINET,
    FDIERROR_UNKNOWN_CABINET_VERSION,
    FDIERROR_CORRUPT_CABINET,
    FDIERROR_ALLOC_FAIL,
    FDIERROR_BAD_COMPR_TYPE,
    FDIERROR_MDI_FAIL,
    FDIERROR_TARGET_FILE,
    FDIERROR_RESERVE_MISMATCH,
    FDIERROR_WRONG_CABINET,
    FDIERROR_USER_ABORT,
    FDIERROR_EOF,
};

struct FDICABINETINFO {
    CAB_LONG cbCabinet;
    CAB_USHORT cFolders;
    CAB_USHORT cFiles;
    CAB_USHORT setID;
    CAB_USHORT iCabinet;
    CAB_BOOL fReserve;
    CAB_BOOL hasprev;
    CAB_BOOL hasnext;
};

enum FDINOTIFICATIONTYPE {
    fdintCABINET_INFO,
    fdintPARTIAL_FILE,
    fdintCOPY_FILE,
    fdintCLOSE_FILE_INFO,
    fdintNEXT_CABINET,
    fdintENUMERATE,
};

struct FDINOTIFICATION {
    CAB_LONG cb;
    char* psz1;
    char* psz2;
    char* psz3;  // for fdintNEXT_CABINET: a buffer of CAB_NAME_MAX bytes the caller may rewrite
    void* pv;
    CAB_INT_PTR hf;
    CAB_USHORT date;
    CAB_USHORT time;
    CAB_USHORT attribs;
    CAB_USHORT setID;
    CAB_USHORT iCabinet;
    CAB_USHORT iFolder;
    FDIERROR fdie;
};

using PFNFDINOTIFY = CAB_INT_PTR (*)(FDINOTIFICATIONTYPE fdint, FDINOTIFICATION* pfdin);
using PFNFDIDECRYPT = int (*)(void* pfdid);
using HFDI = void*;

using PFN_FDICreate = HFDI (*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int cpuType,
                               ERF* perf);
using PFN_FDIIsCabinet = CAB_BOOL (*)(HFDI hfdi, CAB_INT_PTR hf, FDICABINETINFO* pfdici);
using PFN_FDICopy = CAB_BOOL (*)(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
                                 PFNFDIDECRYPT pfnfdid, void* pvUser);
using PFN_FDIDestroy = CAB_BOOL (*)(HFDI hfdi);

// ---- FCI ----

enum FCIERROR {
    FCIERR_NONE,
    FCIERR_OPEN_SRC,
    FCIERR_READ_SRC,
    FCIERR_ALLOC_FAIL,
    FCIERR_TEMP_FILE,
    FCIERR_BAD_COMPR_TYPE,
    FCIERR_CAB_FILE,
    FCIERR_USER_ABORT,
    FCIERR_MCI_FAIL,
    FCIERR_CAB_FORMAT_LIMIT,
};

// Parameters of the cabinet being written: its size limit, numbers and names.
struct CCAB {
    CAB_ULONG cb;
    CAB_ULONG cbFolderThresh;
    CAB_UINT cbReserveCFHeader;
    CAB_UINT cbReserveCFFolder;
    CAB_UINT cbReserveCFData;
    int iCab;
    int iDisk;
    int fFailOnIncompressible;
    CAB_USHORT setID;
    char szDisk[CAB_NAME_MAX];
    char szCab[CAB_NAME_MAX];
    char szCabPath[CAB_NAME_MAX];
};

using PFNFCIFILEPLACED = int (*)(CCAB* pccab, char* pszFile, CAB_LONG cbFile, CAB_BOOL fContinuation, void* pv);
using PFNFCIALLOC = PFNALLOC;
using PFNFCIFREE = PFNFREE;
using PFNFCIOPEN = CAB_INT_PTR (*)(char* pszFile, int oflag, int pmode, int* err, void* pv);
using PFNFCIREAD = CAB_UINT (*)(CAB_INT_PTR hf, void* memory, CAB_UINT cb, int* err, void* pv);
using PFNFCIWRITE = CAB_UINT (*)(CAB_INT_PTR hf, void* memory, CAB_UINT cb, int* err, void* pv);
using PFNFCICLOSE = int (*)(CAB_INT_PTR hf, int* err, void* pv);
using PFNFCISEEK = CAB_LONG (*)(CAB_INT_PTR hf, CAB_LONG dist, int seektype, int* err, void* pv);
using PFNFCIDELETE = int (*)(char* pszFile, int* err, void* pv);
using PFNFCIGETTEMPFILE = CAB_BOOL (*)(char* pszTempName, int cbTempName, void* pv);
using PFNFCIGETNEXTCABINET = CAB_BOOL (*)(CCAB* pccab, CAB_ULONG cbPrevCab, void* pv);
using PFNFCISTATUS = CAB_LONG (*)(CAB_UINT typeStatus, CAB_ULONG cb1, CAB_ULONG cb2, void* pv);
using PFNFCIGETOPENINFO = CAB_INT_PTR (*)(char* pszName, CAB_USHORT* pdate, CAB_USHORT* ptime, CAB_USHORT* pattribs,
                                          int* err, void* pv);
using HFCI = void*;

using PFN_FCICreate = HFCI (*)(ERF* perf, PFNFCIFILEPLACED, PFNFCIALLOC, PFNFCIFREE, PFNFCIOPEN, PFNFCIREAD,
                               PFNFCIWRITE, PFNFCICLOSE, PFNFCISEEK, PFNFCIDELETE, PFNFCIGETTEMPFILE, CCAB* pccab,
                               void* pv);
using PFN_FCIAddFile = CAB_BOOL (*)(HFCI hfci, char* pszSourceFile, char* pszFileName, CAB_BOOL fExecute,
                                    PFNFCIGETNEXTCABINET, PFNFCISTATUS, PFNFCIGETOPENINFO, CAB_USHORT typeCompress);
using PFN_FCIFlushFolder = CAB_BOOL (*)(HFCI hfci, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
using PFN_FCIFlushCabinet = CAB_BOOL (*)(HFCI hfci, CAB_BOOL fGetNextCab, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
using PFN_FCIDestroy = CAB_BOOL (*)(HFCI hfci);

}  // extern "C"
