#include "ZipNames.h"

#include <zlib.h>

#include "ZipExtraField.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr unsigned kCodePage437 = 437;

// Code page 437 (the original IBM PC set, the zip format's default for names
// without bit 11) from 0x80 on; 0x00..0x7F are ASCII.
const uint16_t kCodePage437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(((0xFFu << (7 - extra)) & 0xFF) | (c >> (6 * extra)));
  while (extra-- > 0) out += static_cast<char>(0x80 | ((c >> (6 * extra)) & 0x3F));
}

// The visible stand-in for a byte that its encoding does not allow.
void AppendEscape(std::string& out, uint8_t b) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

// The length of the valid UTF-8 sequence that starts at s[at], or 0 when the
// bytes there are not one (a stray continuation byte, a cut sequence, an
// overlong form, a surrogate, a code point above U+10FFFF).
size_t Utf8SequenceAt(const std::string& s, size_t at) {
  const uint8_t b = static_cast<uint8_t>(s[at]);
  if (b < 0x80) return 1;
  size_t length;
  uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;   // overlong
    if (b == 0xED) high = 0x9F;  // surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;   // overlong
    if (b == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (s.size() - at < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const uint8_t c = static_cast<uint8_t>(s[at + k]);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string CodePage437ToUtf8(const std::string& raw) {
  std::string out;
  out.reserve(raw.size() * 2);
  for (char c : raw) {
    const uint8_t b = static_cast<uint8_t>(c);
    AppendUtf8(out, b < 0x80 ? b : kCodePage437High[b - 0x80]);
  }
  return out;
}

#ifdef _WIN32
// UTF-16 as UTF-8 (surrogate pairs joined; a lone surrogate, which no code
// page produces, becomes U+FFFD).
void AppendWide(std::string& out, const wchar_t* text, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    uint32_t c = static_cast<uint16_t>(text[k]);
    if (c >= 0xD800 && c <= 0xDBFF && k + 1 < count && text[k + 1] >= 0xDC00 && text[k + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[++k]) - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
}

// Converts count bytes in the code page; false when the page does not map them.
bool AppendFromCodePage(std::string& out, const char* bytes, size_t count, unsigned codePage) {
  const int size = static_cast<int>(count);
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, size, &wide[0], n) != n) return false;
  AppendWide(out, wide.data(), wide.size());
  return true;
}
#endif

// The UTF-8 text of a Unicode Path or Unicode Comment field for Raw: version
// 1, the CRC-32 of Raw, the text. Empty when there is no such field or it does
// not apply.
std::string UnicodeExtraText(const std::string& raw, const std::string& extraField, uint16_t id) {
  std::string data;
  if (!FindZipExtraField(extraField, id, data) || data.size() <= 5 || data[0] != 1) return std::string();
  const uint32_t crc =
      static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size())));
  if (ZipLittleEndian(&data[1], 4) != crc) return std::string();
  std::string text = data.substr(5);
  return ValidUtf8(text) == text ? text : std::string();
}

std::string Decode(const std::string& raw, uint16_t flags, const std::string& extraField, uint16_t id) {
  if (flags & kZipFlagUtf8) return ValidUtf8(raw);
  const std::string text = UnicodeExtraText(raw, extraField, id);
  if (!text.empty()) return text;
  return CodePageToUtf8(raw, SystemOemCodePage());
}

}  // namespace

std::string ValidUtf8(const std::string& Raw) {
  std::string out;
  size_t at = 0;
  while (at < Raw.size()) {
    const size_t length = Utf8SequenceAt(Raw, at);
    if (length == 0) {
      AppendEscape(out, static_cast<uint8_t>(Raw[at]));
      ++at;
    } else {
      out.append(Raw, at, length);
      at += length;
    }
  }
  return out;
}

std::string CodePageToUtf8(const std::string& Raw, unsigned CodePage) {
#ifdef _WIN32
  if (CodePage != kCodePage437 && IsValidCodePage(CodePage)) {
    std::string out;
    if (AppendFromCodePage(out, Raw.data(), Raw.size(), CodePage)) return out;
    // Some bytes do not map: convert character by character (a lead byte of a
    // double-byte page with its trail byte), escaping what still fails.
    out.clear();
    CPINFO info{};
    const bool doubleByte = GetCPInfo(CodePage, &info) && info.MaxCharSize > 1;
    size_t at = 0;
    while (at < Raw.size()) {
      size_t length = 1;
      if (doubleByte && at + 1 < Raw.size() && IsDBCSLeadByteEx(CodePage, static_cast<BYTE>(Raw[at]))) length = 2;
      if (!AppendFromCodePage(out, Raw.data() + at, length, CodePage) &&
          (length == 1 || !AppendFromCodePage(out, Raw.data() + at, length = 1, CodePage))) {
        AppendEscape(out, static_cast<uint8_t>(Raw[at]));
      }
      at += length;
    }
    return out;
  }
#else
  (void)CodePage;
#endif
  return CodePage437ToUtf8(Raw);
}

unsigned SystemOemCodePage() {
#ifdef _WIN32
  static const unsigned codePage = [] {
    UINT page = GetOEMCP();
    if (page == CP_UTF8) {
      // The manifest's UTF-8 code page applies to the OEM page too; the
      // system's own OEM page is the default of the system locale.
      DWORD number = 0;
      if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTCODEPAGE | LOCALE_RETURN_NUMBER,
                         reinterpret_cast<LPWSTR>(&number), sizeof number / sizeof(wchar_t)) > 0)
        page = number;
    }
    return (page == 0 || page == CP_UTF8 || !IsValidCodePage(page)) ? kCodePage437 : page;
  }();
  return codePage;
#else
  return kCodePage437;
#endif
}

std::string DecodeZipName(const std::string& Raw, uint16_t Flags, const std::string& ExtraField) {
  return Decode(Raw, Flags, ExtraField, kZipUnicodePathExtraId);
}

std::string DecodeZipComment(const std::string& Raw, uint16_t Flags, const std::string& ExtraField) {
  return Decode(Raw, Flags, ExtraField, kZipUnicodeCommentExtraId);
}

TZipStoredName EncodeZipName(const std::string& Name) {
  TZipStoredName stored;
  for (char c : Name) {
    if (static_cast<uint8_t>(c) >= 0x80) {
      stored.Bytes = ValidUtf8(Name);
      stored.Flags = kZipFlagUtf8;
      stored.VersionMadeBy = kZipVersionMadeByNtfs;
      return stored;
    }
  }
  stored.Bytes = Name;
  return stored;
}
