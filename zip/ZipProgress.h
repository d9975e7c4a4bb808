#pragma once
// The progress hook of the zip engine's long jobs (extracting an archive,
// writing one).

#include <cstdint>
#include <functional>
#include <string>

struct TZipProgress {
  uint64_t BytesDone = 0;   // of the whole job
  uint64_t BytesTotal = 0;  // of the whole job; grows only if the job learns more
  std::string Member;       // the member being read or written, as stored
};

// Called on the thread that runs the job, at the start of each member and
// after every chunk of work (a few hundred KB, at least every ~100 ms of
// work), so a caller can pump its window messages from it. Returning false
// stops the job cleanly: it raises EAbort after tidying up (an extraction
// removes the member it was writing; a writer keeps the members it finished).
using TZipProgressHook = std::function<bool(const TZipProgress&)>;
