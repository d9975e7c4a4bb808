#pragma once
// The three extractors of Extractor.h, one per engine. Each may extract
// several archives at once, on the callers' threads; the 7z and RAR ones
// create their engine's component for each archive.

#include <memory>

#include "Extractor.h"
#include "SevenZipEvents.h"

// Quarn's own zip reader; a zip it does not decode whole goes to Engine (the
// 7-Zip engine's extractor, not owned; it must outlive this one).
std::unique_ptr<IExtractor> NewZipExtractor(IExtractor& Engine);
// The 7-Zip engine: 7z through 7za.dll, every other kind of its all-format
// library (7z.dll) by the request's kind, zip included (its zip handler).
std::unique_ptr<IExtractor> NewSevenZipExtractor();
// The 7-Zip engine's extractor on Request, extracting only the items Choose
// picks by their places in the file (see TChooseItemsEvent).
TExtractResult ExtractChosenItems(const TExtractRequest& Request, const TChooseItemsEvent& Choose);
// The UnRAR library. Its archives must take turns: the library keeps the
// state of its errors for the whole process.
std::unique_ptr<IExtractor> NewRarExtractor();
