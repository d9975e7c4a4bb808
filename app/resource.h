#pragma once
// Resource and control ids of Quarn's windows. Shared by the program, its
// resource script and the end-to-end driver, which finds controls by these ids.

// Window classes (unique, so that other programs can find the windows).
#define QUARN_APP_CLASS "QuarnApplication"          // hidden owner of all top-level windows
#define QUARN_MAIN_CLASS "QuarnMainWindow"          // TForm1
#define QUARN_HELP_CLASS "QuarnHelpDialog"          // TForm5
#define QUARN_PASSWORD_CLASS "QuarnPasswordDialog"  // TPasswordDialog

// Icons and pictures
#define IDI_QUARN 1    // program icon (16, 32, 48 px)
#define IDB_IMAGE1 10  // left band, 201 x 401
#define IDB_IMAGE2 11  // logo, 126 x 126
#define IDI_UNZIP 20   // button glyphs, 32 x 32
#define IDI_ZIP 21
#define IDI_HELP 22
#define IDI_EXIT 23
#define IDI_LIST_ZIP 30  // list icons, 16 x 16, in image-list order 0..6
#define IDI_LIST_RAR 31
#define IDI_LIST_FILE 32
#define IDI_LIST_7Z 33
#define IDI_LIST_BUNDLE 34   // tar, compressed files, cpio
#define IDI_LIST_DISC 35     // ISO and WIM images
#define IDI_LIST_PACKAGE 36  // CAB, RPM, deb, LZH, ARJ
#define IDR_LICENSE 40       // end-user agreement text (RCDATA)

// TForm1 controls
#define IDC_IMAGE1 101
#define IDC_IMAGE2 102
#define IDC_BITBTN1 111  // Unzip
#define IDC_BITBTN3 113  // Help/License
#define IDC_BITBTN4 114  // Exit
#define IDC_BITBTN6 116  // Zip
#define IDC_PAGECONTROL1 120
#define IDC_LISTVIEW1 131
#define IDC_LABEL1 132
#define IDC_EDIT1 133
#define IDC_BITBTN5 134  // Select destination
#define IDC_LISTVIEW2 141
#define IDC_LABEL2 142
#define IDC_EDIT2 143
#define IDC_BITBTN7 144  // Select archive name
#define IDC_STATUSBAR1 150

// Context menu items
#define IDM_ADDFILES1 201
#define IDM_DELETEFILES1 202
#define IDM_EXPLOREZIPFILE1 203
#define IDM_REMOVEALL1 204
#define IDM_MENUITEM1 211
#define IDM_MENUITEM2 212
#define IDM_MENUITEM5 215

// TForm5 controls
#define IDC_FORM5_BUTTON1 301
#define IDC_FORM5_PAGECONTROL1 302
#define IDC_FORM5_LABEL1 303
#define IDC_FORM5_MEMO1 304

// TPasswordDialog controls (OK and Cancel are IDOK and IDCANCEL)
#define IDC_PASSWORD_PROMPT 401
#define IDC_PASSWORD_ARCHIVE 402
#define IDC_PASSWORD_EDIT 403
#define IDC_PASSWORD_SHOW 404
#define IDC_PASSWORD_HINT 405
