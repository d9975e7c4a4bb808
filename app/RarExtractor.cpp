// The RAR extractor: the UnRAR library through the RAR component.

#include <map>

#include "Exception.h"
#include "Extractors.h"
#include "Files.h"
#include "Text.h"
#include "UnRar.h"

namespace {

class TRarExtractor final : public IExtractor {
 public:
  TExtractResult Extract(const TExtractRequest& Request) override {
    IExtractHost& host = *Request.Host;
    TExtractResult result;
    try {
      Run(Request, host, result);
    } catch (const EAbort&) {
      result.Outcome = TExtractOutcome::Stopped;
    } catch (const std::exception& e) {
      host.Problem(GenericErrorText(ExceptionText(e)));
      result.Outcome = TExtractOutcome::Failed;
    }
    return result;
  }

 private:
  void Run(const TExtractRequest& Request, IExtractHost& host, TExtractResult& result) {
    // Owned by this extraction and released when it ends.
    TComponent owner(nullptr);
    const auto component = std::make_unique<TUnRar>(&owner);
    component->FileName = Request.Archive;
    ForceDirectories(Request.Folder);
    component->Directory = Request.Folder + "\\";
    component->SetMode(UNRAR_EXTRACT);
    component->OverrideEvent = OR_ALWAYS;
    component->CanProgress = true;  // a quick listing gives the total for the progress
    component->PathRule = [&host](const std::wstring& Name) { return host.PathFor(Name); };
    component->OnFileWritten = [&host](TUnRar*, const std::wstring& File) { host.FileWritten(File); };
    // Nothing is started that cannot fit (the walk says so).
    bool refused = false;
    component->OnUnpackedSize = [&](TUnRar*, uint64_t Size) { return !(refused = !host.RoomFor(Size)); };
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
      if (!host.Step(Done, Total)) stopped = Sender->StopProcessing = true;
    };
    std::string typed;  // what the user gave when the component asked
    component->OnPassword = [&](TUnRar*, std::string& Password) {
      host.AskPassword(false, Password);
      typed = Password;
    };
    // A missing volume is asked for, once: the counting pass and the
    // extraction each look for it. An empty name gives it up.
    std::map<std::string, std::string> located;
    component->OnVolChange = [&host, &located](TUnRar*, std::string& Name, int32_t) {
      const auto known = located.find(Name);
      if (known != located.end()) {
        Name = known->second;
        return;
      }
      std::string found;
      if (!host.AskVolume(Name, found)) found.clear();
      located[Name] = found;
      Name = found;
    };
    component->Password = Request.Password;
    component->ProcessArchive();
    result.PasswordUsed = Request.Password.empty() ? typed : Request.Password;
    Wipe(component->Password);
    Wipe(typed);
    result.Password = component->PasswordState();
    if (stopped)
      result.Outcome = TExtractOutcome::Stopped;
    else if (failed || refused)
      result.Outcome = TExtractOutcome::Failed;
  }

};
}  // namespace

std::unique_ptr<IExtractor> NewRarExtractor() { return std::make_unique<TRarExtractor>(); }
