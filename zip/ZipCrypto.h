#pragma once
// Decryption of encrypted zip members: the traditional PKWARE encryption and
// WinZip AES (128, 192 and 256-bit keys, AE-1 and AE-2).
//
// An encrypted member's data, as stored (CompressedSize bytes), are
//   [encryption header][encrypted data][trailer]
// where the header is 12 bytes (traditional) or the salt and a 2-byte
// password verifier (AES: 10, 14 or 18 bytes), and the trailer is empty
// (traditional) or AES's 10-byte authentication code. The encrypted data,
// once decrypted, are the member's compressed data in the method that
// TZipEncryption::Method names (stored or deflated, for this program).
//
// A reader, per member:
//   1. ZipEncryptionOf(name, flags, method, CRC, date-time, extra field) from
//      the local header (its extra field carries the AES field). Kind None:
//      the member is not encrypted.
//   2. CreateZipDecrypter(encryption, password, first HeaderSize bytes, name):
//      checks the password as far as the format allows.
//   3. Decrypt() the next CompressedSize - HeaderSize - TrailerSize bytes, in
//      chunks of any size, in order, then inflate or copy them by Method.
//   4. Finish(the last TrailerSize bytes): checks AES's authentication code.
//      Then the CRC-32 of the output, when CrcChecked.
// DecryptZipMember does steps 2 to 4 for a member held in memory.
//
// The traditional check byte tells a wrong password 255 times in 256; the one
// time in 256 it passes, the CRC-32 (or the inflater) finds the data wrong.
// AES's verifier tells it 65535 times in 65536, then the authentication code.
//
// Passwords are bytes as the caller gives them (the program's text, UTF-8).
// No copy of a password, and nothing derived from it, outlives the call or
// decrypter that used it: keys are wiped when the decrypter goes.
//
// AES goes through the system's cryptography (Windows CNG: PBKDF2-HMAC-SHA1,
// AES, HMAC-SHA1); the native (Linux) build has none and refuses AES members
// with EZipCryptoError. The traditional cipher is computed here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Exception.h"

constexpr uint16_t kZipFlagEncrypted = 0x0001;         // general purpose flag bit 0
constexpr uint16_t kZipFlagStrongEncryption = 0x0040;  // bit 6: PKWARE's certificate-based encryption
constexpr uint16_t kZipMethodWinZipAes = 99;
constexpr uint16_t kZipWinZipAesExtraId = 0x9901;

// A member cannot be decrypted: its kind of encryption is not supported (or
// not available on this system), its encryption fields are damaged, or (as
// EZipAuthenticationError) its data are. The message names the member.
class EZipCryptoError : public Exception {
 public:
  using Exception::Exception;
};

// No password was given for an encrypted member, or the password is wrong.
class EZipPasswordError : public EZipCryptoError {
 public:
  using EZipCryptoError::EZipCryptoError;
};

// AES data whose authentication code does not match: damaged data.
class EZipAuthenticationError : public EZipCryptoError {
 public:
  using EZipCryptoError::EZipCryptoError;
};

enum class TZipEncryptionKind { None, Traditional, WinZipAes };

// How one member is encrypted, read from its header.
struct TZipEncryption {
  TZipEncryptionKind Kind = TZipEncryptionKind::None;
  uint16_t Method = 0;      // compression method of the decrypted data
  size_t HeaderSize = 0;    // bytes before the encrypted data
  size_t TrailerSize = 0;   // bytes after them
  bool CrcChecked = true;   // false for AE-2, whose CRC field is 0 by design
  uint8_t CheckByte = 0;    // traditional: what the header's last byte decrypts to
  unsigned AesKeyBits = 0;  // WinZip AES: 128, 192 or 256
  unsigned AesVersion = 0;  // WinZip AES: 1 (AE-1) or 2 (AE-2)
};

// The encryption of a member, from its local header: general purpose Flags,
// compression Method, CRC32 and DosDateTime (DOS time in the low word) as
// stored there, and its ExtraField. Kind None when flag bit 0 is clear and
// the method is not 99. The traditional check byte is the CRC's high byte, or
// the DOS time's high byte when flag bit 3 defers the CRC to a data
// descriptor. Raises EZipCryptoError (naming Name) for PKWARE's strong
// encryption, and for method 99 without a valid WinZip AES field.
TZipEncryption ZipEncryptionOf(const std::string& Name, uint16_t Flags, uint16_t Method, uint32_t CRC32,
                               uint32_t DosDateTime, const std::string& ExtraField);

// Decrypts one member's encrypted data, chunk by chunk. Not copyable; one
// thread at a time.
class TZipDecrypter {
 public:
  virtual ~TZipDecrypter() = default;
  // Decrypts Count bytes in place. Chunks follow each other in the data's
  // order and may have any size, 0 included.
  virtual void Decrypt(char* Data, size_t Count) = 0;
  // After the last chunk: Trailer must be the TrailerSize bytes that follow
  // the encrypted data. Raises EZipAuthenticationError when AES's
  // authentication code does not match the data decrypted. Nothing to check
  // for the traditional cipher.
  virtual void Finish(const std::string& Trailer) = 0;
};

// A decrypter for a member encrypted as Encryption says (Kind not None).
// Header: the HeaderSize bytes at the start of the member's data. Raises
// EZipPasswordError when Password is empty or the header shows it wrong;
// EZipCryptoError when Header is shorter than HeaderSize, or AES cannot be
// used here (natively, or a system whose cryptography lacks a piece: the
// message says which).
std::unique_ptr<TZipDecrypter> CreateZipDecrypter(const TZipEncryption& Encryption, const std::string& Password,
                                                  const std::string& Header, const std::string& Name);

// The decrypted (still compressed) data of a member held in memory: Data is
// all its stored bytes (header, encrypted data, trailer). Raises what
// CreateZipDecrypter and Finish raise, and EZipCryptoError when Data is too
// short to hold header and trailer.
std::string DecryptZipMember(const TZipEncryption& Encryption, const std::string& Password, const std::string& Data,
                             const std::string& Name);

// (Passwords and keys are wiped with WipeBytes and Wipe of common/Text.h.)
