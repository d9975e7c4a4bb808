// The 7-Zip engine's extractor: 7z archives through 7za.dll, every other kind
// of the engine's all-format library (7z.dll) by its format number.

#include "Exception.h"
#include "Extractors.h"
#include "Files.h"
#include "SevenZip.h"
#include "Text.h"

namespace {
const char kExtractResult[] = "extraction failed (result %d).";

class TSevenZipExtractor final : public IExtractor {
 public:
  TExtractResult Extract(const TExtractRequest& Request) override { return ExtractChosen(Request, nullptr); }

  uint64_t DecoderMemory(const std::string& Archive, TArchiveKind Kind) override {
    // What decodes with a dictionary of its own: 7z, xz and lzma (a zip's
    // methods take little).
    if (Kind != TArchiveKind::SevenZip && Kind != TArchiveKind::Xz && Kind != TArchiveKind::Lzma) return 0;
    try {
      TComponent owner(nullptr);
      const auto component = ComponentFor(owner, Kind);
      component->SZFileName = AnsiToWide(Archive);
      // Only the headers there are are read: a missing part of a set is not
      // asked for here (the extraction asks), nor a password.
      component->OnOpenVolume = [](std::wstring&, bool, bool& Cancel) { Cancel = true; };
      component->OnPassword = [](TComponent*, std::wstring&) { return false; };
      return DictionaryOfMethods(component->ArchiveMethods());
    } catch (const std::exception&) {
      return 0;  // the extraction says what is wrong
    }
  }

  // Extract, with only the items Choose picks when it is given.
  static TExtractResult ExtractChosen(const TExtractRequest& Request, const TChooseItemsEvent& Choose) {
    return GuardedExtraction(*Request.Host,
                             [&](TExtractResult& Result) { Run(Request, *Request.Host, Choose, Result); });
  }

 private:
  // The engine's component for archives of Kind: 7za.dll for 7z, the
  // all-format library's handler for every other kind. Raises when the
  // engine is missing.
  static std::unique_ptr<TSevenZip> ComponentFor(TComponent& Owner, TArchiveKind Kind) {
    if (Kind == TArchiveKind::SevenZip) return std::make_unique<TSevenZip>(&Owner);
    const uint8_t format = Kind == TArchiveKind::Zip ? kFormatZip : KindInfo(Kind).EngineFormat;
    return std::make_unique<TSevenZip>(&Owner, L"7z.dll", format);
  }

  static void Run(const TExtractRequest& Request, IExtractHost& host, const TChooseItemsEvent& Choose,
                  TExtractResult& result) {
    const TArchiveKindInfo& info = KindInfo(Request.Kind);
    // Owned by this extraction (several run at a time, each on its own
    // thread) and released when it ends; a missing engine raises here.
    TComponent owner(nullptr);
    const auto component = ComponentFor(owner, Request.Kind);
    component->UnwrapTarball = info.Compressor;
    component->DefaultItemName = AnsiToWide(CompressedItemName(Request.Archive));
    component->ExtrBaseDir = AnsiToWide(Request.Folder + "\\");
    component->ExtractOptions = ExtractOverwrite;
    component->SZFileName = AnsiToWide(Request.Archive);
    component->PathRule = [&host](const std::wstring& Name, bool Folder) { return host.PathFor(Name, Folder); };
    component->OnFileWritten = [&host](TComponent*, const std::wstring& File) { host.FileWritten(File); };
    bool stopped = false;
    bool failed = false;
    // A set of pieces that cannot be opened is told by the part it lacks,
    // when one is missing.
    const bool pieces = SetPartOf(Request.Archive).Scheme == TSetScheme::Numbered;
    std::string notOpened;
    component->OnMessage = [&](TComponent*, int32_t Code, const std::string& Message, const std::wstring& File) {
      if (Code == SZ_USER_CANCELED && component->CancelRequested) return;  // the walk says so itself
      failed = true;
      if (Code == SZ_FILE_NOT_FOUND && pieces) {
        notOpened = File.empty() ? Message : Message + " (" + WideToAnsi(File) + ")";
        return;
      }
      if (Code == SZ_DISK_FULL)
        host.DiskFull(File);
      else
        host.Problem(File.empty() ? Message : Message + " (" + WideToAnsi(File) + ")");
    };
    // Nothing is started that cannot fit (the walk says so).
    TComponentAnswers answers(host);
    component->OnUnpackedSize = [&answers](TComponent*, uint64_t Size) { return answers.RoomFor(Size); };
    component->OnChooseItems = Choose;
    uint64_t total = 0;
    component->OnPreProgress = [&total](TComponent*, int64_t Max) { total = static_cast<uint64_t>(Max); };
    component->OnProgress = [&](TComponent*, const std::wstring&, int64_t Done, int64_t) {
      if (!host.Step(static_cast<uint64_t>(Done), total)) {
        stopped = true;
        component->CancelRequested = true;
      }
    };
    // The engine's own threads see a stop too, whichever of them works.
    component->StopWanted = [&host] { return host.Stopping(); };
    // The walk asks for passwords between runs: without one, the engine stops
    // at the first item that needs it.
    component->OnPassword = [](TComponent*, std::wstring&) { return false; };
    // A part of a set that is not where the set's name says is asked for;
    // one the user does not give is named in the report.
    component->OnOpenVolume = [&answers](std::wstring& Name, bool, bool& Cancel) {
      const std::string found = answers.PartFor(WideToAnsi(Name));
      Cancel = found.empty();
      if (!Cancel) Name = AnsiToWide(found);
    };
    component->Password = AnsiToWide(Request.Password);
    const int32_t code = component->Extract(false);
    Wipe(component->Password);
    result.Password = component->PasswordState();
    stopped = stopped || (code != 0 && component->CancelRequested);
    if (stopped) {
      result.Outcome = TExtractOutcome::Stopped;
    } else if (code != 0) {
      if (!failed && !answers.Refused) host.Problem(Format(kExtractResult, static_cast<int>(code)));
      result.Outcome = TExtractOutcome::Failed;
    }
    // Pieces that failed after a last part as long as the first: the part
    // after it is what they lack.
    const bool lacking =
        (failed || code != 0) && !stopped && !answers.PartMissing && answers.TellPieceAfterLast(Request.Archive);
    if (!answers.PartMissing && !lacking && !notOpened.empty()) host.Problem(notOpened);
  }
};
}  // namespace

std::unique_ptr<IExtractor> NewSevenZipExtractor() { return std::make_unique<TSevenZipExtractor>(); }

TExtractResult ExtractChosenItems(const TExtractRequest& Request, const TChooseItemsEvent& Choose) {
  return TSevenZipExtractor::ExtractChosen(Request, Choose);
}
