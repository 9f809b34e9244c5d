// Entry names between the program's UTF-8 and the OEM code page (CP852) that DOS-era archives
// store. A name that OEM cannot hold stays UTF-8 and is marked as not-OEM in "version made by".
#pragma once

#include "core/plxConsts.h"

#include <cstdint>
#include <string>
#include <string_view>

bool IsOemSafeName(std::string_view Name);
// Out := the OEM bytes of Name when Flag is 0 and the name survives the round trip, else Name.
void AnsiToOemName(int Flag, std::string& Out, std::string_view Name);
// 20 (MS-DOS host, version 2.0) for names stored in OEM; 0x0B14 (NTFS host) otherwise.
std::uint16_t VersionMadeByForName(std::string_view Name, int Flag);
// A stored name in the program's form, "/" turned into "\". ZIP-family names from a central header
// whose host byte is not 0 are not OEM: UTF-8 (Utf8Name: flag bit 11 or a Unicode path block) as
// stored, otherwise ANSI (CP1250). VersionMadeBy < 0: no central header. Everything else is OEM.
void OemToAnsiName(TArcType ArcType, int VersionMadeBy, std::string& Out, std::string_view Name, bool Utf8Name = false);

// Signatures of ZIP headers, plain and header-enciphered, and the header cipher.
//
// An enciphered header keeps its signature readable (second byte 'L', or 'N' on reading) so that a
// reader knows the kind before it deciphers the body. Every header restarts the header key set;
// the entry name that follows continues the header's key stream.

#include <cstddef>
#include <cstdint>

#include "core/plxCrypt.h"

// Header kinds; any other value is "other".
enum THeaderKind : std::uint8_t { hkLocal = 0, hkCentral = 1, hkEnd = 2 };
// ClassifyHeaderSig's answer for a signature that is not of the expected kind.
inline constexpr std::uint8_t kNotThisHeader = 6;

inline constexpr std::uint32_t kSigLocal = 0x04034B50;
inline constexpr std::uint32_t kSigLocalEnc = 0x04034C50;
inline constexpr std::uint32_t kSigLocalAlt = 0x04034D50;
inline constexpr std::uint32_t kSigLocalAltEnc = 0x04034E50;
inline constexpr std::uint32_t kSigCentral = 0x02014B50;
inline constexpr std::uint32_t kSigCentralEnc = 0x02014C50;
inline constexpr std::uint32_t kSigCentralAlt = 0x02014D50;
inline constexpr std::uint32_t kSigCentralAltEnc = 0x02014E50;
inline constexpr std::uint32_t kSigEnd = 0x06054B50;
inline constexpr std::uint32_t kSigEndEnc = 0x06054C50;
inline constexpr std::uint32_t kSigLargeEnd = 0x06055B50;
inline constexpr std::uint32_t kSigLargeEndEnc = 0x06055C50;
inline constexpr std::uint32_t kSigZip64End = 0x06064B50;
inline constexpr std::uint32_t kSigZip64Locator = 0x07064B50;
inline constexpr std::uint32_t kSigMarker = 0x08074B50;  // spanning marker, data descriptor

// The signature a writer puts on a header of Kind.
std::uint32_t HeaderSignature(std::uint8_t Kind, bool Encrypted);
// Kind when Signature belongs to ExpectedKind (both end records for hkEnd), else kNotThisHeader.
std::uint8_t ClassifyHeaderSig(std::uint32_t Signature, std::uint8_t ExpectedKind, bool& Encrypted);
bool IsEncryptedHeaderSig(std::uint32_t Signature);
bool IsLocalOrCentralSig(std::uint32_t Signature);
bool IsLocalHeaderSig(std::uint32_t Signature);    // any of the four local forms
bool IsCentralHeaderSig(std::uint32_t Signature);  // any of the four central forms
bool IsEndRecordSig(std::uint32_t Signature);      // any of the four end-record forms

// Enciphered bytes after the signature: local 26, central 42, end 18 or (46-byte record) 42, else 0.
// Record must hold at least the signature; for hkEnd the signature tells the two records apart.
std::size_t HeaderBodySize(const std::uint8_t* Record, std::uint8_t Kind);

// Restart Cipher from its seed keys and encipher or decipher the body of Record in place.
// Record must hold 4 + HeaderBodySize bytes. Cipher should be of the header key set.
void EncryptHeader(TZipCipher& Cipher, std::uint8_t* Record, std::uint8_t Kind);
void DecryptHeader(TZipCipher& Cipher, std::uint8_t* Record, std::uint8_t Kind);
// Continue the key stream without a restart (the name behind a header).
void EncryptHeaderBuffer(TZipCipher& Cipher, void* Buffer, std::size_t n);
void DecryptHeaderBuffer(TZipCipher& Cipher, void* Buffer, std::size_t n);
