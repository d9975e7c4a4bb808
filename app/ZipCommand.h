#pragma once
// The Zip command without its window: the files of a list are packed in order
// into one new zip archive.

#include <string>
#include <vector>

#include "Commands.h"

// Packs Files, in order, into the zip archive Target. A failure part-way
// raises; Target then holds a valid archive of the files added before it.
void RunZipCommand(const std::vector<std::string>& Files, const std::string& Target, IProgressSink& Progress);
