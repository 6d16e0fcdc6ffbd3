; The Windows installer of reskeeper, for all users of a machine: the program in
; %ProgramFiles%\reskeeper, the shared Data\Pref.txt in %ProgramData%\reskeeper that every user
; may write, and a shortcut in the all-users Startup folder that starts the program there at
; every logon. Built by CMake (target `installer`), which defines VERSION, PROGRAM and OUTFILE.
; Silent with /S, both the installer and the uninstaller.

!ifndef VERSION | PROGRAM | OUTFILE
  !error "define VERSION (x.y.z), PROGRAM (reskeeper.exe) and OUTFILE"
!endif
!ifndef TARGET
  !define TARGET amd64-unicode
!endif

Unicode true
Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\reskeeper"
!define STARTUP_LINK "$SMSTARTUP\reskeeper.lnk"
; $APPDATA is %ProgramData% once the shell folders are the all-users ones.
!define SHARED "$APPDATA\reskeeper"

Name "reskeeper ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\reskeeper"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "reskeeper"
VIAddVersionKey "CompanyName" "reskeeper"
VIAddVersionKey "FileDescription" "reskeeper setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) the reskeeper developers"

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include MUI2.nsh

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start reskeeper now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartForDesktopUser

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Both the installer and the uninstaller refuse 32-bit Windows (which only a 32-bit installer
; stub lives to see; a 64-bit one is refused by Windows itself) and users who are no
; administrators, and work on the all-users folders and the 64-bit registry.
!macro Prepare
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "reskeeper needs a 64-bit edition of Windows." /SD IDOK
    SetErrorLevel 1
    Quit
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "reskeeper is installed for all users: this needs an administrator." \
      /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
  SetShellVarContext all
  SetRegView 64
!macroend

; Ends every running reskeeper.exe, whoever runs it (its file cannot be replaced or removed
; while it runs), and removes $INSTDIR\reskeeper.exe. Aborts when the file stays.
!macro EndProgram un
Function ${un}EndProgram
  DetailPrint "Ending reskeeper.exe where it runs"
  nsExec::ExecToLog '"$SYSDIR\taskkill.exe" /F /IM reskeeper.exe'
  Pop $0
  ; An ended process lets go of its file a moment later.
  ${ForEach} $1 1 40 + 1
    Delete "$INSTDIR\reskeeper.exe"
    ${IfNot} ${FileExists} "$INSTDIR\reskeeper.exe"
      ${Break}
    ${EndIf}
    Sleep 250
  ${Next}
  ${If} ${FileExists} "$INSTDIR\reskeeper.exe"
    MessageBox MB_ICONSTOP "$INSTDIR\reskeeper.exe is in use and cannot be replaced." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd
!macroend
!insertmacro EndProgram ""
!insertmacro EndProgram "un."

Function .onInit
  !insertmacro Prepare
FunctionEnd

Function un.onInit
  !insertmacro Prepare
FunctionEnd

Section "reskeeper"
  Call EndProgram
  SetOutPath "$INSTDIR"
  File "/oname=reskeeper.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The program never creates its file: an empty one is where it records users. One that
  ; exists holds their resolutions and stays as it is.
  CreateDirectory "${SHARED}\Data"
  ${IfNot} ${FileExists} "${SHARED}\Data\Pref.txt"
    ClearErrors
    FileOpen $0 "${SHARED}\Data\Pref.txt" w
    FileClose $0
    ${If} ${Errors}
      MessageBox MB_ICONSTOP "Could not create ${SHARED}\Data\Pref.txt." /SD IDOK
      Abort
    ${EndIf}
  ${EndIf}
  ; Every user's program writes the shared file: Users (by its SID, which reads the same in
  ; every language of Windows) may modify the folder and what it holds, inherited by files that
  ; inherit, the existing Pref.txt among them.
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "${SHARED}\Data" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_ICONEXCLAMATION "Could not let all users write ${SHARED}\Data (icacls: $0): \
      only administrators' resolutions will be recorded." /SD IDOK
    SetErrorLevel 1
  ${EndIf}

  ; The shortcut's working folder (the output path when it is made) is where the program looks
  ; for Data\Pref.txt.
  SetOutPath "${SHARED}"
  CreateShortCut "${STARTUP_LINK}" "$INSTDIR\reskeeper.exe" "" "" "" SW_SHOWNORMAL "" \
    "Keeps a screen resolution per user"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "reskeeper"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "reskeeper"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\reskeeper.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The Finish page's offer: the installer runs elevated, so it asks the desktop's shell to open
; the Startup shortcut, which starts the program as the user who is logged on, unelevated, in
; the shortcut's working folder.
Function StartForDesktopUser
  Exec '"$WINDIR\explorer.exe" "${STARTUP_LINK}"'
FunctionEnd

; Removes the program, the uninstaller, the shortcut and the registration; the users' file and
; its folder in %ProgramData% stay.
Section "Uninstall"
  Call un.EndProgram
  Delete "${STARTUP_LINK}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
