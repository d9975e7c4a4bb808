#pragma once
// The engines of the Unzip walk, loaded once and held: the 7-Zip engine's 7z
// library (7za.dll) and all-format library (7z.dll), and the UnRAR library,
// with one extractor for each engine. A library that is missing is not an
// error here: each archive that needs it is reported by its extractor.
//
// The main window owns one holder for its life and hands it to every walk;
// tests make their own.

#include <memory>

#include "Extractor.h"
#include "Win32Kit.h"

class TEngines final : public IExtractors {
 public:
  TEngines();
  ~TEngines() override;
  TEngines(const TEngines&) = delete;
  TEngines& operator=(const TEngines&) = delete;

  // The extractor of the engine that reads archives of Kind (zip: Quarn's
  // own reader, RAR: the UnRAR library, any other kind: the 7-Zip engine).
  IExtractor& For(TArchiveKind Kind) override;

 private:
  // Members go in the reverse order: the extractors, then the libraries.
  TModule FSevenZip, FAllFormats;
  bool FUnRarHeld = false;
  // The zip extractor hands what it does not decode to FArchives.
  std::unique_ptr<IExtractor> FArchives, FZip, FRar;
};
