; Kestrolune's Windows installer: for every user of the machine, into
; Program Files\Kestrolune, with Start-menu entries, a start at login, and an
; uninstaller registered in Add/Remove Programs. /S installs (and uninstalls)
; silently. The uninstaller leaves each user's %USERPROFILE%\kestrolune.json.
;
; CMakeLists.txt here runs makensis on it with
;   VERSION, VERSION_QUAD   the project's version (0.1, 0.1.0.0)
;   OUTFILE                 the installer to write
;   STAGE_NSH               the lists of the staged files (stage.sh)
;   ICON                    the programs' icon
;   MAIN_PROGRAM            kestrolune.exe, or kestrolune-demo.exe in a build
;                           without Windows' Bluetooth
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include "${STAGE_NSH}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrolune"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Kestrolune"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kestrolune"
; A new version goes where the last one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=0 "ProductName" "Kestrolune"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "Kestrolune ${VERSION} setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "© 2026 The Kestrolune developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The window speaks Chinese; the setup speaks the system's language when it
; is one of these, English otherwise.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

; Program Files, the all-users Start menu and HKLM want an administrator;
; the 64-bit registry is the one 64-bit programs and Windows itself read.
!macro MACHINE_WIDE
  SetShellVarContext all
  SetRegView 64
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP|MB_OK "Kestrolune is installed for all users: run this as an administrator." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro MACHINE_WIDE
FunctionEnd

Function un.onInit
  !insertmacro MACHINE_WIDE
FunctionEnd

Section
  ; An installation already there (an earlier version) goes first, by its
  ; own uninstaller run in place: what it had and this one lacks goes too,
  ; and this uninstaller's lists stay the whole truth.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S _?=$0' $1
    ${If} $1 != 0
      MessageBox MB_ICONSTOP|MB_OK "The Kestrolune installed in $0 could not be removed (status $1)." /SD IDOK
      Abort
    ${EndIf}
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  !insertmacro STAGE_INSTALL
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcuts' working folder is $OUTDIR, the programs' own (which they
  ; also make their working folder themselves).
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Kestrolune.lnk" "$INSTDIR\${MAIN_PROGRAM}" "" "$INSTDIR\${MAIN_PROGRAM}" 0
  CreateShortcut "$SMPROGRAMS\Kestrolune demo.lnk" "$INSTDIR\kestrolune-demo.exe" "" "$INSTDIR\kestrolune-demo.exe" 0

  ; The start at login, for every user: one value, which the uninstaller
  ; takes away whole, and which Task Manager's Startup tab lists.
  WriteRegStr HKLM "${RUN_KEY}" "Kestrolune" '"$INSTDIR\${MAIN_PROGRAM}"'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kestrolune"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Kestrolune developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${MAIN_PROGRAM},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${STAGE_SIZE_KB}
SectionEnd

; What the installer put there, file by file: a folder chosen by hand is
; never emptied beyond that. The users' kestrolune.json stay.
Section "Uninstall"
  Delete "$SMPROGRAMS\Kestrolune.lnk"
  Delete "$SMPROGRAMS\Kestrolune demo.lnk"
  DeleteRegValue HKLM "${RUN_KEY}" "Kestrolune"
  !insertmacro STAGE_UNINSTALL
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
