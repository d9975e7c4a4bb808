// zip_interop_tool: a console front end to the zip engine, driven by
// interop_test.py to compare the engine with Info-ZIP, 7-Zip and Python's
// zipfile module.
//
//   zip_interop_tool extract <archive> <outdir>
//     Loads the archive with TZipFile and writes every member under outdir.
//     Prints one line per member:
//       FILE <size> <name>                  a file was written
//       DIR <name>                          a folder entry (name ending in '/')
//       ERROR <ExceptionClass>: <Message>   the member failed; the next one follows
//     then, when the archive has a comment, "COMMENT <comment bytes in hex>".
//     A load failure prints one ERROR line. Exit code: 0 when every member was
//     written, 1 when any member failed, 2 when the archive could not be loaded.
//
//   zip_interop_tool unzip <archive> <outdir>
//     The same through the streamed reader (TZipReader::ExtractAll, parallel
//     where it can be), as the Unzip command extracts; the lines and exit
//     codes are those of extract. A walk that ends at damage prints its ERROR
//     line and stops. A member the directory lists whose data were cut away
//     from the file prints "MISSING <name>" (exit code 1), and so does each
//     member not extracted because the data of members overlap, as in a zip
//     bomb, with "OVERLAP <name>".
//
//   zip_interop_tool create <archive> <file>...
//     Adds each file with TZippit::AddDiskFile and saves the archive after each
//     one. Prints the member name stored for each file, or an ERROR line. Exit
//     code 0, or 1 when any file failed.
//
//   zip_interop_tool zip [options] <archive> <file>...
//     Writes the archive in one pass with ZipDiskFiles, as the Zip command
//     does. Prints the member names, then "WRITTEN <bytes> SIZE <bytes>"; or
//     "STOPPED <members>" and that line when the hook stopped it; or an ERROR
//     line. Exit code 0, or 1 on failure or stop. Options:
//       --threads N      worker threads
//       --time T         the DOS time stamp of every member
//       --stop-after N   the progress hook asks to stop once N members were written
//       --kill-after N   the process kills itself there, as a user ending it would
//
//   zip_interop_tool names <archive> <list>
//     Writes an archive through the Zip command's writer with one member per
//     line of the file list (UTF-8 text), each holding its own name as data
//     (the writer stores ASCII names as they are, anything else as UTF-8 with
//     flag bit 11, made on NTFS). Exit code 0, or 1 on failure.
//
// Paths are used as given (bytes in the system code page). Unlike the program,
// this tool refuses member names that would land outside outdir (absolute
// names, drive letters, ".." components), since it extracts archives from
// anywhere.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>
#include <exception>
#include <string>
#include <typeinfo>

#include "Exception.h"
#include "Streams.h"
#include "ZipCrypto.h"
#include "ZipFile.h"
#include "ZipReader.h"
#include "ZipWriter.h"
#include "Zippit.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/types.h>
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMemberFailed = 1;
constexpr int kExitLoadFailed = 2;
constexpr int kExitUsage = 3;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  // Flushed line by line so that what was done shows even if the process dies.
  std::fflush(stdout);
}

// The most derived of the program's exception classes that e belongs to.
const char* ClassName(const Exception& e) {
  if (dynamic_cast<const EZipFileCRCError*>(&e)) return "EZipFileCRCError";
  if (dynamic_cast<const EZipPasswordError*>(&e)) return "EZipPasswordError";
  if (dynamic_cast<const EZipFileError*>(&e)) return "EZipFileError";
  if (dynamic_cast<const EDecompressionError*>(&e)) return "EDecompressionError";
  if (dynamic_cast<const ECompressionError*>(&e)) return "ECompressionError";
  if (dynamic_cast<const EZlibError*>(&e)) return "EZlibError";
  if (dynamic_cast<const EFOpenError*>(&e)) return "EFOpenError";
  if (dynamic_cast<const EFCreateError*>(&e)) return "EFCreateError";
  if (dynamic_cast<const EFileStreamError*>(&e)) return "EFileStreamError";
  if (dynamic_cast<const EReadError*>(&e)) return "EReadError";
  if (dynamic_cast<const EWriteError*>(&e)) return "EWriteError";
  if (dynamic_cast<const EStreamError*>(&e)) return "EStreamError";
  if (dynamic_cast<const EAbort*>(&e)) return "EAbort";
  return "Exception";
}

void PrintError(const Exception& e) { PrintLine(std::string("ERROR ") + ClassName(e) + ": " + e.Message); }

void PrintError(const std::exception& e) {
  PrintLine(std::string("ERROR std::exception (") + typeid(e).name() + "): " + e.what());
}

// Prints the error held by Error, of either kind; anything else goes on up.
void PrintError(const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const Exception& e) {
    PrintError(e);
  } catch (const std::exception& e) {
    PrintError(e);
  }
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Ends the process at once, with no clean-up of any kind.
void KillThisProcess() {
#ifdef _WIN32
  TerminateProcess(GetCurrentProcess(), 9);
#else
  kill(getpid(), SIGKILL);
#endif
}

int Usage() {
  std::fputs(
      "usage: zip_interop_tool extract|unzip <archive> <outdir>\n"
      "       zip_interop_tool create <archive> <file>...\n"
      "       zip_interop_tool zip [--threads N] [--stop-after N] <archive> <file>...\n"
      "       zip_interop_tool names <archive> <list>\n",
      stderr);
  return kExitUsage;
}

// True when writing Name under the output folder could reach outside it.
bool IsUnsafeName(const std::string& Name) {
  if (Name.empty() || IsSeparator(Name[0])) return true;
  if (Name.find(':') != std::string::npos) return true;  // drive letters, alternate streams
  size_t start = 0;
  while (start <= Name.size()) {
    size_t end = start;
    while (end < Name.size() && !IsSeparator(Name[end])) ++end;
    if (Name.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

// Creates Path as a folder; an existing folder is fine.
bool MakeFolder(const std::string& Path) {
#ifdef _WIN32
  if (CreateDirectoryA(Path.c_str(), nullptr)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  const DWORD attributes = GetFileAttributesA(Path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  if (mkdir(Path.c_str(), 0777) == 0) return true;
  struct stat st;
  return errno == EEXIST && stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

// Creates every folder along Path up to its last separator, below Root (which
// exists). Raises Exception naming the folder that could not be made.
void MakeParentFolders(const std::string& Root, const std::string& Path) {
  for (size_t at = Root.size() + 1; at < Path.size(); ++at) {
    if (Path[at] != kSeparator) continue;
    const std::string folder = Path.substr(0, at);
    if (!MakeFolder(folder)) throw Exception("Cannot create folder \"" + folder + "\". " + LastSystemErrorText());
  }
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// The path under OutDir for a member name; refuses unsafe names.
std::string OutputPath(const std::string& Name, const std::string& OutDir) {
  if (IsUnsafeName(Name)) throw Exception("Refusing the unsafe member name \"" + Name + "\".");
  std::string local = Name;
  for (char& c : local)
    if (c == '/') c = kSeparator;
  return OutDir + kSeparator + local;
}

// OutDir without the separators it ends with.
std::string FolderName(std::string OutDir) {
  while (OutDir.size() > 1 && IsSeparator(OutDir.back())) OutDir.pop_back();
  return OutDir;
}

// Makes the output folder; prints why when it cannot.
bool MakeOutputFolder(const std::string& OutDir) {
  if (MakeFolder(OutDir)) return true;
  PrintLine("ERROR Exception: Cannot create folder \"" + OutDir + "\". " + LastSystemErrorText());
  return false;
}

// Writes member Index of Zip under OutDir; returns the line to print.
std::string ExtractMember(const TZipFile& Zip, int32_t Index, const std::string& OutDir) {
  const std::string name = Zip.GetName(Index);
  const std::string path = OutputPath(name, OutDir);
  if (name.back() == '/') {
    // A folder entry. Its data, if any, are still read, so a damaged entry shows.
    Zip.GetUncompressed(Index);
    MakeParentFolders(OutDir, path);
    return "DIR " + name;
  }
  const std::string data = Zip.GetUncompressed(Index);
  MakeParentFolders(OutDir, path);
  TFileStream out(path, fmCreate | fmShareExclusive);
  out.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  return "FILE " + std::to_string(data.size()) + " " + name;
}

int Extract(const std::string& Archive, std::string OutDir) {
  OutDir = FolderName(OutDir);
  TZipFile zip;
  try {
    zip.LoadFromFile(Archive);
  } catch (...) {
    PrintError(std::current_exception());
    return kExitLoadFailed;
  }
  if (!MakeOutputFolder(OutDir)) return kExitMemberFailed;
  int result = kExitOk;
  for (int32_t i = 0; i < zip.Count(); ++i) {
    try {
      PrintLine(ExtractMember(zip, i, OutDir));
    } catch (...) {
      PrintError(std::current_exception());
      result = kExitMemberFailed;
    }
  }
  if (!zip.Comment.empty()) PrintLine("COMMENT " + ToHex(zip.Comment));
  return result;
}

int Unzip(const std::string& Archive, std::string OutDir) {
  OutDir = FolderName(OutDir);
  std::unique_ptr<TZipReader> zip;
  try {
    zip.reset(new TZipReader(Archive));
  } catch (const Exception& e) {
    PrintError(e);
    return kExitLoadFailed;
  }
  if (!MakeOutputFolder(OutDir)) return kExitMemberFailed;
  int result = kExitOk;
  // Each member is named and its folders made here, on the calling thread, as
  // the Unzip command does; folder entries are written as folders only.
  const TZipReader::TPathFor pathFor = [&](const TZipEntry& entry) {
    try {
      const std::string path = OutputPath(entry.Name, OutDir);
      MakeParentFolders(OutDir, path);
      return entry.IsFolder() ? std::string() : path;
    } catch (const Exception& e) {
      PrintError(e);
      result = kExitMemberFailed;
      return std::string();
    }
  };
  const TZipReader::TMemberDone done = [&](const TZipEntry& entry, const std::exception_ptr& error) {
    if (error) {
      PrintError(error);
      result = kExitMemberFailed;
    } else if (entry.IsFolder()) {
      PrintLine("DIR " + entry.Name);
    } else if (!IsUnsafeName(entry.Name)) {
      PrintLine("FILE " + std::to_string(entry.UncompressedSize) + " " + entry.Name);
    }
  };
  for (const TZipEntry& entry : zip->MissingMembers()) {
    PrintLine("MISSING " + entry.Name);
    result = kExitMemberFailed;
  }
  for (const TZipEntry& entry : zip->MembersFromOverlap()) {
    PrintLine("OVERLAP " + entry.Name);
    result = kExitMemberFailed;
  }
  try {
    zip->ExtractAll(pathFor, done);
  } catch (const Exception& e) {
    PrintError(e);
    return kExitMemberFailed;
  }
  if (!zip->Comment().empty()) PrintLine("COMMENT " + ToHex(zip->Comment()));
  return result;
}

int Zip(int Count, char** Args) {
  TZipWriterOptions options;
  int stopAfter = -1, killAfter = -1;
  int at = 0;
  for (; at + 1 < Count && std::string(Args[at]).rfind("--", 0) == 0; at += 2) {
    const std::string option = Args[at];
    const long value = std::strtol(Args[at + 1], nullptr, 0);
    if (option == "--threads") options.Threads = static_cast<int>(value);
    if (option == "--time") options.Time = static_cast<uint32_t>(value);
    if (option == "--stop-after") stopAfter = static_cast<int>(value);
    if (option == "--kill-after") killAfter = static_cast<int>(value);
  }
  if (at + 2 > Count) return Usage();
  const std::string archive = Args[at];
  const std::vector<std::string> files(Args + at + 1, Args + Count);
  TZipJobResult result;
  int written = 0;
  std::string last;
  TZipProgressHook hook = [&](const TZipProgress& p) {
    if (p.Member != last) {
      if (!last.empty()) ++written;
      last = p.Member;
    }
    if (written == killAfter) KillThisProcess();
    return stopAfter < 0 || written < stopAfter;
  };
  try {
    ZipDiskFiles(archive, files, result, options, hook);
  } catch (const EAbort&) {
    PrintLine("STOPPED " + std::to_string(result.Members));
    PrintLine("WRITTEN " + std::to_string(result.BytesWritten) + " SIZE " + std::to_string(result.ArchiveSize));
    return kExitMemberFailed;
  } catch (const Exception& e) {
    PrintError(e);
    return kExitMemberFailed;
  }
  for (const std::string& f : files) PrintLine(ZipMemberName(f));
  PrintLine("WRITTEN " + std::to_string(result.BytesWritten) + " SIZE " + std::to_string(result.ArchiveSize));
  return kExitOk;
}

int Create(const std::string& Archive, int Count, char** Files) {
  TZippit zip;
  int result = kExitOk;
  for (int i = 0; i < Count; ++i) {
    try {
      zip.AddDiskFile(Files[i]);
      zip.SaveToFile(Archive);
      PrintLine(zip.GetName(zip.Count() - 1));
    } catch (...) {
      PrintError(std::current_exception());
      result = kExitMemberFailed;
    }
  }
  return result;
}

int WriteNames(const std::string& Archive, const std::string& List) {
  try {
    TFileStream list(List, fmOpenRead | fmShareDenyWrite);
    std::string text(static_cast<size_t>(list.GetSize()), '\0');
    list.ReadBuffer(&text[0], static_cast<int64_t>(text.size()));
    TFileStream out(Archive, fmCreate);
    TZipWriter writer(out);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string name = text.substr(start, end - start);
      start = end + 1;
      writer.AddMember(name, name);
    }
    writer.Finish();
  } catch (const Exception& e) {
    PrintError(e);
    return kExitMemberFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Member names go out byte for byte, with plain '\n' line ends.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  if (command == "unzip" && argc == 4) return Unzip(argv[2], argv[3]);
  if (command == "create" && argc >= 4) return Create(argv[2], argc - 3, argv + 3);
  if (command == "zip" && argc >= 4) return Zip(argc - 2, argv + 2);
  if (command == "names" && argc == 4) return WriteNames(argv[2], argv[3]);
  return Usage();
}
