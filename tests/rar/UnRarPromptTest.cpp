// The two prompt dialogs, driven from a timer that fires inside their modal
// loop: layout, captions, masking, results, and their use by the callback.

#include <gtest/gtest.h>

#include <cstring>

#include <functional>

#include "RarTestSupport.h"
#include "UnRar.h"

using namespace rartest;

namespace {

// What the driver saw in the dialog before acting on it.
struct Seen {
  bool found = false;
  std::string caption, initialText;
  RECT client{}, window{}, edit{}, ok{}, cancel{};
  LONG_PTR style = 0;
  char passwordChar = 0;
  int limit = 0;
  std::string okText, cancelText;
  bool ownerNull = false;
};

// Answers the next prompt dialog: records it, types text (unless null), then
// presses the control with the given id (0: close by the frame). `beforeClick`
// may send extra input first.
struct Driver {
  const char* type = nullptr;
  int press = UnRarPromptOkId;
  std::function<void(HWND)> beforeClick;
  Seen seen;
  int dialogs = 0;
};

Driver* ActiveDriver = nullptr;

RECT ChildRect(HWND dlg, int id) {
  RECT r{};
  HWND child = GetDlgItem(dlg, id);
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string Text(HWND w) {
  char buf[512] = {0};
  GetWindowTextA(w, buf, sizeof buf);
  return buf;
}

BOOL CALLBACK MatchPrompt(HWND w, LPARAM found) {
  char name[64] = {0};
  GetClassNameA(w, name, sizeof name);
  if (strcmp(name, UnRarPromptClassName) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = w;
  return FALSE;
}

// The prompt dialog of this test, which runs on this thread. Other test
// programs running at the same time show prompts of their own on the same
// Wine desktop, so a look-up by class alone could find theirs.
HWND OwnPrompt() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), MatchPrompt, reinterpret_cast<LPARAM>(&found));
  return found;
}

void CALLBACK DriveTimer(HWND, UINT, UINT_PTR, DWORD) {
  Driver* d = ActiveDriver;
  HWND dlg = OwnPrompt();
  if (d == nullptr || dlg == nullptr || !IsWindowVisible(dlg)) return;
  // The same window must not be answered twice while it closes.
  if (GetPropA(dlg, "quarn-test-answered")) return;
  SetPropA(dlg, "quarn-test-answered", reinterpret_cast<HANDLE>(1));
  ++d->dialogs;
  Seen& s = d->seen;
  s.found = true;
  s.caption = Text(dlg);
  HWND edit = GetDlgItem(dlg, UnRarPromptEditId);
  s.initialText = Text(edit);
  GetClientRect(dlg, &s.client);
  GetWindowRect(dlg, &s.window);
  s.edit = ChildRect(dlg, UnRarPromptEditId);
  s.ok = ChildRect(dlg, UnRarPromptOkId);
  s.cancel = ChildRect(dlg, UnRarPromptCancelId);
  s.style = GetWindowLongPtrA(dlg, GWL_STYLE);
  s.passwordChar = static_cast<char>(SendMessageA(edit, EM_GETPASSWORDCHAR, 0, 0));
  s.limit = static_cast<int>(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0));
  s.okText = Text(GetDlgItem(dlg, UnRarPromptOkId));
  s.cancelText = Text(GetDlgItem(dlg, UnRarPromptCancelId));
  s.ownerNull = GetWindow(dlg, GW_OWNER) == nullptr;
  if (d->type != nullptr) SetWindowTextA(edit, d->type);
  if (d->beforeClick) d->beforeClick(dlg);
  if (d->press == 0)
    PostMessageA(dlg, WM_CLOSE, 0, 0);
  else if (d->press > 0)
    PostMessageA(GetDlgItem(dlg, d->press), BM_CLICK, 0, 0);
}

// Installs the driver for the life of the object.
struct Driving {
  UINT_PTR timer;
  explicit Driving(Driver& d) {
    ActiveDriver = &d;
    timer = SetTimer(nullptr, 0, 30, DriveTimer);
  }
  ~Driving() {
    KillTimer(nullptr, timer);
    ActiveDriver = nullptr;
  }
};

}  // namespace

TEST(UnRarPrompt, PasswordDialogLayoutAndMasking) {
  TUnRar rar(nullptr);
  Driver d;
  d.type = "typed";
  Driving on(d);
  EXPECT_EQ(rar.AskPassword(), "typed");
  ASSERT_TRUE(d.seen.found);
  EXPECT_EQ(d.seen.caption, "Mot de passe : ...");
  EXPECT_EQ(d.seen.initialText, "");
  EXPECT_EQ(d.seen.passwordChar, '*');
  EXPECT_EQ(d.seen.limit, 120);
  EXPECT_EQ(d.seen.client.right - d.seen.client.left, 168);
  EXPECT_EQ(d.seen.client.bottom - d.seen.client.top, 69);
  EXPECT_EQ(d.seen.edit.left, 8);
  EXPECT_EQ(d.seen.edit.top, 8);
  EXPECT_EQ(d.seen.edit.right - d.seen.edit.left, 153);
  EXPECT_EQ(d.seen.edit.bottom - d.seen.edit.top, 21);
  EXPECT_EQ(d.seen.ok.left, 7);
  EXPECT_EQ(d.seen.ok.top, 37);
  EXPECT_EQ(d.seen.ok.right - d.seen.ok.left, 75);
  EXPECT_EQ(d.seen.ok.bottom - d.seen.ok.top, 25);
  EXPECT_EQ(d.seen.cancel.left, 87);
  EXPECT_EQ(d.seen.cancel.top, 37);
  EXPECT_EQ(d.seen.okText, "Ok");
  EXPECT_EQ(d.seen.cancelText, "Annuler");
  EXPECT_EQ(d.seen.style & WS_THICKFRAME, 0);
  EXPECT_TRUE(d.seen.ownerNull);
  // Centred on the screen.
  const int cx = (d.seen.window.left + d.seen.window.right) / 2;
  EXPECT_NEAR(cx, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_EQ(OwnPrompt(), nullptr);  // released afterwards
}

TEST(UnRarPrompt, PasswordDialogCancelAndFrameStillYieldTheText) {
  TUnRar rar(nullptr);
  for (int press : {static_cast<int>(UnRarPromptCancelId), 0}) {
    Driver d;
    d.type = "half typed";
    d.press = press;
    Driving on(d);
    EXPECT_EQ(rar.AskPassword(), "half typed") << press;
    EXPECT_EQ(d.dialogs, 1);
  }
}

TEST(UnRarPrompt, EscapeDoesNotCloseAndEnterIsOk) {
  TUnRar rar(nullptr);
  Driver d;
  d.press = UnRarPromptOkId;  // a result of OK shows that Escape did not close it
  int escapes = 0;
  d.beforeClick = [&](HWND dlg) {
    HWND edit = GetDlgItem(dlg, UnRarPromptEditId);
    SetWindowTextA(edit, "next.rar");
    PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
    ++escapes;
  };
  Driving on(d);
  char buffer[64] = "";
  EXPECT_TRUE(rar.AskNextVolume("current.rar", buffer, sizeof buffer));
  EXPECT_EQ(escapes, 1);
  EXPECT_EQ(d.dialogs, 1);
  EXPECT_STREQ(buffer, "next.rar");

  // Enter presses the default button, "Ok".
  Driver e;
  e.type = "other.rar";
  e.press = -1;  // no button: Enter below does it
  e.beforeClick = [](HWND dlg) { PostMessageA(GetDlgItem(dlg, UnRarPromptEditId), WM_KEYDOWN, VK_RETURN, 0); };
  ActiveDriver = &e;
  EXPECT_TRUE(rar.AskNextVolume("current.rar", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "other.rar");
  ActiveDriver = nullptr;
}

TEST(UnRarPrompt, NextVolumeDialogStartsWithTheCurrentNameAndFitsTheBuffer) {
  TUnRar rar(nullptr);
  Driver d;
  Driving on(d);
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_TRUE(rar.AskNextVolume("current.rar", buffer, 6));
  EXPECT_EQ(d.seen.caption, "Archive suivante : ...");
  EXPECT_EQ(d.seen.initialText, "current.rar");
  EXPECT_EQ(d.seen.passwordChar, 0);
  EXPECT_STREQ(buffer, "curre");
  EXPECT_EQ(buffer[6], '#');
}

TEST(UnRarPrompt, PromptForPassExtracts) {
  ScratchDir out;
  TUnRar rar(nullptr);
  rar.FileName = Fixture("password.rar");
  rar.Directory = out.Path();
  rar.SetMode(UNRAR_EXTRACT);
  rar.PromptForPass = true;
  Recorder rec;
  rec.Attach(rar);
  Driver d;
  d.type = "Secret123";
  Driving on(d);
  rar.ProcessArchive();
  EXPECT_EQ(d.dialogs, 1);
  EXPECT_TRUE(rec.errors.empty());
  EXPECT_EQ(ReadFile(out / "secret.txt"), "top secret\r\n");
}

TEST(UnRarPrompt, PromptForVolumnAnswers) {
  struct Case {
    const char* typed;
    int press;
    bool extracted;
  };
  const std::string spare = Fixture("spare-volume.rar");
  const Case cases[] = {
      {spare.c_str(), UnRarPromptOkId, true},
      {spare.c_str(), UnRarPromptCancelId, false},
      {nullptr, UnRarPromptOkId, false},  // OK with the name unchanged
      {"", UnRarPromptOkId, false},       // OK with the name emptied
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed ? c.typed : "(unchanged)") + " " + std::to_string(c.press));
    ScratchDir out;
    TUnRar rar(nullptr);
    rar.FileName = Fixture("missing\\vol.part1.rar");
    rar.Directory = out.Path();
    rar.SetMode(UNRAR_EXTRACT);
    rar.PromptForVolumn = true;
    Recorder rec;
    rec.Attach(rar);
    Driver d;
    d.type = c.typed;
    d.press = c.press;
    Driving on(d);
    rar.ProcessArchive();
    EXPECT_EQ(d.dialogs, 1);
    // The dialog starts with the name of the volume whose header was read last.
    EXPECT_EQ(d.seen.initialText, Fixture("missing\\vol.part1.rar"));
    EXPECT_EQ(FileExists(out / "big.bin"), c.extracted);
    EXPECT_EQ(rec.errors.empty(), c.extracted);
  }
}

TEST(UnRarPrompt, OtherWindowsAreDisabledWhileThePromptShows) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "QuarnRarTestMain";
  RegisterClassA(&wc);
  HWND main = CreateWindowA("QuarnRarTestMain", "main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(main, nullptr);
  TUnRar rar(nullptr);
  Driver d;
  bool enabledDuring = true;
  d.beforeClick = [&](HWND) { enabledDuring = IsWindowEnabled(main) != FALSE; };
  Driving on(d);
  rar.AskPassword();
  EXPECT_FALSE(enabledDuring);
  EXPECT_TRUE(IsWindowEnabled(main));
  DestroyWindow(main);
}
