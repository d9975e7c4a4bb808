#pragma once
// The three extractors of Extractor.h, one per engine. The 7z and RAR ones
// create their engine's component for each archive, owned by Owner (not
// owned; it must outlive the extractor).

#include <memory>

#include "Extractor.h"

class TComponent;

// Quarn's own zip reader; a zip it does not decode whole goes to Engine (the
// 7-Zip engine's extractor, not owned; it must outlive this one).
std::unique_ptr<IExtractor> NewZipExtractor(IExtractor& Engine);
// The 7-Zip engine: 7z through 7za.dll, every other kind of its all-format
// library (7z.dll) by the request's kind, zip included (its zip handler).
std::unique_ptr<IExtractor> NewSevenZipExtractor(TComponent* Owner);
// The UnRAR library.
std::unique_ptr<IExtractor> NewRarExtractor(TComponent* Owner);
