// The RAR extractor: the UnRAR library through the RAR component.

#include <windows.h>

#include <algorithm>
#include <vector>

#include "Exception.h"
#include "Extractors.h"
#include "Files.h"
#include "RarHeaders.h"
#include "RarPieces.h"
#include "Text.h"
#include "UnRar.h"
#include "Win32Kit.h"

namespace {
const char kJoinFailed[] = "its parts cannot be joined in \"%s\" (error %lu).";

// The numbered pieces of a RAR archive, joined into one file (the library
// reads an archive only from a file of its own) in the output folder, where
// the extraction needs the room anyway; removed when the extraction is over.
class TJoinedPieces {
 public:
  ~TJoinedPieces() {
    if (!Path.empty()) RemoveFile(AnsiToWide(Path));
  }
  std::string Path;

  // Joins the pieces of First into Folder; a piece that is not there is asked
  // for, and one not given is named. False when the pieces are not all
  // joined (told) or the user stopped (Stopped). A piece that cannot be
  // opened or read raises the file layer's error, which names it and the
  // system's reason.
  bool Join(const std::string& First, const std::string& Folder, IExtractHost& Host, bool& Stopped) {
    const TSetPart set = SetPartOf(First);
    const std::vector<uint32_t> numbers = PieceNumbersOf(set.Name);
    const uint32_t count = numbers.empty() ? 1 : numbers.back();
    std::vector<std::string> parts;
    uint64_t total = 0;
    for (uint32_t n = 1; n <= count; ++n) {
      std::string part = PieceOf(set.Name, n);
      if (!FileExists(part)) {
        std::string found;
        if (!Host.AskVolume(part, found) || !FileExists(found)) {
          Host.Problem(MissingPartText(part));
          return false;
        }
        part = found;
      }
      total += FileSizeOf(part);
      parts.push_back(part);
    }
    ForceDirectories(Folder);
    Path = Folder + "\\.quarn-joined-" + std::to_string(GetCurrentProcessId()) + ".rar";
    const THandle out(CreateFileW(LongPathForm(AnsiToWide(Path)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!out) {
      Host.Problem(Format(kJoinFailed, Folder.c_str(), GetLastError()));
      Path.clear();
      return false;
    }
    uint64_t done = 0;
    bool written = true;
    const bool whole = ReadPieces(parts, [&](const char* Data, size_t Size) {
      DWORD count = 0;
      if (!WriteFile(out.Get(), Data, static_cast<DWORD>(Size), &count, nullptr) || count != Size) {
        Host.Problem(Format(kJoinFailed, Folder.c_str(), GetLastError()));
        return written = false;
      }
      done += Size;
      // The joining is the first half of the way.
      return Host.Step(done, 2 * total);
    });
    Stopped = !whole && written;
    return whole;
  }
};

class TRarExtractor final : public IExtractor {
 public:
  TExtractResult Extract(const TExtractRequest& Request) override {
    return GuardedExtraction(*Request.Host, [&](TExtractResult& Result) { Run(Request, *Request.Host, Result); });
  }

 private:
  void Run(const TExtractRequest& Request, IExtractHost& host, TExtractResult& result) {
    std::string archive = Request.Archive;
    TJoinedPieces joined;
    const bool pieces = SetPartOf(archive).Scheme == TSetScheme::Numbered;
    if (pieces) {
      bool stopped = false;
      if (!joined.Join(archive, Request.Folder, host, stopped)) {
        result.Outcome = stopped ? TExtractOutcome::Stopped : TExtractOutcome::Failed;
        return;
      }
      archive = joined.Path;
    }
    // What the library would not say of a damaged archive.
    const std::string damage = RarDamageOf(archive);
    if (!damage.empty()) host.Problem(damage);
    // Owned by this extraction and released when it ends.
    TComponent owner(nullptr);
    const auto component = std::make_unique<TUnRar>(&owner);
    component->FileName = archive;
    component->Directory = Request.Folder + "\\";
    component->SetMode(UNRAR_EXTRACT);
    component->OverrideEvent = OR_ALWAYS;
    component->CanProgress = true;  // a quick listing gives the total for the progress
    component->PathRule = [&host](const std::wstring& Name, bool Folder) { return host.PathFor(Name, Folder); };
    component->OnFileWritten = [&host](TUnRar*, const std::wstring& File) { host.FileWritten(File); };
    // Unpacking and writing overlap: the component writes on a thread of its own.
    component->WriteInBackground = true;
    bool full = false;
    component->OnDiskFull = [&](TUnRar*, const std::wstring& File) {
      full = true;
      host.DiskFull(File);
    };
    // Nothing is started that cannot fit (the walk says so).
    TComponentAnswers answers(host);
    component->OnUnpackedSize = [&answers](TUnRar*, uint64_t Size) { return answers.RoomFor(Size); };
    // Everything the component reports (a missing library included) is a
    // problem of the archive. Password failures are the walk's own to report.
    bool failed = false;
    component->OnError = [&](TUnRar*, const std::string& Message, int32_t Code) {
      if (Code == ERAR_MISSING_PASSWORD || Code == ERAR_BAD_PASSWORD) return;
      failed = true;
      host.Problem(Message);
    };
    bool stopped = false;
    component->OnDataProgress = [&](TUnRar* Sender, uint64_t Done, uint64_t Total) {
      // After joining pieces, the second half of the way.
      const bool going = pieces ? host.Step(Total + Done, 2 * Total) : host.Step(Done, Total);
      if (!going) stopped = Sender->StopProcessing = true;
    };
    // The walk asks for passwords between runs: without one, the library
    // stops at the first file that needs it.
    component->OnPassword = [](TUnRar*, std::string&) {};
    // A missing volume is asked for once (the counting pass and the
    // extraction each look for it); an empty name gives it up.
    component->OnVolChange = [&answers](TUnRar*, std::string& Name, int32_t) { Name = answers.PartFor(Name); };
    component->Password = Request.Password;
    component->ProcessArchive();
    Wipe(component->Password);
    result.Password = component->PasswordState();
    if (stopped)
      result.Outcome = TExtractOutcome::Stopped;
    else if (failed || answers.Refused || full || !damage.empty())
      result.Outcome = TExtractOutcome::Failed;
    // Pieces that failed after a last part as long as the first: the part
    // after it is what they lack.
    if (pieces && result.Outcome == TExtractOutcome::Failed) answers.TellPieceAfterLast(Request.Archive);
  }
};
}  // namespace

std::unique_ptr<IExtractor> NewRarExtractor() { return std::make_unique<TRarExtractor>(); }
