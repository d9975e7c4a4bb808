#pragma once
// What the UnRAR library does not say: an archive whose main header is
// damaged, or that ends inside a header or inside the data a header
// announces, is extracted by the library as far as it goes (often nothing)
// without a word. RarDamageOf walks the chain of headers of a RAR 4 or RAR 5
// archive (not their content) and names such damage in the library's own
// words. The same walk tells which file headers hold older versions of files
// (rar a -ver), which the library's records do not show.

#include <string>
#include <vector>

// "Main archive header is corrupt", "Unexpected end of archive", or empty
// when the chain of headers is whole (or cannot be walked here: encrypted
// headers are walked up to the encryption header, a self-extracting archive
// whose data do not start the file is not walked). Reads Path; empty when it
// cannot be read.
std::string RarDamageOf(const std::string& Path);

// One entry per file header of the archive file Path (one volume of a set),
// in the order of the chain, leaving out a file continued from the volume
// before: true for an older version of a file, which the library names
// "name;N" (N counting back from the latest). As far as the chain can be
// walked (see RarDamageOf); empty when Path cannot be read.
std::vector<bool> RarOlderVersions(const std::string& Path);
