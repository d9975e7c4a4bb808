#include "ZipCrypto.h"

#include <zlib.h>

#include <algorithm>

#include "Text.h"
#include "ZipExtraField.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <vector>

#include "Win32Kit.h"
#endif

namespace {

const char kNoPasswordText[] = "Cannot extract \"%s\": it is encrypted and no password was given.";
const char kWrongPasswordText[] = "Cannot extract \"%s\": the password is wrong.";
[[maybe_unused]] const char kAuthenticationText[] =
    "Cannot extract \"%s\": its encrypted data are damaged (their authentication code does not match).";
const char kCutShortText[] = "Cannot extract \"%s\": its encrypted data are cut short.";
const char kStrongEncryptionText[] =
    "Cannot extract \"%s\": it uses PKWARE's strong encryption, which is not supported.";
const char kAesFieldText[] = "Cannot extract \"%s\": its AES encryption field is missing or damaged.";
#ifdef _WIN32
const char kSystemCryptoText[] = "Cannot extract \"%s\": the system's cryptography cannot ";
#else
const char kAesNotHereText[] =
    "Cannot extract \"%s\": it is AES-encrypted, and AES is not supported in this build of the zip engine.";
#endif

constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr size_t kTraditionalHeaderSize = 12;
constexpr size_t kAesVerifierSize = 2;
constexpr size_t kAesAuthenticationSize = 10;

// A secret value (keys, keystream) that is wiped when it goes, also when the
// object holding it fails in its constructor.
template <typename T>
struct TWiped {
  ~TWiped() { WipeBytes(&Value, sizeof Value); }
  T Value;
};

// ---- traditional PKWARE encryption ----

// The stream cipher of the traditional encryption: three 32-bit keys, set up
// from the password and then advanced by every plain byte.
class TTraditionalDecrypter : public TZipDecrypter {
 public:
  TTraditionalDecrypter(const std::string& password, const std::string& header, uint8_t checkByte,
                        const std::string& name)
      : FTable(get_crc_table()) {
    for (char c : password) Update(static_cast<uint8_t>(c));
    uint8_t plain[kTraditionalHeaderSize];
    for (size_t k = 0; k < kTraditionalHeaderSize; ++k) plain[k] = DecryptByte(static_cast<uint8_t>(header[k]));
    if (plain[kTraditionalHeaderSize - 1] != checkByte) throw EZipPasswordError(WithName(kWrongPasswordText, name));
  }
  TTraditionalDecrypter(const TTraditionalDecrypter&) = delete;
  TTraditionalDecrypter& operator=(const TTraditionalDecrypter&) = delete;

  void Decrypt(char* Data, size_t Count) override {
    for (size_t k = 0; k < Count; ++k) Data[k] = static_cast<char>(DecryptByte(static_cast<uint8_t>(Data[k])));
  }
  void Finish(const std::string&) override {}

 private:
  uint32_t Crc(uint32_t crc, uint8_t b) const { return static_cast<uint32_t>(FTable[(crc ^ b) & 0xFF]) ^ (crc >> 8); }
  void Update(uint8_t plain) {
    uint32_t* keys = FKeys.Value;
    keys[0] = Crc(keys[0], plain);
    keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
    keys[2] = Crc(keys[2], static_cast<uint8_t>(keys[1] >> 24));
  }
  uint8_t DecryptByte(uint8_t cipher) {
    const uint32_t t = (FKeys.Value[2] | 2) & 0xFFFF;
    const uint8_t plain = static_cast<uint8_t>(cipher ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
    Update(plain);
    return plain;
  }

  const z_crc_t* FTable;  // zlib's CRC-32 table, not owned
  TWiped<uint32_t[3]> FKeys{{0x12345678u, 0x23456789u, 0x34567890u}};
};

// ---- WinZip AES ----

#ifdef _WIN32

constexpr ULONG kAesPasswordIterations = 1000;
constexpr size_t kAesBlock = 16;
constexpr size_t kKeystreamBlocks = 4096;  // 64 KiB of keystream per call into the system
constexpr size_t kSha1Size = 20;

struct TAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct TKeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptDestroyKey(h); }
};
struct THashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptDestroyHash(h); }
};

// Derived key material, wiped when it goes.
class TSecretBytes {
 public:
  explicit TSecretBytes(size_t size) : FBytes(size) {}
  ~TSecretBytes() { WipeBytes(FBytes.data(), FBytes.size()); }
  TSecretBytes(const TSecretBytes&) = delete;
  TSecretBytes& operator=(const TSecretBytes&) = delete;
  uint8_t* Data() { return FBytes.data(); }
  size_t Size() const { return FBytes.size(); }

 private:
  std::vector<uint8_t> FBytes;
};

// AES in WinZip's counter mode: the keystream is the encryption of a 16-byte
// little-endian counter that starts at 1; HMAC-SHA1 over the encrypted data,
// of which the first 10 bytes are stored after them. The keys and the
// password verifier come from PBKDF2-HMAC-SHA1 over the password and the salt.
class TAesDecrypter : public TZipDecrypter {
 public:
  TAesDecrypter(const TZipEncryption& encryption, const std::string& password, const std::string& header,
                const std::string& name)
      : FName(name) {
    const size_t keySize = encryption.AesKeyBits / 8;
    const size_t saltSize = keySize / 2;
    BCRYPT_ALG_HANDLE handle = nullptr;
    Check(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG),
          "provide HMAC-SHA1");
    FHmacAlgorithm.Reset(handle);

    TSecretBytes derived(2 * keySize + kAesVerifierSize);
    Check(
        BCryptDeriveKeyPBKDF2(FHmacAlgorithm.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())),
                              static_cast<ULONG>(password.size()),
                              reinterpret_cast<PUCHAR>(const_cast<char*>(header.data())), static_cast<ULONG>(saltSize),
                              kAesPasswordIterations, derived.Data(), static_cast<ULONG>(derived.Size()), 0),
        "derive keys with PBKDF2");
    if (derived.Data()[2 * keySize] != static_cast<uint8_t>(header[saltSize]) ||
        derived.Data()[2 * keySize + 1] != static_cast<uint8_t>(header[saltSize + 1]))
      throw EZipPasswordError(WithName(kWrongPasswordText, name));

    Check(BCryptOpenAlgorithmProvider(&handle, BCRYPT_AES_ALGORITHM, nullptr, 0), "provide AES");
    FAesAlgorithm.Reset(handle);
    // Counter mode is built here on single blocks: CNG has no such mode.
    Check(BCryptSetProperty(FAesAlgorithm.Get(), BCRYPT_CHAINING_MODE,
                            reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                            sizeof BCRYPT_CHAIN_MODE_ECB, 0),
          "use AES block by block");
    BCRYPT_KEY_HANDLE key = nullptr;
    Check(BCryptGenerateSymmetricKey(FAesAlgorithm.Get(), &key, nullptr, 0, derived.Data(), static_cast<ULONG>(keySize),
                                     0),
          "make an AES key");
    FKey.Reset(key);
    BCRYPT_HASH_HANDLE hash = nullptr;
    Check(BCryptCreateHash(FHmacAlgorithm.Get(), &hash, nullptr, 0, derived.Data() + keySize,
                           static_cast<ULONG>(keySize), 0),
          "compute HMAC-SHA1");
    FHmac.Reset(hash);
  }
  TAesDecrypter(const TAesDecrypter&) = delete;
  TAesDecrypter& operator=(const TAesDecrypter&) = delete;

  void Decrypt(char* Data, size_t Count) override {
    // The code authenticates the encrypted bytes, so it sees them first.
    for (size_t done = 0; done < Count;) {
      const ULONG n = static_cast<ULONG>(std::min<size_t>(Count - done, 1u << 30));
      Check(BCryptHashData(FHmac.Get(), reinterpret_cast<PUCHAR>(Data + done), n, 0), "compute HMAC-SHA1");
      done += n;
    }
    for (size_t k = 0; k < Count; ++k) {
      if (FUsed == FFilled) Refill(Count - k);
      Data[k] = static_cast<char>(Data[k] ^ FKeystream.Value[FUsed++]);
    }
  }

  void Finish(const std::string& Trailer) override {
    uint8_t digest[kSha1Size];
    Check(BCryptFinishHash(FHmac.Get(), digest, sizeof digest, 0), "compute HMAC-SHA1");
    FHmac.Reset();
    if (Trailer.size() != kAesAuthenticationSize ||
        !std::equal(Trailer.begin(), Trailer.end(), digest,
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }))
      throw EZipAuthenticationError(WithName(kAuthenticationText, FName));
  }

 private:
  // Encrypts the next counter blocks, enough for wanted bytes (as far as the
  // buffer goes).
  void Refill(size_t wanted) {
    const size_t blocks = std::min((wanted + kAesBlock - 1) / kAesBlock, kKeystreamBlocks);
    for (size_t b = 0; b < blocks; ++b) {
      uint8_t* counter = FCounter.Value;
      for (size_t k = 0; k < kAesBlock && ++counter[k] == 0; ++k) {
      }
      std::copy(counter, counter + kAesBlock, FKeystream.Value + b * kAesBlock);
    }
    ULONG written = 0;
    const ULONG size = static_cast<ULONG>(blocks * kAesBlock);
    uint8_t* keystream = FKeystream.Value;
    Check(BCryptEncrypt(FKey.Get(), keystream, size, nullptr, nullptr, 0, keystream, size, &written, 0),
          "encrypt with AES");
    FFilled = size;
    FUsed = 0;
  }

  void Check(NTSTATUS status, const char* what) const {
    if (!BCRYPT_SUCCESS(status))
      throw EZipCryptoError(WithName(kSystemCryptoText, FName) + what +
                            Format(" (status 0x%08lX).", static_cast<unsigned long>(status)));
  }

  std::string FName;
  TOwned<TAlgorithmTraits> FHmacAlgorithm;
  TOwned<TAlgorithmTraits> FAesAlgorithm;
  TOwned<TKeyTraits> FKey;
  TOwned<THashTraits> FHmac;
  TWiped<uint8_t[kAesBlock]> FCounter{};
  TWiped<uint8_t[kKeystreamBlocks * kAesBlock]> FKeystream;
  size_t FFilled = 0;
  size_t FUsed = 0;
};

#endif

}  // namespace

TZipEncryption ZipEncryptionOf(const std::string& Name, uint16_t Flags, uint16_t Method, uint32_t CRC32,
                               uint32_t DosDateTime, const std::string& ExtraField) {
  TZipEncryption e;
  if (Method == kZipMethodWinZipAes) {
    // Version (1 or 2), vendor "AE", key strength (1, 2, 3), the real method.
    std::string field;
    if (!FindZipExtraField(ExtraField, kZipWinZipAesExtraId, field) || field.size() < 7 ||
        ZipLittleEndian(&field[0], 2) < 1 || ZipLittleEndian(&field[0], 2) > 2 || field.compare(2, 2, "AE") != 0 ||
        field[4] < 1 || field[4] > 3)
      throw EZipCryptoError(WithName(kAesFieldText, Name));
    e.Kind = TZipEncryptionKind::WinZipAes;
    e.AesVersion = ZipLittleEndian(&field[0], 2);
    e.AesKeyBits = 64 + 64 * static_cast<unsigned>(field[4]);
    e.Method = static_cast<uint16_t>(ZipLittleEndian(&field[5], 2));
    e.HeaderSize = e.AesKeyBits / 16 + kAesVerifierSize;
    e.TrailerSize = kAesAuthenticationSize;
    e.CrcChecked = e.AesVersion == 1;
    return e;
  }
  if (!(Flags & kZipFlagEncrypted)) return e;
  if (Flags & kZipFlagStrongEncryption) throw EZipCryptoError(WithName(kStrongEncryptionText, Name));
  e.Kind = TZipEncryptionKind::Traditional;
  e.Method = Method;
  e.HeaderSize = kTraditionalHeaderSize;
  // A writer that defers the CRC to a data descriptor does not know it when
  // it writes the header, and checks with the time instead.
  e.CheckByte = static_cast<uint8_t>((Flags & kFlagDataDescriptor) ? DosDateTime >> 8 : CRC32 >> 24);
  return e;
}

std::unique_ptr<TZipDecrypter> CreateZipDecrypter(const TZipEncryption& Encryption, const std::string& Password,
                                                  const std::string& Header, const std::string& Name) {
  if (Header.size() < Encryption.HeaderSize) throw EZipCryptoError(WithName(kCutShortText, Name));
  if (Password.empty()) throw EZipPasswordError(WithName(kNoPasswordText, Name));
  if (Encryption.Kind == TZipEncryptionKind::Traditional)
    return std::make_unique<TTraditionalDecrypter>(Password, Header, Encryption.CheckByte, Name);
#ifdef _WIN32
  if (Encryption.Kind == TZipEncryptionKind::WinZipAes)
    return std::make_unique<TAesDecrypter>(Encryption, Password, Header, Name);
#else
  if (Encryption.Kind == TZipEncryptionKind::WinZipAes) throw EZipCryptoError(WithName(kAesNotHereText, Name));
#endif
  throw EZipCryptoError(WithName(kAesFieldText, Name));
}

std::string DecryptZipMember(const TZipEncryption& Encryption, const std::string& Password, const std::string& Data,
                             const std::string& Name) {
  if (Data.size() < Encryption.HeaderSize + Encryption.TrailerSize)
    throw EZipCryptoError(WithName(kCutShortText, Name));
  const std::unique_ptr<TZipDecrypter> decrypter =
      CreateZipDecrypter(Encryption, Password, Data.substr(0, Encryption.HeaderSize), Name);
  std::string plain = Data.substr(Encryption.HeaderSize, Data.size() - Encryption.HeaderSize - Encryption.TrailerSize);
  decrypter->Decrypt(&plain[0], plain.size());
  decrypter->Finish(Data.substr(Data.size() - Encryption.TrailerSize));
  return plain;
}

