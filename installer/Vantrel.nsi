; VantrelSetup.exe: installs the tray service, the device library with its
; SDK and the tools; a Start-menu entry, an optional start at log-on, and an
; uninstaller registered with Windows. Built by CMake (installer target),
; which passes the files and the target with -D:
;   OUTFILE, VANTREL_EXE, PELLADEX_DLL, PELLADEX_LIB, PELLADEX_LIB_NAME,
;   PELLADEX_H, PROBE_EXE, MONITOR_EXE, DEFAULTS (the generated defaults.nsh:
;   the program's built-in device list), and AMD64 for the x86_64 test
;   flavour.
; Silent: /S, with /AUTOSTART=1 or /AUTOSTART=0 for the log-on choice
; (without it, a silent install keeps whatever the Run value says now) and
; /D=DIR (last) for the folder.

Unicode true
!ifdef AMD64
  Target amd64-unicode
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma

!define PRODUCT "Vantrel"
!define VERSION "1.1.4.9"
!define PUBLISHER "Morvik"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "MorvikVantrel"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!ifdef AMD64
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "TextFunc.nsh"
!include "${DEFAULTS}"
!ifdef AMD64
  !include "x64.nsh"
!endif

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Vantrel.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Ends a running Vantrel through its quit command (its shut-down restores
; the frame) before its files are replaced or removed. The command waits
; until the instance is gone; 1 means it did not end in time.
!macro StopRunning un
; Any copy's command ends the one instance, wherever it was started from:
; the one in the target folder, else the one installed before elsewhere.
Function ${un}StopRunning
  StrCpy $3 "$INSTDIR\Vantrel.exe"
  ${IfNot} ${FileExists} $3
    ReadRegStr $3 HKLM "${UNINST_KEY}" "InstallLocation"
    StrCpy $3 "$3\Vantrel.exe"
    ${IfNot} ${FileExists} $3
      Return
    ${EndIf}
  ${EndIf}
  DetailPrint "Ending a running Vantrel"
  ExecWait '"$3" --quit' $0
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONSTOP "Vantrel is still running and did not end. Close it from its tray icon, then run this again." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
  ; The process is gone; its image may be let go a moment later.
  StrCpy $1 0
  ${Do}
    ClearErrors
    FileOpen $2 $3 a
    ${IfNot} ${Errors}
      FileClose $2
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > 50
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
FunctionEnd
!macroend
!insertmacro StopRunning ""
!insertmacro StopRunning "un."

Section "Vantrel (required)" SecMain
  SectionIn RO
  Call StopRunning
  SetOutPath "$INSTDIR"
  File "/oname=Vantrel.exe" "${VANTREL_EXE}"
  File "/oname=Pelladex.dll" "${PELLADEX_DLL}"
  File "/oname=pelladex-probe.exe" "${PROBE_EXE}"
  File "/oname=monitor.exe" "${MONITOR_EXE}"
  ; For programs that use the device library.
  SetOutPath "$INSTDIR\SDK"
  File "/oname=Pelladex.h" "${PELLADEX_H}"
  File "/oname=${PELLADEX_LIB_NAME}" "${PELLADEX_LIB}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Vantrel.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Vantrel.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "VersionMajor" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "VersionMinor" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

; The same value the program's own check box writes: the program's full
; path, for the user who installs.
Section /o "Start at log-on" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" "$INSTDIR\Vantrel.exe"
SectionEnd

; Left unticked over an existing entry: the user chose to stop it.
Section "-autostart off"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    Call RemoveOwnRunValue
  ${EndIf}
SectionEnd

!macro RemoveOwnRunValue un
; Only an entry that starts this copy; another copy keeps its own.
Function ${un}RemoveOwnRunValue
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == "$INSTDIR\Vantrel.exe"
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RemoveOwnRunValue ""
!insertmacro RemoveOwnRunValue "un."

Function .onInit
  !ifdef AMD64
    SetRegView 64
  !endif
  ; The log-on choice starts as it stands now; /AUTOSTART= overrides it.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 != ""
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/AUTOSTART=" $2
  ${IfNot} ${Errors}
    ${If} $2 == "1"
      !insertmacro SelectSection ${SecAutostart}
    ${ElseIf} $2 == "0"
      !insertmacro UnselectSection ${SecAutostart}
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "/AUTOSTART= takes 1 or 0, not $\"$2$\"." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !ifdef AMD64
    SetRegView 64
  !endif
FunctionEnd

; The settings file stays only when the user changed it: mouse emulation
; switched off, the device list edited, or anything else put in it. What the
; program writes by itself (the built-in device list at its first discovery,
; mouse emulation on) goes with the program. The list is longer than an
; installer string, so it is compared in the pieces FileRead returns
; (VIDPID_LINE_0.. from defaults.nsh, cut the same way).
!if ${NSIS_MAX_STRLEN} != ${VIDPID_PIECE_STRLEN}
  !error "defaults.nsh was cut for another string length"
!endif
!macro ComparePiece i
  !ifdef VIDPID_LINE_${i}
    ${If} $3 == 0
      ClearErrors
      FileRead $2 $1
      ${TrimNewLines} $1 $1
      ${If} ${Errors}
      ${OrIf} $1 S!= "${VIDPID_LINE_${i}}"
        StrCpy $3 1
      ${EndIf}
    ${EndIf}
  !endif
!macroend

Function un.SettingsChanged
  StrCpy $3 0  ; 1 once something differs
  FileOpen $2 "$INSTDIR\Vantrel.ini" r
  ${Do}
    ClearErrors
    FileRead $2 $1
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    StrCpy $4 $1 12
    ${TrimNewLines} $1 $1
    ${If} $4 S== "Vid&PidList="
      ${If} $1 S!= "${VIDPID_LINE_0}"
        StrCpy $3 1
      ${EndIf}
      !insertmacro ComparePiece 1
      !insertmacro ComparePiece 2
      !insertmacro ComparePiece 3
    ${ElseIf} $1 != ""
    ${AndIf} $1 S!= "[Settings]"
    ${AndIf} $1 S!= "MouseEnable=1"
      StrCpy $3 1
    ${EndIf}
  ${LoopUntil} $3 == 1
  FileClose $2
  Push $3
FunctionEnd

Section "Uninstall"
  Call un.StopRunning
  Delete "$INSTDIR\Vantrel.exe"
  Delete "$INSTDIR\Pelladex.dll"
  Delete "$INSTDIR\pelladex-probe.exe"
  Delete "$INSTDIR\monitor.exe"
  Delete "$INSTDIR\SDK\Pelladex.h"
  Delete "$INSTDIR\SDK\${PELLADEX_LIB_NAME}"
  RMDir "$INSTDIR\SDK"
  ${If} ${FileExists} "$INSTDIR\Vantrel.ini"
    Call un.SettingsChanged
    Pop $0
    ${If} $0 == 1
      DetailPrint "Kept the changed settings: $INSTDIR\Vantrel.ini"
    ${Else}
      Delete "$INSTDIR\Vantrel.ini"
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  Call un.RemoveOwnRunValue
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
