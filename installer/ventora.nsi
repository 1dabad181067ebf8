; Ventora's Windows installer: a per-user install (no administrator rights) into
; %LOCALAPPDATA%\Programs\Ventora, with a Start Menu shortcut, an optional Startup shortcut, and an
; uninstaller registered for "Apps & features", and the board set-up tool with a Start Menu
; shortcut of its own. Built by CMake (the installer target) with
;   makensis -DVERSION=x.y.z -DBUILD_DIR=<dir with the exes and README.txt> -DSOURCE_DIR=<tree>
;            -DOUTFILE=<setup.exe> installer/ventora.nsi
;
; Command line of the built setup.exe:
;   /S            silent: installs with the defaults, Start Ventora with Windows included
;   /NOSTARTUP    leaves out the Startup shortcut (also in a silent install)
;   /D=<folder>   installs elsewhere; it must come last and stay unquoted

; Debian's Wine is 64-bit only: the default 32-bit stub does not start there at all.
Target amd64-unicode
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!ifndef VERSION | BUILD_DIR | SOURCE_DIR | OUTFILE
  !error "VERSION, BUILD_DIR, SOURCE_DIR and OUTFILE must be defined (-D on the makensis command line)"
!endif

!define PRODUCT "Ventora"
!define PUBLISHER "Ventora developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ventora"
; What the shell shows in the Start Menu and the Startup folder.
!define SHORTCUT "Ventora.lnk"
; The board set-up tool's shortcut: the wizard, in a console window of its own.
!define SETUP_SHORTCUT "Ventora fan controller set-up.lnk"
; The class of Ventora's main window: how a running copy is found, to be closed as a user would.
!define WINDOW_CLASS "Ventora"
; How long a running Ventora may take to save its settings and end after WM_CLOSE. It takes
; about one tick (100 ms); the margin is for a busy machine.
!define CLOSE_WAIT_MS 15000

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
; The last line of the uninstall details says where the settings stay.
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the last install went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}. MIT License."
VIAddVersionKey /LANG=1033 "OriginalFilename" "ventora-${VERSION}-setup.exe"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "WinMessages.nsh"

!define MUI_ICON "${SOURCE_DIR}/res/ventora.ico"
!define MUI_UNICON "${SOURCE_DIR}/res/ventora.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; Ventora lives in the tray: started from here, the user sees its icon appear.
!define MUI_FINISHPAGE_RUN "$INSTDIR\ventora.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "${PRODUCT} will be closed if it is running, then removed. Your settings stay in %APPDATA%\Ventora\config.bin, so a later install starts with them; delete that folder to remove them too."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var ventoraWasRunning

; Closes every running Ventora as a user would (WM_CLOSE to its window), so that it saves its
; settings, and waits for its process to end, so that its exe can be replaced or deleted. Sets
; $ventoraWasRunning to 1 when one was running. Aborts when one does not end.
!macro defineCloseVentora prefix
Function ${prefix}closeVentora
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $ventoraWasRunning 0
  StrCpy $3 0
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    ${If} $3 >= 3
      MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is still running and did not close. Close it from its tray icon, then run this again." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    IntOp $3 $3 + 1
    StrCpy $ventoraWasRunning 1
    DetailPrint "Closing the running ${PRODUCT}"
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1) i"
    ; SYNCHRONIZE: enough to wait for the process to end.
    System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"
    System::Call "user32::PostMessage(p r0, i ${WM_CLOSE}, p 0, p 0) i"
    ${If} $2 != 0
      System::Call "kernel32::WaitForSingleObject(p r2, i ${CLOSE_WAIT_MS}) i"
      System::Call "kernel32::CloseHandle(p r2) i"
    ${Else}
      Sleep 1000
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro defineCloseVentora ""
!insertmacro defineCloseVentora "un."

Section "-${PRODUCT}" SecProgram
  SectionIn RO
  Call closeVentora
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/ventora.exe"
  File "${BUILD_DIR}/publish_game.exe"
  File "${BUILD_DIR}/ventora-board.exe"
  File "${BUILD_DIR}/README.txt"
  File "/oname=LICENSE.txt" "${SOURCE_DIR}/LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\ventora.exe" "" "$INSTDIR\ventora.exe" 0
  CreateShortCut "$SMPROGRAMS\${SETUP_SHORTCUT}" "$INSTDIR\ventora-board.exe" "" "$INSTDIR\ventora.exe" 0
SectionEnd

Section "Start Ventora with Windows" SecStartup
  CreateShortCut "$SMSTARTUP\${SHORTCUT}" "$INSTDIR\ventora.exe" "" "$INSTDIR\ventora.exe" 0
SectionEnd

Section "-Register"
  ; Unticked in an upgrade: the Startup shortcut of the earlier install goes too.
  ${IfNot} ${SectionIsSelected} ${SecStartup}
    Delete "$SMSTARTUP\${SHORTCUT}"
  ${EndIf}
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ventora.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  ; An upgrade leaves Ventora running as it found it; an interactive install starts it from the
  ; finish page.
  ${If} ${Silent}
  ${AndIf} $ventoraWasRunning == 1
    Exec '"$INSTDIR\ventora.exe"'
  ${EndIf}
SectionEnd

Function .onInit
  ; An upgrade keeps the earlier choice: no Startup shortcut then, none now.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "UninstallString"
  ${If} $0 != ""
  ${AndIfNot} ${FileExists} "$SMSTARTUP\${SHORTCUT}"
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSTARTUP" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.closeVentora
  Delete "$INSTDIR\ventora.exe"
  Delete "$INSTDIR\publish_game.exe"
  Delete "$INSTDIR\ventora-board.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder the user chose may hold files of theirs.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$SMPROGRAMS\${SETUP_SHORTCUT}"
  Delete "$SMSTARTUP\${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DetailPrint "Your settings stay in $APPDATA\Ventora\config.bin"
SectionEnd
