// The zip extractor: Quarn's streamed zip reader, members inflated and written
// on worker threads, names decoded by the zip format's own rules.

#include <deque>
#include <set>

#include "Exception.h"
#include "Extractors.h"
#include "Files.h"
#include "Text.h"
#include "ZipCrypto.h"
#include "ZipNames.h"
#include "ZipReader.h"

namespace {
const char kCutAway[] = "\"%s\" cannot be extracted: its data lie in a part of the archive that this file lacks.";
const char kNoMembers[] = "it holds no members; nothing was extracted.";
const char kDirectoryDamaged[] = "its directory is damaged; its members were read from their local headers.";
const char kOverlap[] = "its members overlap one another, as in a zip bomb: %d members were not extracted.";
const char kOtherName[] = "\"%s\" (so its directory names it) was extracted as \"%s\", the name its local header gives.";

bool IsFolderName(const std::string& Name) { return !Name.empty() && (Name.back() == '/' || Name.back() == '\\'); }

std::string NameOf(const TZipEntry& Entry) {
  return DecodeZipName(Entry.Name, Entry.Flags, Entry.Extra, Entry.VersionMadeBy);
}

class TZipExtractor final : public IExtractor {
 public:
  TExtractResult Extract(const TExtractRequest& Request) override {
    IExtractHost& host = *Request.Host;
    TExtractResult result;
    std::string member, path;  // the member whose failure ended the extraction, and its file
    try {
      // Read through the central directory, or without a sound one by
      // walking the local headers.
      TZipReader zip(Request.Archive);
      if (zip.DirectoryDamaged()) host.Problem(kDirectoryDamaged);
      // Members that share their data, as a zip bomb's do, are not extracted
      // (nor those after them); the ones before are.
      const size_t overlapping = zip.MembersFromOverlap().size();
      if (overlapping > 0) {
        host.Problem(Format(kOverlap, static_cast<int>(overlapping)));
        result.Outcome = TExtractOutcome::Failed;
      }
      // The directory states every member's size: nothing is started that
      // cannot fit.
      if (zip.UsesCentralDirectory() && !host.RoomFor(zip.StatedSize())) {
        result.Outcome = TExtractOutcome::Failed;
        return result;
      }
      zip.Password = Request.Password;
      zip.OnProgress = [&host](const TZipProgress& p) { return host.Step(p.BytesDone, p.BytesTotal); };
      result.PasswordUsed = Request.Password;
      try {
        ExtractAll(zip, Request, host, member, path);
      } catch (const EZipPasswordError&) {
        // No password, or a wrong one: the walk asks (again); the members
        // before the encrypted one are out already.
        Wipe(zip.Password);
        result.Password = TPasswordState::Wrong;
        return result;
      }
      Wipe(zip.Password);
      result.Password = Request.Password.empty() ? TPasswordState::NotAsked : TPasswordState::Given;
    } catch (const EAbort&) {
      result.Outcome = TExtractOutcome::Stopped;
    } catch (const std::exception& e) {
      const auto* write = dynamic_cast<const EWriteError*>(&e);
      if (write != nullptr && IsDiskFullCode(write->SystemCode) && !path.empty()) {
        host.DiskFull(AnsiToWide(path));  // its file was removed
      } else {
        // The error names the member when it does not itself.
        const std::string text = GenericErrorText(ExceptionText(e));
        const bool named = member.empty() || text.find("\"" + member + "\"") != std::string::npos;
        host.Problem((named ? "" : "\"" + member + "\": ") + text);
      }
      result.Outcome = TExtractOutcome::Failed;
    }
    return result;
  }

 private:
  // Extracts every member; a member that fails ends the extraction with its
  // error (its name in Member, its file in Path), the files before it staying.
  static void ExtractAll(TZipReader& Zip, const TExtractRequest& Request, IExtractHost& Host, std::string& Member,
                         std::string& Path) {
    std::set<std::string> folders;  // made in this extraction
    const auto makeFolder = [&folders](const std::string& Folder) {
      if (folders.insert(Folder).second) ForceDirectories(Folder);
    };
    // Names are decided and folders made here, in archive order. The output
    // folder is made with the first member: an archive without members
    // leaves none.
    const auto decide = [&](const TZipEntry& Entry) -> std::string {
      const std::string name = NameOf(Entry);
      makeFolder(Request.Folder);
      const std::string relative = WideToAnsi(Host.PathFor(AnsiToWide(name)));
      if (relative.empty()) return "";
      const size_t cut = relative.find_last_of('\\');
      if (IsFolderName(name)) {
        makeFolder(Request.Folder + "\\" + relative);
        return "";
      }
      if (cut != std::string::npos) makeFolder(Request.Folder + "\\" + relative.substr(0, cut));
      return Request.Folder + "\\" + relative;
    };
    // The reader asks for the paths in archive order (a few members ahead of
    // their outcomes) and tells the outcomes in that order too.
    std::deque<std::string> paths;
    const TZipReader::TPathFor pathFor = [&](const TZipEntry& Entry) {
      paths.push_back(decide(Entry));
      return paths.back();
    };
    size_t offered = 0;
    const TZipReader::TMemberDone done = [&](const TZipEntry& Entry, const std::exception_ptr& Error) {
      ++offered;
      const std::string path = paths.front();
      paths.pop_front();
      // Read past a damaged directory, a member may carry another name in
      // its local header than the directory gives it.
      const TZipEntry* listed = Zip.DirectoryDamaged() ? Zip.DirectoryEntryAt(Entry.LocalHeaderOffset) : nullptr;
      if (listed != nullptr && NameOf(*listed) != NameOf(Entry))
        Host.Problem(Format(kOtherName, NameOf(*listed).c_str(), NameOf(Entry).c_str()));
      if (Error) {
        Member = NameOf(Entry);
        Path = path;
        std::rethrow_exception(Error);
      }
      if (!path.empty()) Host.FileWritten(AnsiToWide(path));
    };
    Zip.ExtractAll(pathFor, done, Request.Threads);
    // Nothing is lost without a word: members the directory lists but the
    // file lacks are named, and so is an archive that gave nothing at all.
    for (const TZipEntry& entry : Zip.MissingMembers()) Host.Problem(WithName(kCutAway, NameOf(entry)));
    if (offered == 0 && Zip.MissingMembers().empty() && Zip.MembersFromOverlap().empty()) Host.Problem(kNoMembers);
  }
};
}  // namespace

std::unique_ptr<IExtractor> NewZipExtractor() { return std::make_unique<TZipExtractor>(); }
