; Quarn's installer, made by scripts/package.sh with NSIS 3 (makensis):
;
;   makensis -DVERSION=1.00 -DVERSION_QUAD=1.0.0.0 -DSTAGE=<folder> -DFILES=<files.nsh>
;            -DKINDS=<kinds.nsh> -DICON=<quarn.ico> -DOUTFILE=<setup.exe> [-DX64] packaging/quarn.nsi
;
; With X64 defined the installer is a 64-bit program (NSIS's amd64-unicode
; stub) that installs the 64-bit files into the 64-bit Program Files; 32-bit
; Windows refuses to start it at all, with its own message that the program
; does not fit this version of Windows. Without it, a 32-bit installer of the
; 32-bit files.
;
; STAGE is the portable package's folder, the files to install. FILES defines
; the macros QuarnInstallFiles and QuarnRemoveFiles, which package.sh writes
; from that folder's listing, so that both packages hold the same files.
; KINDS defines the macro QuarnForEachKind, which package.sh writes from
; packaging/kinds.txt, the extensions of the archives Quarn extracts.
;
; The installer puts Quarn either into Program Files for everyone (asking for
; administrator rights when it runs without them) or into the user's own
; programs folder (no rights needed), as the user chooses; it adds a Start menu
; shortcut, a "Send to" shortcut, for each kind an "Open with" entry (never
; the default program) and the Explorer verbs "Extract each to its own folder
; (Quarn)" and "Add to Quarn's list", and an entry in "Apps & features".
;
; Installer:   /S silent; /AllUsers or /CurrentUser (the default when silent)
;              chooses for whom; /D=<folder> (last) the folder.
; Uninstaller: /S silent; /RemoveSettings removes HKCU\Software\Quarn too, which
;              is otherwise asked (and kept when silent). It finds for whom
;              Quarn was installed from the "Apps & features" entries.

!ifndef VERSION | VERSION_QUAD | STAGE | FILES | KINDS | ICON | OUTFILE
  !error "define VERSION, VERSION_QUAD, STAGE, FILES, KINDS, ICON and OUTFILE (see the head of this file)"
!endif

!ifdef X64
  Target amd64-unicode
  !define PROGRAMS_FOLDER "$PROGRAMFILES64"
  !define BITS "64-bit"
!else
  Unicode true
  !define PROGRAMS_FOLDER "$PROGRAMFILES"
  !define BITS "32-bit"
!endif
ManifestDPIAware true
; Runs with the rights of the user who starts it; per-machine installs ask
; for administrator rights only when chosen (see ApplyMode).
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include "${FILES}"
!include "${KINDS}"

!define PRODUCT "Quarn"
!define PUBLISHER "Quarn"
!define EXE "quarn.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarn"
!define PROGID "Quarn.Archive"
!define VERB_EXTRACT "Quarn.ExtractHere"
!define VERB_ADD "Quarn.AddToList"
!define ASSOCIATIONS "Software\Classes\SystemFileAssociations"
!define SETTINGS_KEY "Software\Quarn"
!define SHORTCUT "Quarn.lnk"
!define SHCNE_ASSOCCHANGED 0x08000000
!define ERROR_ELEVATION_REQUIRED 740
!define SYNCHRONIZE 0x00100000

Name "Quarn ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Quarn ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Var AllUsers   ; 1: for everyone (HKLM, Program Files), 0: for this user
Var ModeGiven  ; 1 when /AllUsers or /CurrentUser was on the command line
Var DirGiven   ; 1 when /D= was on the command line
Var RadioAllUsers

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\licences\Quarn-License.txt"
Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Quarn"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Quarn ${VERSION} setup (${BITS})"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 2026 Quarn"

; ---- registry keys the installer may have to create ----

; Notes in the "Apps & features" entry that the installer created the key
; SHCTX\Software\Classes\<name> (or did so in an earlier install over which
; this one goes), so that the uninstaller removes it again, and only then.
!macro NoteNewClassesKey name
  ReadRegDWORD $1 SHCTX "${UNINSTALL_KEY}" "Added ${name}"
  ClearErrors
  EnumRegKey $0 SHCTX "Software\Classes\${name}" 0
  ${If} ${Errors}
  ${OrIf} $1 = 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "Added ${name}" 1
  ${EndIf}
!macroend

; Removes such a key when the installer created it and nothing else is in it.
!macro RemoveNewClassesKey name
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "Added ${name}"
  ${If} $0 = 1
    DeleteRegKey /ifempty SHCTX "Software\Classes\${name}"
  ${EndIf}
!macroend

; "Open with" for one file type: the type lists Quarn's ProgID among the ones
; that can open it, without becoming its default.
!macro OpenWith ext
  !insertmacro NoteNewClassesKey ${ext}
  WriteRegNone SHCTX "Software\Classes\${ext}\OpenWithProgids" "${PROGID}"
  WriteRegStr SHCTX "Software\Classes\Applications\${EXE}\SupportedTypes" "${ext}" ""
!macroend

!macro un.OpenWith ext
  DeleteRegValue SHCTX "Software\Classes\${ext}\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\${ext}\OpenWithProgids"
  !insertmacro RemoveNewClassesKey ${ext}
!macroend

; One of Explorer's verbs for a file type, with Quarn's icon. "Player": the
; verb stays in the menu however many files are selected, and Explorer starts
; the command once for each of them.
!macro Verb ext verb text command
  WriteRegStr SHCTX "${ASSOCIATIONS}\${ext}\shell\${verb}" "" "${text}"
  WriteRegStr SHCTX "${ASSOCIATIONS}\${ext}\shell\${verb}" "MultiSelectModel" "Player"
  WriteRegStr SHCTX "${ASSOCIATIONS}\${ext}\shell\${verb}" "Icon" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "${ASSOCIATIONS}\${ext}\shell\${verb}\command" "" '${command}'
!macroend

; Explorer's verbs for one file type, kept with the type's system-wide
; associations: whatever program opens the type, and the type's own entries,
; stay as they are.
!macro ShellVerbs ext
  !insertmacro NoteNewClassesKey "SystemFileAssociations"
  !insertmacro NoteNewClassesKey "SystemFileAssociations\${ext}"
  !insertmacro NoteNewClassesKey "SystemFileAssociations\${ext}\shell"
  !insertmacro Verb ${ext} ${VERB_EXTRACT} "Extract each to its own folder (Quarn)" \
    '"$INSTDIR\${EXE}" /extract-here "%1"'
  !insertmacro Verb ${ext} ${VERB_ADD} "Add to Quarn's list" '"$INSTDIR\${EXE}" "%1"'
!macroend

!macro un.ShellVerbs ext
  DeleteRegKey SHCTX "${ASSOCIATIONS}\${ext}\shell\${VERB_EXTRACT}"
  DeleteRegKey SHCTX "${ASSOCIATIONS}\${ext}\shell\${VERB_ADD}"
  !insertmacro RemoveNewClassesKey "SystemFileAssociations\${ext}\shell"
  !insertmacro RemoveNewClassesKey "SystemFileAssociations\${ext}"
!macroend

; ---- for whom: shared by the installer and the uninstaller ----

; Without administrator rights a per-machine run starts this program again
; with them ("runas": Windows asks the user), with the same command line after
; /AllUsers (so that /D= and _?= stay last), waits for it and ends with its
; exit code. Returns only when the rights were refused, with the error flag set.
!macro RunElevated un
  Function ${un}RunElevated
    ${GetParameters} $R0
    ; SHELLEXECUTEINFOW; 0x40 = SEE_MASK_NOCLOSEPROCESS. The System plug-in lays
    ; members out without alignment, so the 64-bit layout (112 bytes) spells
    ; out the padding after nShow and dwHotKey.
    !if ${NSIS_PTR_SIZE} > 4
      System::Call '*(i 112, i 0x40, p $HWNDPARENT, w "runas", w "$EXEPATH", w "/AllUsers $R0", p 0, i 1, i 0, p, p, p, p, i, i, p, p) p .r1'
    !else
      System::Call '*(i 60, i 0x40, p $HWNDPARENT, w "runas", w "$EXEPATH", w "/AllUsers $R0", p 0, i 1, p, p, p, p, i, p, p) p .r1'
    !endif
    System::Call 'shell32::ShellExecuteExW(p r1) i .r2'
    ${If} $2 = 0
      System::Free $1
      SetErrors
      Return
    ${EndIf}
    !if ${NSIS_PTR_SIZE} > 4
      System::Call '*$1(i, i, p, p, p, p, p, i, i, p, p, p, p, i, i, p, p .r3)'
    !else
      System::Call '*$1(i, i, p, p, p, p, p, i, p, p, p, p, i, p, p .r3)'
    !endif
    System::Free $1
    System::Call 'kernel32::WaitForSingleObject(p r3, i -1)'
    System::Call 'kernel32::GetExitCodeProcess(p r3, *i .r4)'
    System::Call 'kernel32::CloseHandle(p r3)'
    SetErrorLevel $4
    Quit
  FunctionEnd
!macroend
!insertmacro RunElevated ""
!insertmacro RunElevated "un."

; Makes sure a per-machine run has administrator rights (see RunElevated),
; then points the shell folders and SHCTX at the chosen users. Error flag set
; when the rights were refused.
!macro UseMode un
  Function ${un}UseMode
    ClearErrors
    ${If} $AllUsers = 1
      UserInfo::GetAccountType
      Pop $0
      ${If} $0 != "Admin"
        Call ${un}RunElevated
        Return
      ${EndIf}
      SetShellVarContext all
    ${Else}
      SetShellVarContext current
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro UseMode ""
!insertmacro UseMode "un."

; Files of a running Quarn cannot be replaced or removed: while Quarn holds its
; single-instance mutex, the user is asked to close it; a silent run, or a
; user who cancels, ends here with exit code 2.
!macro CloseQuarnFirst un
  Function ${un}CloseQuarnFirst
    retry:
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "Quarn") p .r0'
    ${If} $0 = 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Quarn is running. Please close it, then choose Retry." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  FunctionEnd
!macroend
!insertmacro CloseQuarnFirst ""
!insertmacro CloseQuarnFirst "un."

; ---- installer ----

Function .onInit
  ${GetParameters} $R0
  StrCpy $AllUsers 0
  ClearErrors
  ${GetOptions} $R0 "/AllUsers" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    StrCpy $ModeGiven 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CurrentUser" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
    StrCpy $ModeGiven 1
  ${EndIf}
  ${If} $INSTDIR != ""
    StrCpy $DirGiven 1
  ${EndIf}
  Call CloseQuarnFirst
  ${If} ${Silent}
  ${OrIf} $ModeGiven = 1
    Call ApplyMode
    ${If} ${Errors}
      SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; UseMode, then the default folder of the mode unless /D= named one.
Function ApplyMode
  Call UseMode
  ${If} ${Errors}
    Return
  ${EndIf}
  ${If} $DirGiven = 1
    Return
  ${EndIf}
  ${If} $AllUsers = 1
    StrCpy $INSTDIR "${PROGRAMS_FOLDER}\${PRODUCT}"
  ${Else}
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
  ${EndIf}
FunctionEnd

Function ModePage
  ${If} $ModeGiven = 1
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Choose Users" "Choose for whom Quarn is installed."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 20u "Install Quarn for:"
  Pop $0
  ${NSD_CreateRadioButton} 10u 24u 100% 12u "&Anyone who uses this computer (needs administrator rights)"
  Pop $RadioAllUsers
  ${NSD_CreateRadioButton} 10u 40u 100% 12u "Only for &me"
  Pop $1
  ${If} $AllUsers = 1
    ${NSD_Check} $RadioAllUsers
  ${Else}
    ${NSD_Check} $1
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $RadioAllUsers $0
  ${If} $0 = ${BST_CHECKED}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  Call ApplyMode
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "Installing for everyone needs administrator rights."
    Abort
  ${EndIf}
FunctionEnd

Section "Quarn"
  !insertmacro QuarnInstallFiles
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 SW_SHOWNORMAL "" \
    "Extract zip, 7z and RAR archives; pack files into a zip archive"
  ; "Send to" exists per user only, also for a per-machine install.
  SetShellVarContext current
  CreateShortcut "$SENDTO\${SHORTCUT}" "$INSTDIR\${EXE}"
  ${If} $AllUsers = 1
    SetShellVarContext all
  ${EndIf}

  ; "Open with": a program that can open these types, not their default one.
  !insertmacro NoteNewClassesKey Applications
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "Archive"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
  WriteRegStr SHCTX "Software\Classes\Applications\${EXE}" "FriendlyAppName" "Quarn"
  WriteRegStr SHCTX "Software\Classes\Applications\${EXE}\DefaultIcon" "" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "Software\Classes\Applications\${EXE}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
  !insertmacro QuarnForEachKind OpenWith
  ; Explorer's verbs: extract each selected archive beside itself, or put it
  ; on Quarn's list.
  !insertmacro QuarnForEachKind ShellVerbs

  ; "Apps & features"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Quarn"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
SectionEnd

; ---- uninstaller ----

; An install for everyone is the one that Apps & features lists under HKLM
; with this folder; any other is this user's.
Function un.onInit
  Call un.CloseQuarnFirst
  StrCpy $AllUsers 0
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
  ${EndIf}
  Call un.UseMode
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "Removing Quarn for everyone needs administrator rights." /SD IDOK
    SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro QuarnRemoveFiles
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ${If} $AllUsers = 0
    RMDir "$LOCALAPPDATA\Programs"  ; only when nothing else is in it
  ${EndIf}

  Delete "$SMPROGRAMS\${SHORTCUT}"
  SetShellVarContext current
  Delete "$SENDTO\${SHORTCUT}"
  ${If} $AllUsers = 1
    SetShellVarContext all
  ${EndIf}

  !insertmacro QuarnForEachKind un.OpenWith
  !insertmacro QuarnForEachKind un.ShellVerbs
  !insertmacro RemoveNewClassesKey "SystemFileAssociations"
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  DeleteRegKey SHCTX "Software\Classes\Applications\${EXE}"
  !insertmacro RemoveNewClassesKey Applications
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  ; The settings belong to the user: they go only when the user agrees.
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/RemoveSettings" $R1
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION "Remove Quarn's settings (its window position) too?" /SD IDNO IDNO keep
  ${EndIf}
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  keep:

  ; The uninstaller runs from a copy of itself in the temporary folder (or,
  ; started with _?=, from the install folder), which cannot go while it runs:
  ; Windows removes the file and then its folder at the next restart.
  Delete /REBOOTOK "$EXEPATH"
  RMDir /REBOOTOK "$EXEDIR"
SectionEnd
