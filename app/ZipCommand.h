#pragma once
// The Zip command without its window: the files of a list are packed in order
// into one new zip archive.

#include <string>
#include <vector>

#include "Commands.h"

struct TZipResult {
  size_t Added = 0;      // files packed, from the first
  bool Stopped = false;  // the user stopped the command before the last file
  // Files stored under a name of their own since another file of the list
  // had their name (file, member name); see TZipWriter::Renamed.
  std::vector<std::pair<std::string, std::string>> Renamed;
};

// Packs Files, in order, into the zip archive Target, writing each file once
// (ZipDiskFiles: deflated on worker threads, written beside Target and put in
// place when complete, never over an existing file). A failure part-way
// raises; Target then holds a valid archive of the files added before it.
// When the progress sink says the user wants to stop, the command stops
// at the file being added: Target holds the files added before it.
TZipResult RunZipCommand(const std::vector<std::string>& Files, const std::string& Target, IProgressSink& Progress);
