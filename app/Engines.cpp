#include "Engines.h"

#include "Extractors.h"
#include "UnRarLib.h"

TEngines::TEngines()
    : FSevenZip(TModule::Load(L"7za.dll")),
      FAllFormats(TModule::Load(L"7z.dll")),
      FArchives(NewSevenZipExtractor()),
      FZip(NewZipExtractor(*FArchives)),
      FRar(NewRarExtractor()) {
  LoadUnRarLibrary();  // counted by the binding: matched in the destructor
  FUnRarHeld = IsUnRarLibraryLoaded();
}

TEngines::~TEngines() {
  FZip.reset();
  FArchives.reset();
  FRar.reset();
  if (FUnRarHeld) UnloadUnRarLibrary();
}

IExtractor& TEngines::For(TArchiveKind Kind) {
  switch (Kind) {
    case TArchiveKind::Zip: return *FZip;
    case TArchiveKind::Rar: return *FRar;
    default: return *FArchives;
  }
}
