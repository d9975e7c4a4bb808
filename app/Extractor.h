#pragma once
// One extractor per engine behind one interface: Quarn's zip reader, the 7-Zip
// engine (7z and the kinds of its all-format library) and the UnRAR library
// each extract one archive into a folder given to them, asking the walk that
// drives them, through IExtractHost, for everything the walk owns.
//
// The protocol, honoured alike by every extractor:
// - Folder. The walk makes the output folder before Extract and removes it
//   afterwards when it made it and nothing was written into it. The
//   extractor makes the folders it needs below it.
// - Names. Every item's path below the folder comes from Host.PathFor; an
//   empty answer skips the item (the host has said why, where there is
//   something to say).
// - Existing files. An item's file is made anew, replacing a file at its
//   path, when the item begins to be written. An item that fails, or is
//   being written when the user stops, leaves no file at its path: what was
//   written of it is removed.
// - Passwords. The walk asks the user, never an extractor. Extract is given
//   the password to use (maybe none). An archive that needs one and was
//   given none ends with Password = Cancelled; one whose password proved
//   wrong ends with Password = Wrong. The walk may then ask the user and
//   call Extract again with the answer: what was written before is written
//   again.
// - Volumes. A part of a set that is not where the set's name says is asked
//   for through Host.AskVolume while the extraction runs (the engine needs it
//   then); one not given is named as a problem.
// - Problems and notes. A problem says that something of the archive was not
//   extracted, and why; a note says something worth knowing that lost
//   nothing. Extract raises nothing: every failure is told, and the outcome
//   says how the extraction ended.
// - Room. An extractor that knows the sizes of the archive's files before it
//   writes any asks Host.RoomFor once, first.
// - Threads. Extract runs on a thread of the walk and may use Request.Threads
//   worker threads of its own. The host is called from the thread that
//   called Extract; Step, Stopping, FileWritten, DiskFull, Problem and Note also from
//   the engine's own threads.

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "Exception.h"
#include "PasswordState.h"
#include "ShellPaths.h"

// What the walk gives an extractor for one archive.
class IExtractHost {
 public:
  virtual ~IExtractHost() = default;
  // The path, relative to the request's folder, that the item named Name in
  // the archive ("/" or "\" between folders) is extracted to; Folder: the
  // item is a folder. Empty: the item is skipped. The rule keeps everything
  // inside the folder and off devices, and gives a file whose name is one
  // name on Windows with an earlier item's a name of its own; the host notes
  // renames and skips itself.
  virtual std::wstring PathFor(const std::wstring& Name, bool Folder) = 0;
  // The archive has come to Done of Total (in units of the extractor's own).
  // False once the user asked to stop: the extractor stops at its next safe
  // point, removing the file it was writing. Any thread may ask.
  virtual bool Step(uint64_t Done, uint64_t Total) = 0;
  // Whether the user asked to stop, without telling progress: for an
  // engine's own threads, which may ask as often as they like.
  virtual bool Stopping() = 0;
  // Asks the user where the part Missing of a volume set is. False when the
  // user gave none (or the walk is stopping); Found is the path given
  // otherwise.
  virtual bool AskVolume(const std::string& Missing, std::string& Found) = 0;
  // The archive's files take Bytes in all, as its format states their sizes.
  // False when they cannot fit where they go (the host said so): the
  // extractor writes nothing and ends Failed.
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
  std::string Folder;                      // the output folder; it exists
  std::string Password;                    // the password to use; empty: none
  IExtractHost* Host = nullptr;            // not owned
  // Worker threads the extractor may use (at least 1): the walk's share of
  // the processors for this archive.
  int Threads = 1;
};

enum class TExtractOutcome {
  Done,     // the archive was walked to its end (problems may have been told)
  Failed,   // the archive could not be read, or its extraction ended early (told)
  Stopped,  // the user asked to stop
};

struct TExtractResult {
  TExtractOutcome Outcome = TExtractOutcome::Done;
  // NotAsked: no password was needed; Given: the one given worked; Wrong: the
  // one given did not; Cancelled: one was needed and none was given.
  TPasswordState Password = TPasswordState::NotAsked;
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

// The walk's answers that the 7-Zip and the RAR extractors keep while their
// engine's component runs, and the lines both tell alike.
class TComponentAnswers {
 public:
  explicit TComponentAnswers(IExtractHost& Host) : FHost(Host) {}
  // Whether the archive's files, Size bytes as its headers state them, fit
  // where they go (the host says so when not).
  bool RoomFor(uint64_t Size) {
    Refused = !FHost.RoomFor(Size);
    return !Refused;
  }
  // The path of the part Missing of a volume set, asked for once (a
  // component may look for it more than once); "" when the user gave none,
  // which is named in the report.
  std::string PartFor(const std::string& Missing) {
    const auto known = FLocated.find(Missing);
    if (known != FLocated.end()) return known->second;
    std::string found;
    if (!FHost.AskVolume(Missing, found)) found.clear();
    if (found.empty()) {
      PartMissing = true;
      FHost.Problem(MissingPartText(Missing));
    }
    return FLocated[Missing] = found;
  }
  // After numbered pieces failed: when the last part found is as long as the
  // first, the part after it is what they lack, and it is named. True when
  // it was.
  bool TellPieceAfterLast(const std::string& Archive) {
    const std::string after = PartAfterLastOf(Archive);
    if (!after.empty()) FHost.Problem(MissingPartText(after));
    return !after.empty();
  }
  bool Refused = false;      // RoomFor said no
  bool PartMissing = false;  // a part asked for was not given

 private:
  IExtractHost& FHost;
  std::map<std::string, std::string> FLocated;
};

class IExtractor {
 public:
  virtual ~IExtractor() = default;
  // Extracts every item of Request.Archive below Request.Folder, as the
  // protocol above says. Raises nothing.
  virtual TExtractResult Extract(const TExtractRequest& Request) = 0;
  // What decoding the archive needs of the address space, as its headers
  // state it (a dictionary's size), in bytes; 0 when little or not known.
  // Reads the archive's headers only; raises nothing.
  virtual uint64_t DecoderMemory(const std::string& Archive, TArchiveKind Kind) {
    (void)Archive, (void)Kind;
    return 0;
  }
};

// Where the walk finds the extractor of each kind: the engines of the
// program, or scripted ones in tests.
class IExtractors {
 public:
  virtual ~IExtractors() = default;
  // The extractor of the engine that reads archives of Kind.
  virtual IExtractor& For(TArchiveKind Kind) = 0;
};
