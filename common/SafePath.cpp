#include "SafePath.h"

#include <vector>

#include "PathParts.h"

namespace {

template <typename C>
bool IsSeparator(C c) {
  return c == C('\\') || c == C('/');
}

bool LeadByte(char c) { return IsLeadByte(c); }
bool LeadByte(wchar_t) { return false; }

// The parts of a name between separators, each whole (a double-byte character
// whose second byte looks like "\" stays in its part).
template <typename S>
std::vector<S> Parts(const S& name) {
  std::vector<S> parts(1);
  for (size_t i = 0; i < name.size(); ++i) {
    if (LeadByte(name[i]) && i + 1 < name.size()) {
      parts.back() += name[i];
      parts.back() += name[++i];
    } else if (IsSeparator(name[i])) {
      parts.emplace_back();
    } else {
      parts.back() += name[i];
    }
  }
  return parts;
}

template <typename C>
bool IsLetter(C c) {
  return (c >= C('A') && c <= C('Z')) || (c >= C('a') && c <= C('z'));
}

template <typename C>
C Upper(C c) {
  return (c >= C('a') && c <= C('z')) ? C(c - 'a' + 'A') : c;
}

// Superscript one, two and three: as UTF-8 bytes (C2 B9, C2 B2, C2 B3) in a
// byte string, as one character in a wide string.
bool IsSuperscriptDigit(const std::string& s, size_t at) {
  return s.size() == at + 2 && static_cast<unsigned char>(s[at]) == 0xC2 &&
         (static_cast<unsigned char>(s[at + 1]) == 0xB9 || static_cast<unsigned char>(s[at + 1]) == 0xB2 ||
          static_cast<unsigned char>(s[at + 1]) == 0xB3);
}
bool IsSuperscriptDigit(const std::wstring& s, size_t at) {
  return s.size() == at + 1 && (s[at] == L'\u00B9' || s[at] == L'\u00B2' || s[at] == L'\u00B3');
}

// True when Windows would open a device for this part: its base (up to the
// first dot, without trailing blanks) is a device name.
template <typename S>
bool IsDeviceName(const S& part) {
  using C = typename S::value_type;
  S base = part.substr(0, part.find(C('.')));
  while (!base.empty() && base.back() == C(' ')) base.pop_back();
  for (C& c : base) c = Upper(c);
  static const char* const plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : plain)
    if (base == S(device, device + std::char_traits<char>::length(device))) return true;
  if (base.size() < 4) return false;
  const S head = base.substr(0, 3);
  if (head != S{C('C'), C('O'), C('M')} && head != S{C('L'), C('P'), C('T')}) return false;
  return (base.size() == 4 && base[3] >= C('0') && base[3] <= C('9')) || IsSuperscriptDigit(base, 3);
}

template <typename C>
bool IsForbidden(C c) {
  if (c >= 0 && c < C(32)) return true;
  switch (c) {
    case C('<'):
    case C('>'):
    case C(':'):
    case C('"'):
    case C('|'):
    case C('?'):
    case C('*'): return true;
  }
  return false;
}

template <typename S>
bool IsUncWord(const S& part) {
  return part.size() == 3 && Upper(part[0]) == 'U' && Upper(part[1]) == 'N' && Upper(part[2]) == 'C';
}

template <typename S>
bool OnlyDotsAndBlanks(const S& part) {
  using C = typename S::value_type;
  for (C c : part)
    if (c != C('.') && c != C(' ')) return false;
  return true;
}

template <typename S>
TSafePath<S> MakeSafe(const S& name) {
  using C = typename S::value_type;
  std::vector<S> parts = Parts(name);
  size_t first = 0;
  // "\\" at the start: a UNC or device prefix, whose names are no folders of
  // the archive.
  if (parts.size() >= 3 && parts[0].empty() && parts[1].empty()) {
    if (parts[2] == S{C('?')} || parts[2] == S{C('.')}) {
      first = 3;  // \\?\ or \\.\, then a drive or UNC\server\share
      if (first < parts.size() && IsUncWord(parts[first])) first += 3;
    } else {
      first = 4;  // \\server\share
    }
  }
  // A drive at the start of what is left.
  if (first < parts.size() && parts[first].size() >= 2 && parts[first][1] == C(':') && IsLetter(parts[first][0]))
    parts[first].erase(0, 2);

  TSafePath<S> result;
  for (size_t i = first; i < parts.size(); ++i) {
    S part = parts[i];
    if (OnlyDotsAndBlanks(part)) continue;  // also empty parts, "." and ".."
    for (C& c : part) {
      if (IsForbidden(c)) {
        c = C('_');
        result.Renamed = true;
      }
    }
    if (IsDeviceName(part)) {
      part.insert(part.begin(), C('_'));
      result.Renamed = true;
    }
    if (!result.Path.empty()) {
      result.Folder = result.Path;
      result.Path += C('\\');
    }
    result.Path += part;
  }
  return result;
}

}  // namespace

TSafePath<std::string> SafeRelativePath(const std::string& Name) { return MakeSafe(Name); }
TSafePath<std::wstring> SafeRelativePath(const std::wstring& Name) { return MakeSafe(Name); }

bool FitsBelow(const std::wstring& Folder, const std::wstring& Relative) {
  constexpr size_t kLongestPath = 32767;  // characters of a path the system takes
  constexpr size_t kStreamRoom = 32;      // for ":Zone.Identifier" and the like
  // The long form puts "\\?\" before a drive path and "\\?\UNC\" for the
  // leading "\\" of a network one.
  const bool prefixed = Folder.compare(0, 4, L"\\\\?\\") == 0;
  const bool network = !prefixed && Folder.compare(0, 2, L"\\\\") == 0;
  const size_t prefix = prefixed ? 0 : network ? 6 : 4;
  return prefix + Folder.size() + 1 + Relative.size() + kStreamRoom <= kLongestPath;
}

std::wstring ItemPathBelow(const TNameRule& Rule, const std::wstring& Folder, const std::wstring& Name, bool IsFolder,
                           bool& Changed) {
  Changed = false;
  if (Rule) return Rule(Name, IsFolder);
  const TSafePath<std::wstring> safe = SafeRelativePath(Name);
  const std::wstring path = FitsBelow(Folder, safe.Path) ? safe.Path : std::wstring();
  Changed = path.empty() || safe.Renamed;
  return path;
}
