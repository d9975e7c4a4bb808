#pragma once
// One extractor per engine behind one interface: Quarn's zip reader, the 7-Zip
// engine (7z and the kinds of its all-format library) and the UnRAR library
// each extract one archive into a folder given to them, asking the walk that
// drives them for everything the walk owns: the rule for item names, progress
// and the user's wish to stop, the password and volume questions, and what to
// do with each file written. What goes wrong is told as problems (something
// was not extracted) and notes (something worth knowing); neither raises.

#include <cstdint>
#include <functional>
#include <string>

#include "Exception.h"
#include "PasswordState.h"
#include "ShellPaths.h"

// What the walk gives an extractor for one archive. An extractor calls it from
// the thread that called Extract, or (FileWritten only) from an engine's own
// threads; an implementation that serves several archives at once is
// thread-safe.
class IExtractHost {
 public:
  virtual ~IExtractHost() = default;
  // The path, relative to the request's folder, that the item named Name in
  // the archive ("/" or "\" between folders) is extracted to; empty: the item
  // is skipped. The rule keeps everything inside the folder and off devices;
  // the host notes renames and skips itself.
  virtual std::wstring PathFor(const std::wstring& Name) = 0;
  // The archive has come to Done of Total (in units of the extractor's own).
  // False once the user asked to stop: the extractor stops at its next safe
  // point, removing the file it was writing.
  virtual bool Step(uint64_t Done, uint64_t Total) = 0;
  // Asks the user for the archive's password (Retry: the one tried was
  // wrong). False when none was given.
  virtual bool AskPassword(bool Retry, std::string& Password) = 0;
  // Asks the user where the part Missing of a volume set is. False when the
  // user gave none; Found is the path given otherwise.
  virtual bool AskVolume(const std::string& Missing, std::string& Found) = 0;
  // The archive's files take Bytes in all, as its format states their sizes:
  // asked once, before the first file is written, by an extractor that knows
  // every file's size beforehand. False when they cannot fit where they go
  // (the host said so): the extractor writes nothing and ends Failed.
  virtual bool RoomFor(uint64_t Bytes) = 0;
  // A file was written out of the archive, complete, at Path.
  virtual void FileWritten(const std::wstring& Path) = 0;
  // Writing the file at Path failed because its volume is full: the
  // extractor removed it and ends Failed; the host says so.
  virtual void DiskFull(const std::wstring& Path) = 0;
  // Something of the archive was not extracted, and why.
  virtual void Problem(const std::string& Line) = 0;
  // Something worth knowing that lost nothing.
  virtual void Note(const std::string& Line) = 0;
};

struct TExtractRequest {
  std::string Archive;
  TArchiveKind Kind = TArchiveKind::None;  // as the archive's content shows
  std::string Folder;                      // the output folder, made already
  // Given when the archive asks for a password; empty: Host->AskPassword.
  std::string Password;
  IExtractHost* Host = nullptr;  // not owned
  // Worker threads the extractor may use besides its own (0: one per
  // processor): the walk's share of the processors for this archive.
  int Threads = 0;
};

enum class TExtractOutcome {
  Done,     // the archive was walked to its end (problems may have been told)
  Failed,   // the archive could not be read, or its extraction ended early (told)
  Stopped,  // the user asked to stop
};

struct TExtractResult {
  TExtractOutcome Outcome = TExtractOutcome::Done;
  TPasswordState Password = TPasswordState::NotAsked;
  // The password given to the archive, when one was (the caller wipes it).
  std::string PasswordUsed;
};

// Runs Body, an extractor's work on its result: the user's stop (EAbort)
// ends it Stopped; any other exception (a missing engine, a file that cannot
// be made) is a problem of the archive and ends it Failed.
inline TExtractResult GuardedExtraction(IExtractHost& Host, const std::function<void(TExtractResult&)>& Body) {
  TExtractResult result;
  try {
    Body(result);
  } catch (const EAbort&) {
    result.Outcome = TExtractOutcome::Stopped;
  } catch (const std::exception& e) {
    Host.Problem(GenericErrorText(ExceptionText(e)));
    result.Outcome = TExtractOutcome::Failed;
  }
  return result;
}

class IExtractor {
 public:
  virtual ~IExtractor() = default;
  // Extracts every item of Request.Archive below Request.Folder, replacing
  // files of the same names. Files of items that failed, or that were being
  // written when the extraction stopped, are removed. Raises nothing.
  virtual TExtractResult Extract(const TExtractRequest& Request) = 0;
};
