#pragma once
// Owned Win32 resources: a kernel handle, a find handle, a loaded module, GDI
// objects, icons, menus and image lists are released by the object that holds
// them, on every path; a COM-style interface pointer holds one reference.
// Each is movable, not copyable (the COM pointer copies with AddRef).

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstddef>
#include <utility>

// A value of Traits::Type owned by this object: Traits::Close runs on it when
// the object goes or takes another value, unless Traits::Valid says it is none.
template <typename Traits>
class TOwned {
 public:
  using Type = typename Traits::Type;

  TOwned() = default;
  explicit TOwned(Type Value) : FValue(Value) {}
  ~TOwned() { Reset(); }
  TOwned(TOwned&& Other) noexcept : FValue(Other.Release()) {}
  TOwned& operator=(TOwned&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  TOwned(const TOwned&) = delete;
  TOwned& operator=(const TOwned&) = delete;

  Type Get() const { return FValue; }
  bool Valid() const { return Traits::Valid(FValue); }
  explicit operator bool() const { return Valid(); }

  // Gives the value up without closing it.
  Type Release() {
    Type value = FValue;
    FValue = Traits::None();
    return value;
  }
  // Closes the value held (if any) and holds Value instead.
  void Reset(Type Value = Traits::None()) {
    if (Valid()) Traits::Close(FValue);
    FValue = Value;
  }

 private:
  Type FValue = Traits::None();
};

// A value whose "none" is null, closed by Close_.
template <typename T, auto Close_>
struct TNullIsNoneTraits {
  using Type = T;
  static T None() { return nullptr; }
  static bool Valid(T h) { return h != nullptr; }
  static void Close(T h) { Close_(h); }
};

struct THandleTraits : TNullIsNoneTraits<HANDLE, CloseHandle> {
  // CreateFile reports failure with INVALID_HANDLE_VALUE, most other calls with null.
  static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
};

struct TFindHandleTraits : TNullIsNoneTraits<HANDLE, FindClose> {
  static HANDLE None() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
};

template <typename T>
BOOL WINAPI DeleteGdiObject(T Object) {
  return DeleteObject(Object);
}

template <typename T>
void WINAPI FreeCoTaskMem(T Block) {
  CoTaskMemFree(Block);
}

template <typename T>
void WINAPI FreeLocalMem(T Block) {
  LocalFree(Block);
}

using TModuleTraits = TNullIsNoneTraits<HMODULE, FreeLibrary>;
template <typename T>
using TGdiObjectTraits = TNullIsNoneTraits<T, DeleteGdiObject<T>>;
using TIconTraits = TNullIsNoneTraits<HICON, DestroyIcon>;
using TMenuTraits = TNullIsNoneTraits<HMENU, DestroyMenu>;
using TImageListTraits = TNullIsNoneTraits<HIMAGELIST, ImageList_Destroy>;

using THandle = TOwned<THandleTraits>;          // files, events, mutexes, processes
using TFindHandle = TOwned<TFindHandleTraits>;  // FindFirstFile searches
using TFont = TOwned<TGdiObjectTraits<HFONT>>;
using TBitmap = TOwned<TGdiObjectTraits<HBITMAP>>;
using TIcon = TOwned<TIconTraits>;
using TMenu = TOwned<TMenuTraits>;
using TImageList = TOwned<TImageListTraits>;
using TRegKey = TOwned<TNullIsNoneTraits<HKEY, RegCloseKey>>;
// A block the shell allocated for the caller (an item id list, say).
template <typename T>
using TCoTaskMem = TOwned<TNullIsNoneTraits<T, FreeCoTaskMem<T>>>;
// A block from the local heap that a call made for the caller (its arguments, say).
template <typename T>
using TLocalMem = TOwned<TNullIsNoneTraits<T, FreeLocalMem<T>>>;
// A drop's data, finished when it goes.
using TDrop = TOwned<TNullIsNoneTraits<HDROP, DragFinish>>;

// A loaded library with typed access to its exports.
class TModule : public TOwned<TModuleTraits> {
 public:
  TModule() = default;
  explicit TModule(HMODULE Module) : TOwned(Module) {}
  static TModule Load(const char* Name) { return TModule(LoadLibraryA(Name)); }
  static TModule Load(const wchar_t* Name) { return TModule(LoadLibraryW(Name)); }

  // The export Name as a pointer of type F, or null when the module or the
  // export is missing.
  template <typename F>
  F Proc(const char* Name) const {
    if (!Valid()) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Get(), Name)));
  }
};

// One reference to a COM-style object (anything with AddRef and Release).
template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  TComPtr(std::nullptr_t) {}
  // Takes a reference of its own to Object (which may be a new object whose
  // count starts at 0).
  explicit TComPtr(T* Object) : FPtr(Object) {
    if (FPtr) FPtr->AddRef();
  }
  TComPtr(const TComPtr& Other) : TComPtr(Other.FPtr) {}
  TComPtr(TComPtr&& Other) noexcept : FPtr(Other.Detach()) {}
  ~TComPtr() { Reset(); }
  TComPtr& operator=(TComPtr Other) noexcept {
    std::swap(FPtr, Other.FPtr);
    return *this;
  }

  T* Get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }

  // Releases the reference held.
  void Reset() {
    T* old = FPtr;
    FPtr = nullptr;
    if (old) old->Release();
  }
  // Hands the reference over to the caller (for out-parameters).
  T* Detach() {
    T* p = FPtr;
    FPtr = nullptr;
    return p;
  }
  // Where a function that creates an object stores its reference.
  T** Put() {
    Reset();
    return &FPtr;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

 private:
  T* FPtr = nullptr;
};

// A new reference-counted object held by its first reference.
template <typename T, typename... Args>
TComPtr<T> MakeCom(Args&&... args) {
  return TComPtr<T>(new T(std::forward<Args>(args)...));
}
