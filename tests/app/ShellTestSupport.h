#pragma once
// Helpers of the shell's tests: a scripted user, a hidden main window, drops
// made in memory, scratch folder trees, small zip archives and the 7z and RAR
// archives of the component tests.

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Engines.h"
#include "ListItems.h"
#include "Unit1.h"
#include "UnzipCommand.h"
#include "ZipFile.h"
#include "zip/ZipTestSupport.h"

// Answers the program's dialogs from a script and records every box.
class TScriptedUI : public IUserInterface {
 public:
  struct Box {
    std::string Title, Text;
    int X = 0, Y = 0;
  };
  std::vector<Box> Boxes;
  std::function<void()> OnBox;  // runs as each box is shown, before it is recorded
  std::deque<std::vector<std::string>> OpenAnswers;  // an empty answer cancels
  std::deque<std::string> SaveAnswers;               // an empty answer cancels
  std::deque<std::string> FolderAnswers;
  int OpenCalls = 0, SaveCalls = 0;
  int LastFilterIndex = 0;
  std::string LastSaveInitialDir;

  void ShowInformation(HWND, const std::string& Text, int X, int Y) override {
    if (OnBox) OnBox();
    Boxes.push_back({"Information", Text, X, Y});
  }
  void ShowError(HWND, const std::string& Title, const std::string& Text) override {
    if (OnBox) OnBox();
    Boxes.push_back({Title, Text, -1, -1});
  }
  bool OpenFiles(HWND, const std::string&, int& FilterIndex, std::vector<std::string>& Files) override {
    ++OpenCalls;
    LastFilterIndex = FilterIndex;
    if (OpenAnswers.empty()) return false;
    Files = OpenAnswers.front();
    OpenAnswers.pop_front();
    return !Files.empty();
  }
  bool SaveFile(HWND, const std::string&, const std::string&, const std::string& InitialDir,
                std::string& FileName) override {
    ++SaveCalls;
    LastSaveInitialDir = InitialDir;
    if (SaveAnswers.empty()) return false;
    FileName = SaveAnswers.front();
    SaveAnswers.pop_front();
    return !FileName.empty();
  }
  bool BrowseForFolder(HWND, const std::string&, std::string& Folder) override {
    if (FolderAnswers.empty()) return false;
    Folder = FolderAnswers.front();
    FolderAnswers.pop_front();
    return true;
  }

  // Questions asked, and the answers to give (No when none is left).
  std::vector<std::string> Questions;
  std::deque<bool> ConfirmAnswers;
  bool Confirm(HWND, const std::string& Text) override {
    Questions.push_back(Text);
    if (ConfirmAnswers.empty()) return false;
    const bool yes = ConfirmAnswers.front();
    ConfirmAnswers.pop_front();
    return yes;
  }

  // Password dialogs shown (archive, retry), and the answers to give (an
  // empty answer cancels; Cancel when none is left).
  std::vector<std::pair<std::string, bool>> PasswordAsks;
  std::deque<std::string> PasswordAnswers;
  std::function<void()> OnPasswordAsked;  // runs before each answer
  bool AskPassword(HWND, const std::string& Archive, bool Retry, std::string& Password) override {
    PasswordAsks.push_back({Archive, Retry});
    if (OnPasswordAsked) OnPasswordAsked();
    if (PasswordAnswers.empty()) return false;
    Password = PasswordAnswers.front();
    PasswordAnswers.pop_front();
    return !Password.empty();
  }

  // Volume questions asked (the part missing), and the answers to give (an
  // empty answer cancels; Cancel when none is left).
  std::vector<std::string> VolumeAsks;
  std::deque<std::string> VolumeAnswers;
  bool AskVolume(HWND, const std::string& Missing, std::string& Found) override {
    VolumeAsks.push_back(Missing);
    if (VolumeAnswers.empty()) return false;
    Found = VolumeAnswers.front();
    VolumeAnswers.pop_front();
    return !Found.empty();
  }

  // Every call the taskbar button saw; OnProgress, when set, runs at the
  // first one of a command that tells how far it is (a walk is under way).
  struct Taskbar {
    TTaskbarState State;
    uint64_t Done, Total;
  };
  std::vector<Taskbar> TaskbarCalls;
  std::function<void()> OnProgress;
  void TaskbarProgress(HWND, TTaskbarState State, uint64_t Done, uint64_t Total) override {
    TaskbarCalls.push_back({State, Done, Total});
    if (Total > 0 && OnProgress) {
      const std::function<void()> once = std::move(OnProgress);
      OnProgress = nullptr;
      once();
    }
  }
};

// A hidden main window with a scripted user, activated once as at start.
struct Shell {
  TScriptedUI* UI;
  std::unique_ptr<TForm1> Form;
  Shell() {
    auto ui = std::make_unique<TScriptedUI>();
    UI = ui.get();
    Form = std::make_unique<TForm1>(nullptr, std::move(ui));
    Form->FormActivate();
  }
  TForm1& operator*() { return *Form; }
  TForm1* operator->() { return Form.get(); }
  void SwitchTo(int page) {
    SendMessageA(Form->PageControl1, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    Form->PageControl1Change();
  }
  void Select(HWND list, int index) {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  }
  std::vector<std::string> Captions(HWND list) {
    std::vector<std::string> result;
    for (int i = 0; i < ItemCount(list); ++i) result.push_back(ItemCaption(list, i));
    return result;
  }
};

// A drop as the shell makes it: DROPFILES followed by the ANSI paths.
inline HDROP MakeDrop(const std::vector<std::string>& paths) {
  std::string names;
  for (const std::string& p : paths) names += p + '\0';
  names += '\0';
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size());
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = FALSE;
  memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size());
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// A folder tree for one test, removed with everything below it.
using Tree = ScratchDir;

inline std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& members) {
  TZipFile zip;
  for (const auto& m : members) {
    zip.AddFile(m.first, 0);
    zip.SetUncompressed(zip.Count() - 1, m.second);
  }
  TMemoryStream stream;
  zip.SaveToStream(stream);
  return stream.Data;
}

// One entry of a tar archive written here (ustar headers): a file ('0'), or a
// hard ('1') or symbolic ('2') link to Link.
struct TarEntry {
  TarEntry(std::string name, std::string data, char type = '0', std::string link = "")
      : Name(std::move(name)), Data(std::move(data)), Type(type), Link(std::move(link)) {}
  std::string Name, Data;
  char Type;
  std::string Link;
};

inline std::string TarOf(const std::vector<TarEntry>& entries) {
  std::string tar;
  for (const TarEntry& e : entries) {
    std::string h(512, '\0');
    h.replace(0, e.Name.size(), e.Name);
    const auto octal = [&](size_t at, size_t width, uint64_t v) {
      char field[24];
      snprintf(field, sizeof field, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(v));
      h.replace(at, width - 1, field);
    };
    octal(100, 8, 0644);
    octal(108, 8, 0);
    octal(116, 8, 0);
    octal(124, 12, e.Data.size());
    octal(136, 12, 981173106);
    h[156] = e.Type;
    h.replace(157, e.Link.size(), e.Link);
    h.replace(257, 6, std::string("ustar\0", 6));
    h.replace(263, 2, "00");
    h.replace(148, 8, "        ");
    unsigned sum = 0;
    for (char c : h) sum += static_cast<unsigned char>(c);
    octal(148, 7, sum);
    tar += h + e.Data + std::string((512 - e.Data.size() % 512) % 512, '\0');
  }
  return tar + std::string(1024, '\0');
}

// Data in zlib's gzip wrapper.
inline std::string GzipOf(std::string data) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);  // 31: a gzip wrapper
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(&data[0]);
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A gzip-compressed tar archive of regular files.
inline std::string TarGzOf(const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<TarEntry> entries;
  for (const auto& f : files) entries.push_back({f.first, f.second});
  return GzipOf(TarOf(entries));
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Everything below Folder: "a\\" for a folder, "a\\b.txt" with its content for a file.
inline std::map<std::string, std::string> TreeOf(const std::string& Folder, const std::string& Prefix = "") {
  std::map<std::string, std::string> tree;
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA((Folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return tree;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[Prefix + name + "\\"] = "";
      for (const auto& below : TreeOf(Folder + "\\" + name, Prefix + name + "\\")) tree.insert(below);
    } else {
      tree[Prefix + name] = ReadWholeFile(Folder + "\\" + name);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return tree;
}

// The Unzip command run without a window, as the main window runs it.
struct Unzipper {
  TScriptedUI UI;
  IProgressSink Silent;
  IProgressSink* Progress = &Silent;
  TEngines Engines;
  int AtOnce = 0;  // archives at a time (0: the walk's own choice)
  TUnzipResult Run(const std::vector<std::string>& archives, const std::string& destination) {
    TUnzipCommand command(nullptr, UI, *Progress, Engines);
    command.ArchivesAtOnce = AtOnce;
    return command.Run(archives, destination);
  }
  TUnzipResult RunHere(const std::vector<std::string>& archives) {
    TUnzipCommand command(nullptr, UI, *Progress, Engines);
    command.ArchivesAtOnce = AtOnce;
    return command.RunHere(archives);
  }
};

// Records what a command tells of its progress; asks it to stop once item
// StopAt has begun and told StopAfter steps.
struct RecordingProgress : IProgressSink {
  std::vector<std::pair<uint64_t, uint64_t>> Steps;  // (done, total) as told
  int Item = -1, StopAt = -1, StopAfter = 0, StepsInItem = 0;
  void BeginItem(int Index, int, const std::string&) override {
    Item = Index;
    StepsInItem = 0;
  }
  void Progress(uint64_t Done, uint64_t Total) override {
    Steps.push_back({Done, Total});
    ++StepsInItem;
  }
  bool Cancelled() override { return StopAt >= 0 && Item >= StopAt && StepsInItem > StopAfter; }
};

// Archives the component tests make: the 7z ones by a ctest fixture (the
// folder in QUARN_7Z_FIXTURES), the RAR ones at build time.
inline std::string SevenZipFixture(const std::string& name) {
  const char* dir = std::getenv("QUARN_7Z_FIXTURES");
  std::string path = dir ? dir : "";
  for (char& c : path)
    if (c == '/') c = '\\';
  return path + "\\" + name;
}

inline std::string RarFixture(const std::string& name) {
  std::string path = QUARN_RAR_FIXTURES;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path + "\\" + name;
}

inline void CopyInto(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

// The lines about one archive, without the archive's name: of its problems
// (LinesAbout), of its notes (NotesAbout).
inline std::vector<std::string> LinesOf(const std::vector<std::string>& all, const std::string& archive) {
  std::vector<std::string> lines;
  for (const std::string& line : all)
    if (line.rfind(archive + ": ", 0) == 0) lines.push_back(line.substr(archive.size() + 2));
  return lines;
}
inline std::vector<std::string> LinesAbout(const TUnzipResult& result, const std::string& archive) {
  return LinesOf(result.Report, archive);
}
inline std::vector<std::string> NotesAbout(const TUnzipResult& result, const std::string& archive) {
  return LinesOf(result.Notes, archive);
}
