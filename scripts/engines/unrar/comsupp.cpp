// The char* -> BSTR conversion behind _bstr_t(const char*), which UnRAR's
// isnt.cpp uses for its WMI query. MSVC takes it from comsupp.lib; MinGW-w64
// declares it in <comutil.h> but ships no library that defines it.
#include <windows.h>
#include <oleauto.h>
#include <comutil.h>

namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char *src) {
  if (src == nullptr) return nullptr;
  // The length includes the terminating null; the BSTR's length must not.
  int len = MultiByteToWideChar(CP_ACP, 0, src, -1, nullptr, 0);
  if (len <= 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(len - 1));
  if (result == nullptr) return nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, src, -1, result, len) != len) {
    SysFreeString(result);
    return nullptr;
  }
  return result;
}

}  // namespace _com_util
