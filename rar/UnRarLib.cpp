#include "UnRarLib.h"

#include <mutex>

#include "Sync.h"

TUnRarLibrary UnRarLib;

namespace {

std::string& LibraryName() {
  static std::string name = "unrar.dll";
  return name;
}

// Number of LoadUnRarLibrary calls that found the library and are not yet
// matched by an UnloadUnRarLibrary; components load and unload it on the
// threads they run on.
int LoadCount = 0;
TLock LoadLock;

template <typename T>
void Bind(T& entry, const char* name) {
  entry = UnRarLib.Module.Proc<T>(name);
}

}  // namespace

void SetUnRarLibraryName(const std::string& Name) { LibraryName() = Name; }

const std::string& GetUnRarLibraryName() { return LibraryName(); }

void LoadUnRarLibrary() {
  const std::lock_guard<TLock> lock(LoadLock);
  if (UnRarLib.Loaded) {
    ++LoadCount;
    return;
  }
  TModule module = TModule::Load(LibraryName().c_str());
  if (!module) return;
  UnRarLib.Module = std::move(module);
  UnRarLib.Loaded = true;
  LoadCount = 1;
  Bind(UnRarLib.RAROpenArchive, "RAROpenArchive");
  Bind(UnRarLib.RAROpenArchiveEx, "RAROpenArchiveEx");
  Bind(UnRarLib.RARCloseArchive, "RARCloseArchive");
  Bind(UnRarLib.RARReadHeader, "RARReadHeader");
  Bind(UnRarLib.RARReadHeaderEx, "RARReadHeaderEx");
  Bind(UnRarLib.RARProcessFile, "RARProcessFile");
  Bind(UnRarLib.RARProcessFileW, "RARProcessFileW");
  Bind(UnRarLib.RARSetCallback, "RARSetCallback");
  Bind(UnRarLib.RARSetChangeVolProc, "RARSetChangeVolProc");
  Bind(UnRarLib.RARSetProcessDataProc, "RARSetProcessDataProc");
  Bind(UnRarLib.RARSetPassword, "RARSetPassword");
  Bind(UnRarLib.RARGetDllVersion, "RARGetDllVersion");
}

void UnloadUnRarLibrary() {
  const std::lock_guard<TLock> lock(LoadLock);
  if (!UnRarLib.Module) return;
  if (--LoadCount > 0) return;
  UnRarLib = TUnRarLibrary();  // frees the library
  LoadCount = 0;
}

bool IsUnRarLibraryLoaded() { return UnRarLib.Loaded; }

bool UnRarLibraryComplete() {
  return UnRarLib.Loaded && UnRarLib.RAROpenArchiveEx && UnRarLib.RARCloseArchive && UnRarLib.RARReadHeaderEx &&
         UnRarLib.RARProcessFileW && UnRarLib.RARGetDllVersion;
}
