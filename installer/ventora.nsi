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
;   /NOTRUCKS     leaves out the truck games' plugin, as unticking it does: copies made earlier go
;   /NOKARTS      leaves out the plugins for Kart Racing Pro, MX Bikes and GP Bikes, the same way
;   /D=<folder>   installs elsewhere; it must come last and stay unquoted
;
; Euro Truck Simulator 2 and American Truck Simulator load telemetry plugins from their own folder:
; when Steam's libraries hold either game, the installer offers to copy Ventora's plugin there, and
; the uninstaller removes exactly the copies it made (listed in the Uninstall key), and so does an
; install or upgrade without the option. A copy a running game holds stays listed, so that a later
; run of the installer finishes the job, and is marked for deletion at the next restart of Windows
; where Windows allows it: that list is the machine's, so only with administrator rights, which this
; per-user installer has only when Windows runs it elevated (UAC off, or run as administrator).
; Kart Racing Pro, MX Bikes and GP Bikes load plugins (.dlo) from the plugins folder beside their
; program: the same offer, the same care.

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
; The truck games' plugin, and the games' Steam app ids (their manifests in each library name
; their folders).
!define TRUCK_PLUGIN "ventora-trucks.dll"
!define ETS2_APP_ID "227300"
!define ATS_APP_ID "270880"
; The PiBoSo games' plugins, one per game, found by the game's program in a folder of a library's
; steamapps\common (no verified app ids to read manifests by).
!define KRP_PLUGIN "ventora-krp.dlo"
!define MXBIKES_PLUGIN "ventora-mxbikes.dlo"
!define GPBIKES_PLUGIN "ventora-gpbikes.dlo"
; MoveFileEx's flag: the file is deleted when Windows next starts, before any game can hold it.
!define MOVEFILE_DELAY_UNTIL_REBOOT 4

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
!include "WordFunc.nsh"

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
; 1 when the uninstaller leaves a copy of a plugin that a running game holds.
Var truckPluginLeft
; The games' bin\win_x64 folders found in Steam's libraries, empty when not found.
Var ets2Bin
Var atsBin
; The PiBoSo games' folders (where their program is) found in Steam's libraries, empty when not found.
Var krpDir
Var mxbikesDir
Var gpbikesDir

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
  ; Beside publish_game, which loads it to stand in for the truck games, and for copying by hand.
  File "${BUILD_DIR}/${TRUCK_PLUGIN}"
  ; The same for the PiBoSo games; the copies into the games are made from these.
  File "${BUILD_DIR}/${KRP_PLUGIN}"
  File "${BUILD_DIR}/${MXBIKES_PLUGIN}"
  File "${BUILD_DIR}/${GPBIKES_PLUGIN}"
  File "${BUILD_DIR}/README.txt"
  File "/oname=LICENSE.txt" "${SOURCE_DIR}/LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\ventora.exe" "" "$INSTDIR\ventora.exe" 0
  CreateShortCut "$SMPROGRAMS\${SETUP_SHORTCUT}" "$INSTDIR\ventora-board.exe" "" "$INSTDIR\ventora.exe" 0
SectionEnd

Section "Start Ventora with Windows" SecStartup
  CreateShortCut "$SMSTARTUP\${SHORTCUT}" "$INSTDIR\ventora.exe" "" "$INSTDIR\ventora.exe" 0
SectionEnd

; A copy of the plugin that a running game holds cannot be deleted now: Windows is asked to delete
; it at its next restart, and the details and the message for the user in $1 say so.
; In: $0 the file, $R2 the game's name.
!macro defineDeleteAtRestart prefix
Function ${prefix}deleteAtRestart
  Push $2
  ${If} $1 != ""
    StrCpy $1 "$1$\r$\n$\r$\n"
  ${EndIf}
  ; Windows keeps this list in HKLM and refuses it to a process without administrator rights:
  ; then the user is asked instead, and the record of the copy stays for a later run.
  System::Call "kernel32::MoveFileExW(w r0, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i .r2"
  ${If} $2 != 0
    DetailPrint "$R2 is running and holds $0: Windows deletes it at its next restart"
    StrCpy $1 "$1$R2 is running and holds Ventora's plugin $0, so Windows deletes it at its next restart."
  ${Else}
    DetailPrint "$R2 is running and holds $0: delete it once the game has ended"
    StrCpy $1 "$1$R2 is running and holds Ventora's plugin $0. Delete it once the game has ended (the next install of ${PRODUCT} does it too)."
  ${EndIf}
  Pop $2
FunctionEnd
!macroend
!insertmacro defineDeleteAtRestart ""
!insertmacro defineDeleteAtRestart "un."

; Removes the recorded copy of the plugin in $R3 and the one moved aside beside it (.old), and
; their plugins folder when the installer made it and nothing else is in it. A copy that a running
; game holds is moved aside, out of the game's way (at its next start the game finds no plugin to
; load, and a later install's new copy is not the file Windows deletes), and marked for deletion
; at the next restart of Windows; the message for the user in $1 says so.
; In: $R1 the game's app id, $R2 its name. Out: $R4 1 when nothing is left, else 0: the record
; must then stay, so that a later run finishes what is left.
!macro defineRemoveTruckPluginCopy prefix
Function ${prefix}removeTruckPluginCopy
  Push $0
  Push $2
  Delete "$R3.old"
  Delete "$R3"
  ${If} ${FileExists} "$R3"
  ${AndIfNot} ${FileExists} "$R3.old"
    Rename "$R3" "$R3.old"
  ${EndIf}
  StrCpy $R4 1
  ${If} ${FileExists} "$R3"
    StrCpy $0 "$R3"
    Call ${prefix}deleteAtRestart
    StrCpy $R4 0
  ${EndIf}
  ${If} ${FileExists} "$R3.old"
    StrCpy $0 "$R3.old"
    Call ${prefix}deleteAtRestart
    StrCpy $R4 0
  ${EndIf}
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "TruckPluginFolder$R1"
  ${If} $0 == 1
    ${GetParent} "$R3" $2
    RMDir "$2"
    ; Emptied at the restart, it goes then too: Windows removes only an empty folder.
    ${If} $R4 == 0
      System::Call "kernel32::MoveFileExW(w r2, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i"
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $0
FunctionEnd
!macroend
!insertmacro defineRemoveTruckPluginCopy ""
!insertmacro defineRemoveTruckPluginCopy "un."

; Copies the plugin into one game's plugins folder (made when missing) and records the copy, and
; whether the folder was made, for the uninstaller. A running game has its plugin loaded: Windows
; lets the file be renamed but not overwritten, so the old one is moved aside and the game keeps it
; until it restarts; it goes as soon as the game has let it go, or at the next restart of Windows.
; In: $R0 the game's bin\win_x64 folder, $R1 its Steam app id, $R2 its name.
Function copyTruckPlugin
  Push $0
  Push $1
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R5 "$R0\plugins"
  StrCpy $1 "" ; what the user is told at the end
  ; The game moved to another library since the last install: the copy left at the old place is
  ; taken away, or nothing would ever remove it once the new place is recorded.
  ReadRegStr $R3 HKCU "${UNINSTALL_KEY}" "TruckPlugin$R1"
  ${If} $R3 != ""
  ${AndIf} $R3 != "$R5\${TRUCK_PLUGIN}"
    Call removeTruckPluginCopy
    DeleteRegValue HKCU "${UNINSTALL_KEY}" "TruckPluginFolder$R1"
  ${EndIf}
  ${IfNot} ${FileExists} "$R5\*.*"
    CreateDirectory "$R5"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "TruckPluginFolder$R1" 1
  ${EndIf}
  ${If} ${FileExists} "$R5\${TRUCK_PLUGIN}"
    ClearErrors
    FileOpen $0 "$R5\${TRUCK_PLUGIN}" a
    ${If} ${Errors}
      Delete "$R5\${TRUCK_PLUGIN}.old"
      Rename "$R5\${TRUCK_PLUGIN}" "$R5\${TRUCK_PLUGIN}.old"
      DetailPrint "$R2 is running and keeps the plugin it loaded: restart it to load the new one"
      StrCpy $1 "$R2 is running and keeps the Ventora plugin it loaded. Restart the game to load the new one."
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
  SetOutPath "$R5"
  File "${BUILD_DIR}/${TRUCK_PLUGIN}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "TruckPlugin$R1" "$R5\${TRUCK_PLUGIN}"
  DetailPrint "Wind in $R2: the plugin is in $R5"
  SetOutPath "$INSTDIR"
  ; The copy moved aside, just now or by an earlier run, goes once the game has let it go.
  Delete "$R5\${TRUCK_PLUGIN}.old"
  ${If} ${FileExists} "$R5\${TRUCK_PLUGIN}.old"
    StrCpy $0 "$R5\${TRUCK_PLUGIN}.old"
    Call deleteAtRestart
  ${EndIf}
  ${If} $1 != ""
    MessageBox MB_OK|MB_ICONINFORMATION "$1" /SD IDOK
  ${EndIf}
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $1
  Pop $0
FunctionEnd

Section "Wind in Euro Truck Simulator 2 and American Truck Simulator" SecTrucks
  ${If} $ets2Bin != ""
    StrCpy $R0 $ets2Bin
    StrCpy $R1 ${ETS2_APP_ID}
    StrCpy $R2 "Euro Truck Simulator 2"
    Call copyTruckPlugin
  ${EndIf}
  ${If} $atsBin != ""
    StrCpy $R0 $atsBin
    StrCpy $R1 ${ATS_APP_ID}
    StrCpy $R2 "American Truck Simulator"
    Call copyTruckPlugin
  ${EndIf}
  DetailPrint "Each game asks once, at its start, to allow an SDK plugin: allow it for the wind"
SectionEnd

; A recorded copy of the plugin, one an uninstall had to leave in a running game or one of the
; installed Ventora's with the option now unticked: taken away, unless this install has just put a
; new copy in its place.
!macro finishTruckPluginLeftover appId gameName gameBin
  ${IfNot} ${SectionIsSelected} ${SecTrucks}
  ${OrIf} ${gameBin} == ""
    ReadRegStr $R3 HKCU "${UNINSTALL_KEY}" "TruckPlugin${appId}"
    ${If} $R3 != ""
      StrCpy $R1 ${appId}
      StrCpy $R2 "${gameName}"
      Call removeTruckPluginCopy
      ${If} $R4 == 1
        DeleteRegValue HKCU "${UNINSTALL_KEY}" "TruckPlugin${appId}"
        DeleteRegValue HKCU "${UNINSTALL_KEY}" "TruckPluginFolder${appId}"
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

; Also in an upgrade: the option unticked means no plugin in the games, whoever put the copies there.
Section "-Truck plugin leftovers"
  StrCpy $1 ""
  !insertmacro finishTruckPluginLeftover ${ETS2_APP_ID} "Euro Truck Simulator 2" $ets2Bin
  !insertmacro finishTruckPluginLeftover ${ATS_APP_ID} "American Truck Simulator" $atsBin
  ${If} $1 != ""
    MessageBox MB_OK|MB_ICONINFORMATION "$1" /SD IDOK
  ${EndIf}
SectionEnd

; Removes the recorded copy of a PiBoSo plugin in $R3 and the one moved aside beside it (.old), and
; their plugins folder when the installer made it and nothing else is in it, as for the trucks. In:
; $R1 the game's key (krp, mxbikes, gpbikes), $R2 its name. Out: $R4 1 when nothing is left, else 0.
!macro defineRemovePiBoSoPluginCopy prefix
Function ${prefix}removePiBoSoPluginCopy
  Push $0
  Push $2
  Delete "$R3.old"
  Delete "$R3"
  ${If} ${FileExists} "$R3"
  ${AndIfNot} ${FileExists} "$R3.old"
    Rename "$R3" "$R3.old"
  ${EndIf}
  StrCpy $R4 1
  ${If} ${FileExists} "$R3"
    StrCpy $0 "$R3"
    Call ${prefix}deleteAtRestart
    StrCpy $R4 0
  ${EndIf}
  ${If} ${FileExists} "$R3.old"
    StrCpy $0 "$R3.old"
    Call ${prefix}deleteAtRestart
    StrCpy $R4 0
  ${EndIf}
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "PiBoSoPluginFolder$R1"
  ${If} $0 == 1
    ${GetParent} "$R3" $2
    RMDir "$2"
    ${If} $R4 == 0
      System::Call "kernel32::MoveFileExW(w r2, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i"
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $0
FunctionEnd
!macroend
!insertmacro defineRemovePiBoSoPluginCopy ""
!insertmacro defineRemovePiBoSoPluginCopy "un."

; Copies one PiBoSo game's plugin from the install folder into the game's plugins folder (made when
; missing) and records the copy, and whether the folder was made, for the uninstaller. A copy a
; running game holds is moved aside, as for the trucks: the game keeps it until it restarts.
; In: $R0 the game's folder, $R1 its key, $R2 its name, $R6 the plugin's file name.
Function copyPiBoSoPlugin
  Push $0
  Push $1
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R5 "$R0\plugins"
  StrCpy $1 ""
  ; The game moved since the last install: the copy at the old place goes.
  ReadRegStr $R3 HKCU "${UNINSTALL_KEY}" "PiBoSoPlugin$R1"
  ${If} $R3 != ""
  ${AndIf} $R3 != "$R5\$R6"
    Call removePiBoSoPluginCopy
    DeleteRegValue HKCU "${UNINSTALL_KEY}" "PiBoSoPluginFolder$R1"
  ${EndIf}
  ${IfNot} ${FileExists} "$R5\*.*"
    CreateDirectory "$R5"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "PiBoSoPluginFolder$R1" 1
  ${EndIf}
  ${If} ${FileExists} "$R5\$R6"
    ClearErrors
    FileOpen $0 "$R5\$R6" a
    ${If} ${Errors}
      Delete "$R5\$R6.old"
      Rename "$R5\$R6" "$R5\$R6.old"
      DetailPrint "$R2 is running and keeps the plugin it loaded: restart it to load the new one"
      StrCpy $1 "$R2 is running and keeps the Ventora plugin it loaded. Restart the game to load the new one."
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
  ClearErrors
  CopyFiles /SILENT "$INSTDIR\$R6" "$R5"
  ${If} ${Errors}
    DetailPrint "Wind in $R2: the plugin could not be copied into $R5"
  ${Else}
    WriteRegStr HKCU "${UNINSTALL_KEY}" "PiBoSoPlugin$R1" "$R5\$R6"
    DetailPrint "Wind in $R2: the plugin is in $R5"
  ${EndIf}
  Delete "$R5\$R6.old"
  ${If} ${FileExists} "$R5\$R6.old"
    StrCpy $0 "$R5\$R6.old"
    Call deleteAtRestart
  ${EndIf}
  ${If} $1 != ""
    MessageBox MB_OK|MB_ICONINFORMATION "$1" /SD IDOK
  ${EndIf}
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $1
  Pop $0
FunctionEnd

!macro copyPiBoSoPluginInto gameDir key gameName pluginFile
  ${If} ${gameDir} != ""
    StrCpy $R0 ${gameDir}
    StrCpy $R1 ${key}
    StrCpy $R2 "${gameName}"
    StrCpy $R6 "${pluginFile}"
    Call copyPiBoSoPlugin
  ${EndIf}
!macroend

Section "Wind in Kart Racing Pro, MX Bikes and GP Bikes" SecKartsAndBikes
  !insertmacro copyPiBoSoPluginInto $krpDir krp "Kart Racing Pro" ${KRP_PLUGIN}
  !insertmacro copyPiBoSoPluginInto $mxbikesDir mxbikes "MX Bikes" ${MXBIKES_PLUGIN}
  !insertmacro copyPiBoSoPluginInto $gpbikesDir gpbikes "GP Bikes" ${GPBIKES_PLUGIN}
SectionEnd

; A recorded copy of a PiBoSo plugin, one an uninstall had to leave in a running game or one of the
; installed Ventora's with the option now unticked: taken away, unless this install has just put a
; new copy in its place.
!macro finishPiBoSoPluginLeftover key gameName gameDir
  ${IfNot} ${SectionIsSelected} ${SecKartsAndBikes}
  ${OrIf} ${gameDir} == ""
    ReadRegStr $R3 HKCU "${UNINSTALL_KEY}" "PiBoSoPlugin${key}"
    ${If} $R3 != ""
      StrCpy $R1 ${key}
      StrCpy $R2 "${gameName}"
      Call removePiBoSoPluginCopy
      ${If} $R4 == 1
        DeleteRegValue HKCU "${UNINSTALL_KEY}" "PiBoSoPlugin${key}"
        DeleteRegValue HKCU "${UNINSTALL_KEY}" "PiBoSoPluginFolder${key}"
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

Section "-Kart and bike plugin leftovers"
  StrCpy $1 ""
  !insertmacro finishPiBoSoPluginLeftover krp "Kart Racing Pro" $krpDir
  !insertmacro finishPiBoSoPluginLeftover mxbikes "MX Bikes" $mxbikesDir
  !insertmacro finishPiBoSoPluginLeftover gpbikes "GP Bikes" $gpbikesDir
  ${If} $1 != ""
    MessageBox MB_OK|MB_ICONINFORMATION "$1" /SD IDOK
  ${EndIf}
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

;  The first and second quoted texts of a line of Steam's libraryfolders.vdf, unescaped
; (\\ is one backslash there). In: $R0 the line. Out: $R1 the key, $R2 the value.
Function vdfKeyValue
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  StrCpy $R1 ""
  StrCpy $R2 ""
  StrCpy $R3 0 ; position
  StrCpy $R4 0 ; quotes passed
  StrLen $R5 $R0
  ${While} $R3 < $R5
    StrCpy $R6 $R0 1 $R3
    ${If} $R6 == '"'
      IntOp $R4 $R4 + 1
    ${ElseIf} $R4 == 1
    ${OrIf} $R4 == 3
      ${If} $R6 == "\"
        IntOp $R3 $R3 + 1
        StrCpy $R6 $R0 1 $R3
      ${EndIf}
      ${If} $R4 == 1
        StrCpy $R1 "$R1$R6"
      ${Else}
        StrCpy $R2 "$R2$R6"
      ${EndIf}
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${EndWhile}
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
FunctionEnd

; A UTF-8 file of Steam's, read whole and converted to UTF-16 with a NUL at its end. A library path
; may hold any letter (an accented user name, a German folder): FileRead would convert through the
; ANSI code page. In: $R0 the file. Out: $R0 the text (System::Free it when done), or 0.
Function readUtf8Text
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  StrCpy $4 0
  ClearErrors
  FileOpen $1 "$R0" r
  ${IfNot} ${Errors}
    FileSeek $1 0 END $2
    FileSeek $1 0 SET
    IntOp $5 $2 + 1
    System::Alloc $5
    Pop $3
    System::Call "kernel32::ReadFile(p r1, p r3, i r2, *i .r5, p 0) i .r6"
    FileClose $1
    ${If} $6 != 0
    ${AndIf} $5 > 0
      System::Call "kernel32::MultiByteToWideChar(i 65001, i 0, p r3, i r5, p 0, i 0) i .r6"
      ${If} $6 > 0
        IntOp $2 $6 + 1
        IntOp $2 $2 * 2
        System::Alloc $2
        Pop $4
        System::Call "kernel32::MultiByteToWideChar(i 65001, i 0, p r3, i r5, p r4, i r6)"
        ; The text ends with a NUL, for the search for each line's end.
        IntOp $2 $6 * 2
        IntPtrOp $2 $4 + $2
        System::Call "*$2(&i2 0)"
      ${EndIf}
    ${EndIf}
    System::Free $3
  ${EndIf}
  StrCpy $R0 $4
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; The next line of a text from readUtf8Text, without its line feed, cut at NSIS's string size.
; In and out: $R7 where the line starts, 0 once the last line is taken. Out: $R0 the line.
Function nextLine
  Push $0
  Push $1
  System::Call "msvcrt::wcschr(p R7, i 10) p .r0"
  ${If} $0 P= 0
    StrCpy $1 ${NSIS_MAX_STRLEN}
  ${Else}
    IntPtrOp $1 $0 - $R7
    IntOp $1 $1 / 2
    IntOp $1 $1 + 1 ; with room for the NUL
    ${If} $1 > ${NSIS_MAX_STRLEN}
      StrCpy $1 ${NSIS_MAX_STRLEN}
    ${EndIf}
  ${EndIf}
  System::Call "kernel32::lstrcpynW(w .R0, p R7, i r1)"
  ${If} $0 P= 0
    StrCpy $R7 0
  ${Else}
    IntPtrOp $R7 $0 + 2
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; One truck game in one Steam library. The library holds it when Steam's manifest of the game is
; there, and the folder the manifest names under steamapps\common holds the game's 64-bit build: a
; library entry or a manifest that outlived the game's files must not get a plugins folder made
; in an empty place. In: $R0 the library, $R1 the game's app id. Out: $R0 the game's bin\win_x64
; folder, or "".
Function truckGameBin
  Push $0
  Push $1
  Push $2
  Push $R1
  Push $R2
  Push $R7
  StrCpy $0 $R0
  StrCpy $1 "" ; the game's folder name
  StrCpy $R0 "$0\steamapps\appmanifest_$R1.acf"
  Call readUtf8Text
  StrCpy $2 $R0
  StrCpy $R7 $R0
  ${DoWhile} $R7 P<> 0
    Call nextLine
    Call vdfKeyValue
    ${If} $R1 == "installdir"
      StrCpy $1 $R2
      ${Break}
    ${EndIf}
  ${Loop}
  ${If} $2 P<> 0
    System::Free $2
  ${EndIf}
  StrCpy $R0 ""
  ; A folder name, never a path that leads out of steamapps\common.
  System::Call "msvcrt::wcspbrk(w r1, w '\/:') p .r2"
  ${If} $1 != ""
  ${AndIf} $1 != "."
  ${AndIf} $1 != ".."
  ${AndIf} $2 P= 0
  ${AndIf} ${FileExists} "$0\steamapps\common\$1\bin\win_x64\*.*"
    StrCpy $R0 "$0\steamapps\common\$1\bin\win_x64"
  ${EndIf}
  Pop $R7
  Pop $R2
  Pop $R1
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Finds the truck games through Steam: its folder from the registry (HKCU for the user's Steam, else
; where Steam's setup recorded it for the machine), its libraries from libraryfolders.vdf, and the
; games in each library through their manifests. Sets $ets2Bin and $atsBin; when several libraries
; hold a game, the last listed wins.
Function findTruckGames
  Push $0
  Push $1
  Push $R0
  Push $R1
  Push $R2
  Push $R7
  StrCpy $ets2Bin ""
  StrCpy $atsBin ""
  ReadRegStr $0 HKCU "Software\Valve\Steam" "SteamPath"
  ${If} $0 == ""
    ReadRegStr $0 HKLM "SOFTWARE\WOW6432Node\Valve\Steam" "InstallPath"
  ${EndIf}
  ${If} $0 != ""
    ; Steam writes SteamPath with forward slashes.
    ${WordReplace} $0 "/" "\" "+" $0
    StrCpy $R0 "$0\steamapps\libraryfolders.vdf"
    Call readUtf8Text
    StrCpy $1 $R0
    StrCpy $R7 $R0
    ${DoWhile} $R7 P<> 0
      Call nextLine
      Call vdfKeyValue
      ${If} $R1 == "path"
      ${AndIf} $R2 != ""
        StrCpy $0 $R2
        StrCpy $R0 $0
        StrCpy $R1 ${ETS2_APP_ID}
        Call truckGameBin
        ${If} $R0 != ""
          StrCpy $ets2Bin $R0
        ${EndIf}
        StrCpy $R0 $0
        StrCpy $R1 ${ATS_APP_ID}
        Call truckGameBin
        ${If} $R0 != ""
          StrCpy $atsBin $R0
        ${EndIf}
      ${EndIf}
    ${Loop}
    ${If} $1 P<> 0
      System::Free $1
    ${EndIf}
  ${EndIf}
  Pop $R7
  Pop $R2
  Pop $R1
  Pop $R0
  Pop $1
  Pop $0
FunctionEnd

; The PiBoSo games in one Steam library: each folder of its steamapps\common that holds the game's
; program. In: $R0 the library. Sets $krpDir, $mxbikesDir, $gpbikesDir when found there.
Function piBoSoGamesIn
  Push $0
  Push $1
  ClearErrors
  FindFirst $0 $1 "$R0\steamapps\common\*"
  ${DoUntil} ${Errors}
    ${If} $1 != "."
    ${AndIf} $1 != ".."
      ${If} ${FileExists} "$R0\steamapps\common\$1\kart.exe"
        StrCpy $krpDir "$R0\steamapps\common\$1"
      ${EndIf}
      ${If} ${FileExists} "$R0\steamapps\common\$1\mxbikes.exe"
        StrCpy $mxbikesDir "$R0\steamapps\common\$1"
      ${EndIf}
      ${If} ${FileExists} "$R0\steamapps\common\$1\gpbikes.exe"
        StrCpy $gpbikesDir "$R0\steamapps\common\$1"
      ${EndIf}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
  Pop $1
  Pop $0
FunctionEnd

; Finds the PiBoSo games through Steam's libraries, as findTruckGames finds its libraries; when
; several hold a game, the last listed wins.
Function findPiBoSoGames
  Push $0
  Push $1
  Push $R0
  Push $R1
  Push $R2
  Push $R7
  StrCpy $krpDir ""
  StrCpy $mxbikesDir ""
  StrCpy $gpbikesDir ""
  ReadRegStr $0 HKCU "Software\Valve\Steam" "SteamPath"
  ${If} $0 == ""
    ReadRegStr $0 HKLM "SOFTWARE\WOW6432Node\Valve\Steam" "InstallPath"
  ${EndIf}
  ${If} $0 != ""
    ${WordReplace} $0 "/" "\" "+" $0
    StrCpy $R0 "$0\steamapps\libraryfolders.vdf"
    Call readUtf8Text
    StrCpy $1 $R0
    StrCpy $R7 $R0
    ${DoWhile} $R7 P<> 0
      Call nextLine
      Call vdfKeyValue
      ${If} $R1 == "path"
      ${AndIf} $R2 != ""
        StrCpy $R0 $R2
        Call piBoSoGamesIn
      ${EndIf}
    ${Loop}
    ${If} $1 P<> 0
      System::Free $1
    ${EndIf}
  ${EndIf}
  Pop $R7
  Pop $R2
  Pop $R1
  Pop $R0
  Pop $1
  Pop $0
FunctionEnd

Function .onInit
  ; An upgrade keeps the earlier choice: no Startup shortcut then, none now.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "UninstallString"
  ${If} $0 != ""
  ${AndIfNot} ${FileExists} "$SMSTARTUP\${SHORTCUT}"
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
  ; Offered, and ticked, only when Steam has either truck game; otherwise not shown at all.
  Call findTruckGames
  ${If} $ets2Bin == ""
  ${AndIf} $atsBin == ""
    !insertmacro UnselectSection ${SecTrucks}
    SectionSetText ${SecTrucks} ""
  ${EndIf}
  Call findPiBoSoGames
  ${If} $krpDir == ""
  ${AndIf} $mxbikesDir == ""
  ${AndIf} $gpbikesDir == ""
    !insertmacro UnselectSection ${SecKartsAndBikes}
    SectionSetText ${SecKartsAndBikes} ""
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSTARTUP" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NOTRUCKS" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecTrucks}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NOKARTS" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecKartsAndBikes}
  ${EndIf}
FunctionEnd

; Removes the copy of the plugin made into one game's folder, and the plugins folder when the
; installer made it and nothing else is in it. The record of a copy a running game holds stays.
!macro removeTruckPlugin appId gameName
  ReadRegStr $R3 HKCU "${UNINSTALL_KEY}" "TruckPlugin${appId}"
  ${If} $R3 != ""
    StrCpy $R1 ${appId}
    StrCpy $R2 "${gameName}"
    Call un.removeTruckPluginCopy
    ${If} $R4 == 1
      DeleteRegValue HKCU "${UNINSTALL_KEY}" "TruckPlugin${appId}"
      DeleteRegValue HKCU "${UNINSTALL_KEY}" "TruckPluginFolder${appId}"
    ${Else}
      StrCpy $truckPluginLeft 1
    ${EndIf}
  ${EndIf}
!macroend

!macro removePiBoSoPlugin key gameName
  ReadRegStr $R3 HKCU "${UNINSTALL_KEY}" "PiBoSoPlugin${key}"
  ${If} $R3 != ""
    StrCpy $R1 ${key}
    StrCpy $R2 "${gameName}"
    Call un.removePiBoSoPluginCopy
    ${If} $R4 == 1
      DeleteRegValue HKCU "${UNINSTALL_KEY}" "PiBoSoPlugin${key}"
      DeleteRegValue HKCU "${UNINSTALL_KEY}" "PiBoSoPluginFolder${key}"
    ${Else}
      StrCpy $truckPluginLeft 1
    ${EndIf}
  ${EndIf}
!macroend

Section "Uninstall"
  Call un.closeVentora
  StrCpy $1 "" ; what the user is told about copies left in running games
  !insertmacro removeTruckPlugin ${ETS2_APP_ID} "Euro Truck Simulator 2"
  !insertmacro removeTruckPlugin ${ATS_APP_ID} "American Truck Simulator"
  !insertmacro removePiBoSoPlugin krp "Kart Racing Pro"
  !insertmacro removePiBoSoPlugin mxbikes "MX Bikes"
  !insertmacro removePiBoSoPlugin gpbikes "GP Bikes"
  ${If} $1 != ""
    MessageBox MB_OK|MB_ICONINFORMATION "$1" /SD IDOK
  ${EndIf}
  Delete "$INSTDIR\ventora.exe"
  Delete "$INSTDIR\publish_game.exe"
  Delete "$INSTDIR\ventora-board.exe"
  Delete "$INSTDIR\${TRUCK_PLUGIN}"
  Delete "$INSTDIR\${KRP_PLUGIN}"
  Delete "$INSTDIR\${MXBIKES_PLUGIN}"
  Delete "$INSTDIR\${GPBIKES_PLUGIN}"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder the user chose may hold files of theirs.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$SMPROGRAMS\${SETUP_SHORTCUT}"
  Delete "$SMSTARTUP\${SHORTCUT}"
  ${If} $truckPluginLeft == 1
    ; The entry goes from Apps & features (without its DisplayName it is not listed), but the
    ; record of each copy left behind stays, for the next install to take it away.
    StrCpy $0 0
    ${Do}
      ClearErrors
      EnumRegValue $2 HKCU "${UNINSTALL_KEY}" $0
      ${If} ${Errors}
      ${OrIf} $2 == ""
        ${Break}
      ${EndIf}
      StrCpy $3 $2 11
      StrCpy $4 $2 12
      ${If} $3 == "TruckPlugin"
      ${OrIf} $4 == "PiBoSoPlugin"
        IntOp $0 $0 + 1
      ${Else}
        DeleteRegValue HKCU "${UNINSTALL_KEY}" $2
      ${EndIf}
    ${Loop}
  ${Else}
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
  DetailPrint "Your settings stay in $APPDATA\Ventora\config.bin"
SectionEnd
