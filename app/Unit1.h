#pragma once
// TForm1: Quarn's main window with its two pages, the archive list and the Unzip
// command, the file list and the Zip command, drops, help and exit.

#include <windows.h>

#include <exception>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "ExtractQueue.h"
#include "ListItems.h"
#include "UserInterface.h"
#include "Win32Kit.h"
#include "Windowing.h"

class TEngines;

class TForm1 final : public TObjectWindow {
 public:
  // What AddPathToList does about the icon of a new item.
  using TIconRule = ::TIconRule;

  // Creates the main window (hidden until Show) owned by Application, the
  // program's hidden owner window (may be null in tests). UI is the modal
  // interaction to use; the form owns it.
  TForm1(HWND Application, std::unique_ptr<IUserInterface> UI);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  void Show();

  // Gives the key preview and the window's own key handling a message before it
  // is dispatched; true when the message was handled.
  bool PreTranslate(MSG& Msg);

  // Runs every pending message of the thread's queue (painting, input).
  static void ProcessMessages();

  // ---- the two lists ----
  // Appends Path to List unless an item with exactly that caption exists;
  // returns false for a duplicate.
  bool AddPathToList(HWND List, const std::string& Path, TIconRule Rule);
  // Appends Paths to List in order, as AddPathToList does one by one, up to
  // the first duplicate (see ListItems.h), then shows the list's count once.
  size_t AddPathsToList(HWND List, const std::vector<std::string>& Paths, TIconRule Rule, bool SkipOthers = false);

  // ---- handlers ----
  void FormCreate();
  void FormActivate();
  void FormClose();
  bool FormKeyDown(WPARAM Key);
  void PageControl1Change();
  void ListView1Change();
  void ListView2Change();
  void BitBtn3Click();  // Help/License
  void BitBtn4Click();  // Exit
  bool HandleSystemCommand(WPARAM Command);

  void AddFiles1Click();
  void DeleteFiles1Click();
  void ExploreZipFile1Click();
  void RemoveAll1Click();
  void BitBtn5Click();  // choose the destination
  void BitBtn1Click();  // Unzip

  void MenuItem1Click();
  void MenuItem2Click();
  void MenuItem5Click();
  void BitBtn7Click();  // choose the archive's name
  void BitBtn6Click();  // Zip

  void HandleDroppedFiles(HDROP Drop);
  // Adds paths given to the program (its command line, or a later start's
  // hand-over) with the rules of a drop, whichever page shows: archives by
  // extension to the archive list, anything else to the file list, the whole
  // run ending at the first duplicate. The page shown becomes the first one
  // that received something. Does nothing while a command runs.
  void AddPaths(const std::vector<std::string>& Paths);

  // ---- extraction beside the archives (quarn.exe /extract-here) ----
  // Queues Archives, in order, to be extracted each into a folder beside it;
  // an archive already waiting (or in the walk in progress) is not queued
  // again. The queue is taken as soon as the window is free: after the walk
  // in progress, or once a box or dialog has closed; archives that come
  // meanwhile follow in one more walk. With CloseWhenDone (the program was
  // started for them) the window closes by itself once everything queued was
  // extracted without a problem, no later start of the program is still on
  // its way with more, and the lists are empty; after a problem it stays,
  // with the report.
  void ExtractHere(const std::vector<std::string>& Archives, bool CloseWhenDone = false);
  // What tells whether later starts of the program are still on their way
  // (tests put their own).
  bool (*LaterStarts)() = nullptr;

  // Shows an exception that reached the message loop in the program's generic
  // error box (title "Quarn 1.00").
  void ShowException(const std::exception& E);

  // ---- controls (owned by the window) ----
  HWND Image1 = nullptr, Image2 = nullptr;
  HWND BitBtn1 = nullptr, BitBtn3 = nullptr, BitBtn4 = nullptr, BitBtn6 = nullptr;
  HWND PageControl1 = nullptr;
  HWND ListView1 = nullptr, Label1 = nullptr, Edit1 = nullptr, BitBtn5 = nullptr;
  HWND ListView2 = nullptr, Label2 = nullptr, Edit2 = nullptr, BitBtn7 = nullptr;
  HWND StatusBar1 = nullptr;
  HWND ToolTips = nullptr;
  TMenu PopupMenu1, PopupMenu2;

  // Dialog state kept between uses.
  int OpenDialog1FilterIndex = 1;
  std::string SaveDialog1InitialDir;
  std::string SaveDialog1FileName;

  // ---- what tests read ----
  std::string StatusText(int Panel) const;
  static std::string WindowText(HWND Window);
  bool ArchivePageShowing() const;

 private:
  void HandleException(const std::exception& E) override;
  LRESULT Dispatch(UINT Message, WPARAM wParam, LPARAM lParam) override;
  void CreateControls();
  void Place(HWND Control, int X, int Y, int W, int H) const;
  void PlaceOnPage(HWND Control, int X, int Y, int W, int H) const;
  void SetStatus(int Panel, const std::string& Text);
  void ShowPage(int Page);
  void OnCommand(int Id, int Code);
  void OnNotify(NMHDR* Header);
  void OnContextMenu(HWND From, int X, int Y);
  void InformationBox(const std::string& Text, int LeftOffset);
  // Marks the window busy (hourglass, list commands ignored) for one command.
  class TBusy;
  // Lives as long as a command's handler: a close asked for while the
  // command ran takes effect after the handler, once its boxes were seen.
  class TCloseAfter;
  // Shows a running command's progress in the status bar and on the taskbar
  // button, lets the window's messages run, and tells the command when the
  // user asked it to stop.
  class TWindowProgress;
  // Asks whether to stop the running command; true (and the command told to
  // stop) for Yes.
  bool AskStop();
  // Runs the queued extractions, or the close when done, if the window is free
  // now; otherwise tries again a moment later.
  void ServeQueue();
  // No command runs, no box, dialog or menu is up: a walk may start.
  bool Free() const;
  // Extracts the queue beside the archives, walk after walk until it is
  // empty, then shows one report.
  void RunQueue();
  // What a walk found, after it: problems in an error box, notes listed after
  // them (the taskbar button shows red meanwhile); only notes, in an
  // information box unless ShowNotes is false. Nothing when there is none.
  void ShowReport(const TUnzipResult& Result, bool ShowNotes = true);
  // The engines, loaded at the first walk and held from then on.
  TEngines& Engines();
  // The status bar's last panel: a line about the archive at hand.
  void SetNotice(const std::string& Text);

  HWND FApplication = nullptr;
  std::unique_ptr<IUserInterface> FUI;
  bool FShown = false;
  bool FActivated = false;
  bool FBusy = false;            // inside a command that lets the message loop run
  bool FCloseRequested = false;  // the window was asked to close during a command
  bool FStopRequested = false;   // the user asked the running command to stop
  bool FAdding = false;          // inside AddPathsToList: the status waits for the end
  bool FInMenu = false;          // a context menu is up (its own message loop runs)
  TExtractQueue FQueue;          // archives waiting to be extracted beside themselves
  std::unique_ptr<TEngines> FEngines;
  int FPage = 0;
  RECT FPageArea = {};  // display area of the page control, in window client pixels
  TFont FFont;
  TImageList FImageList;
  TBitmap FBitmaps[2];
  TIcon FButtonIcons[4];
};

// The main window of this process, for the message loop's exception handling.
extern TForm1* Form1;
