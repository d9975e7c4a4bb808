#include "PathParts.h"

#ifdef _WIN32
#include <windows.h>
#endif

bool IsLeadByte(char c) {
#ifdef _WIN32
  return IsDBCSLeadByte(static_cast<BYTE>(c)) != 0;
#else
  (void)c;
  return false;
#endif
}

std::vector<std::string> SplitPath(const std::string& Path) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < Path.size(); ++i) {
    const char c = Path[i];
    if (IsLeadByte(c) && i + 1 < Path.size()) {
      part += c;
      part += Path[++i];
    } else if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}
