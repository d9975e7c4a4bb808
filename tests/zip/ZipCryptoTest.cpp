// Encrypted members of archives made by Info-ZIP zip -P and 7-Zip (ZipCrypto,
// AES-128/192/256): the right password gives the exact data, a wrong one is
// told apart from damaged data, damaged encryption fields are refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "ZipCrypto.h"
#include "ZipFile.h"
#include "ZipReader.h"
#include "ZipTestSupport.h"

namespace {

const char kPassword[] = "secret";

struct CryptoArchive {
  const char* Name;
  TZipEncryptionKind Kind;
  unsigned KeyBits;
};

const CryptoArchive kArchives[] = {
    {"crypto-infozip.zip", TZipEncryptionKind::Traditional, 0},
    {"crypto-7z-zipcrypto.zip", TZipEncryptionKind::Traditional, 0},
    {"crypto-7z-aes128.zip", TZipEncryptionKind::WinZipAes, 128},
    {"crypto-7z-aes192.zip", TZipEncryptionKind::WinZipAes, 192},
    {"crypto-7z-aes256.zip", TZipEncryptionKind::WinZipAes, 256},
};

TZipEncryption EncryptionOf(const TLocalFile& m) {
  return ZipEncryptionOf(m.FileName, m.Flags, m.CompressionMethod, m.CRC32, m.LastModDateTime, m.ExtraField);
}

// A member's data as a streamed reader gets them: the decrypter is fed chunks
// of growing, odd sizes; then the data are inflated and their CRC tested.
std::string Extract(const TLocalFile& m, const std::string& password) {
  const TZipEncryption e = EncryptionOf(m);
  const std::string& data = m.CompressedData;
  const auto decrypter = CreateZipDecrypter(e, password, data.substr(0, e.HeaderSize), m.FileName);
  std::string body = data.substr(e.HeaderSize, data.size() - e.HeaderSize - e.TrailerSize);
  for (size_t at = 0, chunk = 1; at < body.size(); at += chunk, chunk = chunk * 3 + 1)
    decrypter->Decrypt(&body[at], std::min(chunk, body.size() - at));
  decrypter->Finish(data.substr(data.size() - e.TrailerSize));
  const std::string plain = e.Method == 8 ? RawInflate(body) : body;
  if (e.CrcChecked && ReferenceCrc32(plain) != m.CRC32) throw EZipFileCRCError("CRC Error in \"" + m.FileName + "\".");
  return plain;
}

TZipFile Load(const char* archive) {
  TZipFile zip;
  zip.LoadFromFile(FixtureFile(archive));
  return zip;
}

// Each member decrypted on its own in chunks, through the in-memory model's
// password, and through the streamed reader's (which also tells a wrong one).
TEST(ZipCrypto, DecryptsTheArchivesOfOtherTools) {
  ASSERT_FALSE(FixtureFile("").empty()) << "QUARN_ZIP_FIXTURES is not set";
  const std::string sources = FixtureFile("crypto-src") + kSep;
  for (const CryptoArchive& archive : kArchives) {
    TZipFile zip = Load(archive.Name);
    ASSERT_EQ(zip.Count(), 3) << archive.Name;
    TZipReader reader(FixtureFile(archive.Name));
    TZipReader wrong(FixtureFile(archive.Name));
    reader.Password = zip.Password = kPassword;
    wrong.Password = "not the password";
    for (int32_t i = 0; i < zip.Count(); ++i) {
      const TLocalFile& m = zip.LocalFiles[i];
      SCOPED_TRACE(std::string(archive.Name) + ": " + m.FileName);
      const TZipEncryption e = EncryptionOf(m);
      EXPECT_EQ(e.Kind, archive.Kind);
      EXPECT_EQ(e.AesKeyBits, archive.KeyBits);
      ASSERT_TRUE(reader.Next() && wrong.Next());
      TMemoryStream out;
#ifndef _WIN32
      if (e.Kind == TZipEncryptionKind::WinZipAes) {
        EXPECT_THROW(Extract(m, kPassword), EZipCryptoError);
        EXPECT_THROW(reader.ExtractTo(out), EZipCryptoError);
        continue;
      }
#endif
      const std::string source = ReadWholeFile(sources + m.FileName);
      EXPECT_EQ(Extract(m, kPassword), source);
      EXPECT_EQ(zip.GetUncompressed(i), source);
      reader.ExtractTo(out);
      EXPECT_EQ(out.Data, source);
      // The password is found wrong, or (1 time in 256 for the traditional
      // cipher, whose headers are random) the data it gives are.
      TMemoryStream none;
      try {
        wrong.ExtractTo(none);
        ADD_FAILURE() << "a wrong password gave data";
      } catch (const EZipCryptoError&) {
      } catch (const EZipFileCRCError&) {
      } catch (const EDecompressionError&) {
      }
    }
  }
}

TEST(ZipCrypto, TellsAWrongPasswordFromDamagedData) {
  ASSERT_FALSE(FixtureFile("").empty()) << "QUARN_ZIP_FIXTURES is not set";
  for (const CryptoArchive& archive : kArchives) {
#ifndef _WIN32
    if (archive.Kind == TZipEncryptionKind::WinZipAes) continue;
#endif
    const TZipFile zip = Load(archive.Name);
    for (const TLocalFile& m : zip.LocalFiles) {
      SCOPED_TRACE(std::string(archive.Name) + ": " + m.FileName);
      EXPECT_THROW(Extract(m, ""), EZipPasswordError);
      // The check byte (or verifier) passes a wrong password now and then by
      // chance; the CRC or the authentication code must then fail instead.
      try {
        Extract(m, "Secret");
        ADD_FAILURE() << "a wrong password gave data";
      } catch (const EZipPasswordError&) {
      } catch (const EZipAuthenticationError&) {
        EXPECT_EQ(archive.Kind, TZipEncryptionKind::WinZipAes);
      } catch (const EZipFileCRCError&) {
        EXPECT_EQ(archive.Kind, TZipEncryptionKind::Traditional);
      } catch (const std::runtime_error&) {  // not deflate data
        EXPECT_EQ(archive.Kind, TZipEncryptionKind::Traditional);
      }
      if (archive.Kind == TZipEncryptionKind::WinZipAes) {
        // One bit changed in the middle of the encrypted data.
        const TZipEncryption e = EncryptionOf(m);
        TLocalFile damaged = m;
        damaged.CompressedData[e.HeaderSize + (m.CompressedData.size() - e.HeaderSize - e.TrailerSize) / 2] ^= 0x20;
        EXPECT_THROW(Extract(damaged, kPassword), EZipAuthenticationError);
      }
    }
  }
}

TEST(ZipCrypto, RefusesDamagedEncryptionFields) {
  auto aesField = [](const std::string& data) {
    std::string field;
    Put16(field, kZipWinZipAesExtraId);
    Put16(field, static_cast<uint16_t>(data.size()));
    return field + data;
  };
  struct {
    const char* What;
    uint16_t Flags;
    uint16_t Method;
    std::string Extra;
  } const cases[] = {
      {"method 99 without its field", 1, 99, ""},
      {"an AES field cut short", 1, 99,
       aesField(std::string("\x02\x00"
                            "AE\x03",
                            5))},
      {"an unknown AES version", 1, 99,
       aesField(std::string("\x03\x00"
                            "AE\x03\x08\x00",
                            7))},
      {"an unknown AES key strength", 1, 99,
       aesField(std::string("\x02\x00"
                            "AE\x04\x08\x00",
                            7))},
      {"another vendor", 1, 99,
       aesField(std::string("\x02\x00"
                            "XY\x03\x08\x00",
                            7))},
      {"PKWARE strong encryption", 0x41, 8, ""},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(ZipEncryptionOf("m", c.Flags, c.Method, 0, 0, c.Extra), EZipCryptoError) << c.What;
  }
  // Data shorter than the encryption header and trailer.
  const TZipEncryption traditional = ZipEncryptionOf("m", 1, 8, 0, 0, "");
  EXPECT_THROW(DecryptZipMember(traditional, kPassword, std::string(11, 'x'), "m"), EZipCryptoError);
  const TZipEncryption aes = ZipEncryptionOf("m", 1, 99, 0, 0,
                                             aesField(std::string("\x02\x00"
                                                                  "AE\x01\x08\x00",
                                                                  7)));
  EXPECT_THROW(DecryptZipMember(aes, kPassword, std::string(19, 'x'), "m"), EZipCryptoError);
}

}  // namespace
