// The zip extractor: Quarn's streamed zip reader, members inflated and written
// on worker threads, names decoded by the zip format's own rules. A zip this
// reader cannot decode whole (members of other methods, a set of pieces or a
// spanned zip) goes, whole, to the 7-Zip engine's zip handler.

#include <algorithm>
#include <deque>
#include <map>
#include <set>

#include "Exception.h"
#include "Extractors.h"
#include "Files.h"
#include "Streams.h"
#include "Text.h"
#include "ZipCrypto.h"
#include "ZipNames.h"
#include "ZipReader.h"

namespace {
const char kCutAway[] = "\"%s\" cannot be extracted: its data lie in a part of the archive that this file lacks.";
const char kNoMembers[] = "it holds no members; nothing was extracted.";
const char kDirectoryDamaged[] = "its directory is damaged; its members were read from their local headers.";
const char kOverlap[] = "its members overlap one another, as in a zip bomb: %d members were not extracted.";
const char kOtherName[] =
    "\"%s\" (so its directory names it) was extracted as \"%s\", the name its local header gives.";
const char kEncryptedDirectory[] =
    "its central directory is encrypted (PKWARE's strong encryption), which Quarn cannot read; nothing was extracted.";

bool IsFolderName(const std::string& Name) { return !Name.empty() && (Name.back() == '/' || Name.back() == '\\'); }

// Whether this reader decodes the member: stored or deflated, plain or
// encrypted the traditional way or with WinZip AES.
bool Decodes(const TZipEntry& Entry) {
  if ((Entry.Flags & kZipFlagEncrypted) && (Entry.Flags & kZipFlagStrongEncryption)) return false;
  uint16_t method = Entry.Method;
  if (method == kZipMethodWinZipAes) {
    try {
      method = ZipEncryptionOf(Entry.Name, Entry.Flags, Entry.Method, Entry.CRC32, Entry.LastModDateTime, Entry.Extra)
                   .Method;
    } catch (const std::exception&) {
      return true;  // a damaged AES field: this reader names it
    }
  }
  return method == kMethodStored || method == kMethodDeflated;
}

enum class TDecoder { Quarn, SevenZip, Nobody };

// Who extracts the zip Zip reads: this reader when it decodes every member,
// the 7-Zip engine when it does not; nobody when the directory is encrypted.
// Without a sound directory, the local headers tell, as far as they can be
// walked.
TDecoder DecoderOf(const TZipReader& Zip, const std::string& Path) {
  std::vector<TZipEntry> walked;
  if (!Zip.UsesCentralDirectory()) {
    try {
      TZipReader walk(Path);
      while (walk.Next()) walked.push_back(walk.Entry());
    } catch (const std::exception&) {
      // The extraction meets the damage and tells it.
    }
  }
  const std::vector<TZipEntry>& entries = Zip.UsesCentralDirectory() ? Zip.Index() : walked;
  for (const TZipEntry& entry : entries)
    if (entry.HasMaskedHeaders()) return TDecoder::Nobody;
  for (const TZipEntry& entry : entries)
    if (!Decodes(entry)) return TDecoder::SevenZip;
  return TDecoder::Quarn;
}

std::string NameOf(const TZipEntry& Entry) {
  return DecodeZipName(Entry.Name, Entry.Flags, Entry.Extra, Entry.VersionMadeBy);
}

class TZipExtractor final : public IExtractor {
 public:
  explicit TZipExtractor(IExtractor& Engine) : FEngine(Engine) {}

  TExtractResult Extract(const TExtractRequest& Request) override {
    // The 7-Zip engine reads across the files of a set.
    try {
      if (SetPartOf(Request.Archive).Scheme == TSetScheme::Numbered || IsSpannedZipEnd(Request.Archive))
        return FEngine.Extract(Request);
    } catch (const std::exception&) {
      // Unreadable here: the reader below names the failure.
    }
    return GuardedExtraction(*Request.Host, [&](TExtractResult& Result) { Run(Request, Result); });
  }

 private:
  // Extracts the zip, or has the 7-Zip engine extract what it may of it.
  static void Run(const TExtractRequest& Request, TExtractResult& Result) {
    IExtractHost& host = *Request.Host;
    // Read through the central directory, or without a sound one by walking
    // the local headers.
    TZipReader zip(Request.Archive);
    // Decided before anything is written: the whole archive goes one way.
    switch (DecoderOf(zip, Request.Archive)) {
      case TDecoder::SevenZip: Result = ToEngine(zip, Request); return;
      case TDecoder::Nobody:
        host.Problem(kEncryptedDirectory);
        Result.Outcome = TExtractOutcome::Failed;
        return;
      case TDecoder::Quarn: break;
    }
    if (zip.DirectoryDamaged()) host.Note(kDirectoryDamaged);
    // Members that share their data, as a zip bomb's do, are not extracted
    // (nor those after them); the ones before are.
    const size_t overlapping = zip.MembersFromOverlap().size();
    if (overlapping > 0) {
      host.Problem(Format(kOverlap, static_cast<int>(overlapping)));
      Result.Outcome = TExtractOutcome::Failed;
    }
    // The directory states every member's size: nothing is started that
    // cannot fit.
    if (zip.UsesCentralDirectory() && !host.RoomFor(zip.StatedSize())) {
      Result.Outcome = TExtractOutcome::Failed;
      return;
    }
    zip.Password = Request.Password;
    zip.OnProgress = [&host](const TZipProgress& p) { return host.Step(p.BytesDone, p.BytesTotal); };
    std::string member, path;  // the member whose failure ended the extraction, and its file
    try {
      ExtractAll(zip, Request, host, member, path);
    } catch (const EZipPasswordError&) {
      // No password, or a wrong one: the walk asks (again); the members
      // before the encrypted one are out already.
      Wipe(zip.Password);
      Result.Password = Request.Password.empty() ? TPasswordState::Cancelled : TPasswordState::Wrong;
      return;
    } catch (const EAbort&) {
      throw;
    } catch (const EWriteError& e) {
      if (!IsDiskFullCode(e.SystemCode) || path.empty()) throw;
      host.DiskFull(AnsiToWide(path));  // its file was removed
      Result.Outcome = TExtractOutcome::Failed;
      return;
    } catch (const std::exception& e) {
      // The error names the member when it does not itself.
      const std::string text = GenericErrorText(ExceptionText(e));
      if (member.empty() || text.find("\"" + member + "\"") != std::string::npos) throw;
      throw Exception("\"" + member + "\": " + text);
    }
    Wipe(zip.Password);
    if (!Request.Password.empty()) Result.Password = TPasswordState::Given;
  }

 private:
  IExtractor& FEngine;  // the 7-Zip engine's extractor, for what this one does not decode

  // Hands Zip, which this reader does not decode, to the 7-Zip engine, which
  // gets only the members that pass the overlap check, as this reader
  // extracts them: the engine's items up to the first whose data run into
  // another's local header (by the places the engine reads them from, so
  // that a directory this reader did not use cannot bring a bomb in), and,
  // when this reader's directory found members that overlap, only the ones
  // before them (where the directory puts them, with the same packed sizes).
  // What is left out is told as this reader tells it.
  static TExtractResult ToEngine(const TZipReader& Zip, const TExtractRequest& Request) {
    std::map<uint64_t, uint64_t> passed;  // local header offset -> compressed size
    const bool cut = !Zip.MembersFromOverlap().empty();
    for (const TZipEntry& entry : Zip.Index()) passed[entry.LocalHeaderOffset] = entry.CompressedSize;
    IExtractHost& host = *Request.Host;
    bool left = false;  // members were left out
    TExtractResult result =
        ExtractChosenItems(Request, [&](const std::vector<TItemPlace>& Places, std::vector<uint32_t>& Chosen) {
          // Items whose place the engine does not state are not extracted.
          std::vector<uint32_t> known;
          std::vector<TMemberExtent> extents;
          for (uint32_t i = 0; i < Places.size(); ++i)
            if (Places[i].Known) {
              known.push_back(i);
              extents.push_back({Places[i].Offset, Places[i].PackSize, 0});
            }
          TFileStream file(Request.Archive, fmOpenRead | fmShareDenyWrite);
          const size_t first = FirstOverlappingMember(extents, UINT64_MAX, [&file](uint64_t At, TLocalFile& Header) {
            uint8_t h[kLocalHeaderSize];
            if (file.Seek(static_cast<int64_t>(At), TSeekOrigin::soBeginning) != static_cast<int64_t>(At) ||
                file.Read(h, sizeof h) != static_cast<int64_t>(sizeof h))
              return false;
            ParseLocalHeader(h, Header);
            return true;
          });
          for (size_t k = 0; k < first; ++k) {
            const TItemPlace& place = Places[known[k]];
            const auto member = passed.find(place.Offset);
            if (!cut || (member != passed.end() && member->second == place.PackSize)) Chosen.push_back(known[k]);
          }
          left = Chosen.size() < Places.size();
          if (left) host.Problem(Format(kOverlap, static_cast<int>(Places.size() - Chosen.size())));
        });
    if (left && result.Outcome == TExtractOutcome::Done) result.Outcome = TExtractOutcome::Failed;
    return result;
  }

  // Extracts every member; a member that fails ends the extraction with its
  // error (its name in Member, its file in Path), the files before it staying.
  static void ExtractAll(TZipReader& Zip, const TExtractRequest& Request, IExtractHost& Host, std::string& Member,
                         std::string& Path) {
    std::set<std::string> folders;  // made in this extraction
    const auto makeFolder = [&folders](const std::string& Folder) {
      if (folders.insert(Folder).second) ForceDirectories(Folder);
    };
    // Names are decided and folders made here, in archive order.
    const auto decide = [&](const TZipEntry& Entry) -> std::string {
      const std::string name = NameOf(Entry);
      const bool folder = IsFolderName(name) || Entry.IsFolderByAttributes();
      const std::string relative = WideToAnsi(Host.PathFor(AnsiToWide(name), folder));
      if (relative.empty()) return "";
      const size_t cut = relative.find_last_of('\\');
      if (folder) {
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
        Host.Note(Format(kOtherName, NameOf(*listed).c_str(), NameOf(Entry).c_str()));
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

std::unique_ptr<IExtractor> NewZipExtractor(IExtractor& Engine) { return std::make_unique<TZipExtractor>(Engine); }
