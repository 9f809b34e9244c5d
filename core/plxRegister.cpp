#include "core/plxRegister.h"

#include "core/Endian.h"
#include "core/plxGbls.h"
#include "platform/win/CodePage.h"

bool IsOemSafeName(std::string_view Name)
{
    return win::FitsCodePage(Name, win::CodePage::Cp852);
}

void AnsiToOemName(int Flag, std::string& Out, std::string_view Name)
{
    bool lossy = false;
    if (Flag == 0) {
        std::string oem = win::Utf8ToOem(Name, &lossy);
        if (!lossy) {
            Out = std::move(oem);
            return;
        }
    }
    Out = std::string(Name);
}

std::uint16_t VersionMadeByForName(std::string_view Name, int Flag)
{
    return (Flag == 2 || IsOemSafeName(Name)) ? 20 : 0x0B14;
}

void OemToAnsiName(TArcType ArcType, int VersionMadeBy, std::string& Out, std::string_view Name, bool Utf8Name)
{
    if (Utf8Name)
        Out = std::string(Name);
    else if (IsZipFamilyType(ArcType) && VersionMadeBy >= 0 && (VersionMadeBy >> 8) != 0)
        Out = win::AnsiToUtf8(Name);
    else
        Out = win::OemToUtf8(Name);
    Out = ToDosSeparators(Out);
}

std::uint32_t HeaderSignature(std::uint8_t Kind, bool Encrypted)
{
    switch (Kind) {
    case hkLocal:
        return Encrypted ? kSigLocalEnc : kSigLocal;
    case hkCentral:
        return Encrypted ? kSigCentralEnc : kSigCentral;
    case hkEnd:
        return kSigEnd;  // end records are always written plain
    default:
        return kSigMarker;
    }
}

std::uint8_t ClassifyHeaderSig(std::uint32_t Signature, std::uint8_t ExpectedKind, bool& Encrypted)
{
    Encrypted = false;
    bool match = false;
    switch (ExpectedKind) {
    case hkLocal:
        match = IsLocalHeaderSig(Signature);
        break;
    case hkCentral:
        match = IsCentralHeaderSig(Signature);
        break;
    case hkEnd:
        match = IsEndRecordSig(Signature);
        break;
    default:
        break;
    }
    if (!match)
        return kNotThisHeader;
    Encrypted = IsEncryptedHeaderSig(Signature);
    return ExpectedKind;
}

bool IsEncryptedHeaderSig(std::uint32_t Signature)
{
    switch (Signature) {
    case kSigLocalEnc:
    case kSigCentralEnc:
    case kSigEndEnc:
    case kSigLargeEndEnc:
    case kSigLocalAltEnc:
    case kSigCentralAltEnc:
        return true;
    default:
        return false;
    }
}

bool IsLocalOrCentralSig(std::uint32_t Signature)
{
    return Signature == kSigLocal || Signature == kSigLocalEnc || Signature == kSigCentral ||
           Signature == kSigCentralEnc;
}

bool IsLocalHeaderSig(std::uint32_t Signature)
{
    return Signature == kSigLocal || Signature == kSigLocalEnc || Signature == kSigLocalAlt ||
           Signature == kSigLocalAltEnc;
}

bool IsCentralHeaderSig(std::uint32_t Signature)
{
    return Signature == kSigCentral || Signature == kSigCentralEnc || Signature == kSigCentralAlt ||
           Signature == kSigCentralAltEnc;
}

bool IsEndRecordSig(std::uint32_t Signature)
{
    return Signature == kSigEnd || Signature == kSigEndEnc || Signature == kSigLargeEnd || Signature == kSigLargeEndEnc;
}

std::size_t HeaderBodySize(const std::uint8_t* Record, std::uint8_t Kind)
{
    switch (Kind) {
    case hkLocal:
        return 26;
    case hkCentral:
        return 42;
    case hkEnd: {
        const std::uint32_t sig = GetLE32(Record);
        return sig == kSigEnd || sig == kSigEndEnc ? 18 : 42;
    }
    default:
        return 0;
    }
}

void EncryptHeader(TZipCipher& Cipher, std::uint8_t* Record, std::uint8_t Kind)
{
    Cipher.ResetKeys();
    Cipher.EncryptBuffer(Record + 4, HeaderBodySize(Record, Kind));
}

void DecryptHeader(TZipCipher& Cipher, std::uint8_t* Record, std::uint8_t Kind)
{
    Cipher.ResetKeys();
    Cipher.DecryptBuffer(Record + 4, HeaderBodySize(Record, Kind));
}

void EncryptHeaderBuffer(TZipCipher& Cipher, void* Buffer, std::size_t n)
{
    Cipher.EncryptBuffer(Buffer, n);
}

void DecryptHeaderBuffer(TZipCipher& Cipher, void* Buffer, std::size_t n)
{
    Cipher.DecryptBuffer(Buffer, n);
}
