; The Windows installer of reskeeper, for all users of a machine: the programs in
; %ProgramFiles%\reskeeper (or wherever /D= puts it) and a shortcut in the all-users Startup folder
; that starts the keeper at every logon, in one of two layouts. Per user (/LAYOUT=user, the
; default): the shortcut runs reskeeper-session.exe, which starts the keeper in the user's own
; %APPDATA%\reskeeper, and nothing is made under %ProgramData%. Shared (/LAYOUT=shared): one
; Data\Pref.txt in %ProgramData%\reskeeper that every user's keeper works in. An install keeps
; the installed layout unless the command line names one (one that predates the choice had the
; shared file). Built by CMake (target `installer`), which defines FACTS (product.nsh, the
; product's facts: names, registry key and values, exit codes), VERSION, PROGRAM, SESSION
; (reskeeper-session.exe), HELPER (setuphelper.exe), ICON and OUTFILE; CTL and SETTINGS (the
; programs for people) and SIGN_SCRIPT (signs the uninstaller and the setup) when it has them.
; Silent with /S, both the installer and the uninstaller; every exit code is in the README's
; table.
;
; Rights: only Administrators and SYSTEM may change the program folder, %ProgramData%\reskeeper
; and its Data folder; Users read them. Users may read and write the bytes of Pref.txt, nothing
; more. The helper makes each folder (and an empty Pref.txt) with its final rights, or locks it
; (holds it so that no one else may move it meanwhile, and refuses it while someone does), and
; sets every right on the objects it holds; the installer follows no link or junction, and grants
; nothing by name.

!ifndef FACTS | VERSION | PROGRAM | SESSION | HELPER | ICON | OUTFILE
  !error "define FACTS, VERSION (x.y.z), PROGRAM (reskeeper.exe), SESSION, HELPER, ICON and OUTFILE"
!endif
!include "${FACTS}"
!ifndef TARGET
  !define TARGET amd64-unicode
!endif

Unicode true
Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true
AllowSkipFiles off

!ifdef SIGN_SCRIPT
  !uninstfinalize '"${CMAKE}" "-DRESKEEPER_SIGN_INPUT=%1" -P "${SIGN_SCRIPT}"' = 0
  !finalize '"${CMAKE}" "-DRESKEEPER_SIGN_INPUT=%1" -P "${SIGN_SCRIPT}"' = 0
!endif

!define STARTUP_LINK "$SMSTARTUP\${STARTUP_SHORTCUT}"
!define SETTINGS_LINK "$SMPROGRAMS\${SETTINGS_SHORTCUT}"
; $APPDATA is %ProgramData% once the shell folders are the all-users ones.
!define SHARED "$APPDATA\${FOLDER_NAME}"

; Exit codes (the README's table), from the facts: EXIT_FAILED could not complete (running it
; again repairs); EXIT_RETRY another setup runs, or a reskeeper program would not end;
; EXIT_UNSUPPORTED 32-bit Windows; EXIT_NOT_ADMIN not elevated; EXIT_USAGE /LAYOUT= names no
; layout; EXIT_RESTART done, the uninstaller's own file goes at the next restart. The helper's
; refusals, from EXIT_REFUSED_LINK to EXIT_REFUSED_HELD, are passed on: nothing was installed.

Name "reskeeper ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${FOLDER_NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "${INSTALL_LOCATION_VALUE}"
BrandingText "reskeeper ${VERSION}"

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
!include nsDialogs.nsh

; The layout of this install: "user" or "shared" (the registry's Layout value).
Var Layout
Var LayoutUser
Var LayoutShared

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${__FILEDIR__}\wizard.bmp"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start reskeeper now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartForDesktopUser
!ifdef SETTINGS
  !define MUI_FINISHPAGE_SHOWREADME
  !define MUI_FINISHPAGE_SHOWREADME_TEXT "Open reskeeper Settings"
  !define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
  !define MUI_FINISHPAGE_SHOWREADME_FUNCTION OpenSettingsForDesktopUser
!endif

!insertmacro MUI_PAGE_DIRECTORY
Page custom LayoutPage LayoutPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowFinish
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Ends the installer or uninstaller with `code` after saying `text`.
!macro Fail code text
  MessageBox MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${code}
  Abort
!macroend

; Both the installer and the uninstaller refuse 32-bit Windows (which only a 32-bit installer
; stub lives to see; a 64-bit one is refused by Windows itself), users who are no
; administrators, and a second setup at the same time; they work on the all-users folders and
; the 64-bit registry, and bring the helper along.
!macro Prepare
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "reskeeper needs a 64-bit edition of Windows." /SD IDOK
    SetErrorLevel ${EXIT_UNSUPPORTED}
    Quit
  ${EndIf}
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "reskeeper is installed for all users: this needs an administrator." \
      /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
  System::Call 'kernel32::CreateMutexW(p 0, i 1, w "Global\reskeeper-setup") p .r1 ?e'
  Pop $0
  ${If} $0 == 183 ; ERROR_ALREADY_EXISTS
    MessageBox MB_ICONSTOP "Another reskeeper setup is running." /SD IDOK
    SetErrorLevel ${EXIT_RETRY}
    Quit
  ${EndIf}
  SetShellVarContext all
  SetRegView 64
  InitPluginsDir
  File "/oname=$PLUGINSDIR\setuphelper.exe" "${HELPER}"
!macroend

; Ends every running reskeeper program, whoever runs it (a file cannot be replaced or removed
; while it runs).
!macro EndPrograms un
Function ${un}EndPrograms
  DetailPrint "Ending the reskeeper programs where they run"
  nsExec::ExecToLog '"$PLUGINSDIR\setuphelper.exe" end ${RUNNING_PROGRAMS}'
  Pop $0
  ${If} $0 != 0
    !insertmacro Fail ${EXIT_RETRY} "A reskeeper program is running and could not be ended."
  ${EndIf}
FunctionEnd
!macroend
!insertmacro EndPrograms ""
!insertmacro EndPrograms "un."

; Runs the helper's `verb` (check program, check shared, program or shared) on `path`. A helper
; that could not be started at all ("error") is tried again, twice at most. Leaves its code in $0
; and its words in $1.
!macro RunHelper verb path
  ${ForEach} $2 1 3 + 1
    nsExec::ExecToStack '"$PLUGINSDIR\setuphelper.exe" ${verb} "${path}"'
    Pop $0
    Pop $1
    ${IfThen} $0 != "error" ${|} ${Break} ${|}
  ${Next}
!macroend

; Ends the setup when the helper's code in $0 is not 0: with its refusal (EXIT_REFUSED_LINK to
; EXIT_REFUSED_HELD) or with EXIT_FAILED, saying its words.
!macro RefuseUnlessDone path
  ${If} $0 != 0
    ${If} $0 < ${EXIT_REFUSED_LINK}
    ${OrIf} $0 > ${EXIT_REFUSED_HELD}
      StrCpy $1 "${path} could not be examined or locked ($0): $1"
      StrCpy $0 ${EXIT_FAILED}
    ${EndIf}
    !insertmacro Fail $0 "The installer refuses to install here:$\r$\n$1"
  ${EndIf}
!macroend

!macro Helper verb path
  !insertmacro RunHelper "${verb}" "${path}"
  !insertmacro RefuseUnlessDone "${path}"
!macroend

; The layout: the one /LAYOUT= names, else the installed one, else (an install that predates the
; choice recorded only its shared folder) the shared file, else each user's own.
Function .onInit
  !insertmacro Prepare
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LAYOUT=" $1
  ${If} ${Errors}
    ReadRegStr $1 HKLM "${REGISTRY_KEY}" "${LAYOUT_VALUE}"
    ReadRegStr $2 HKLM "${REGISTRY_KEY}" "${DATA_FOLDER_VALUE}"
    ${If} $1 != "${LAYOUT_SHARED}"
    ${AndIf} $1 != "${LAYOUT_USER}"
      StrCpy $1 ""
    ${EndIf}
    ${If} $1 == ""
    ${AndIf} $2 != ""
      StrCpy $1 ${LAYOUT_SHARED}
    ${EndIf}
    ${IfThen} $1 == "" ${|} StrCpy $1 ${DEFAULT_LAYOUT} ${|}
  ${EndIf}
  ${If} $1 == "${LAYOUT_SHARED}"
    StrCpy $Layout ${LAYOUT_SHARED}
  ${ElseIf} $1 == "${LAYOUT_USER}"
    StrCpy $Layout ${LAYOUT_USER}
  ${Else}
    MessageBox MB_ICONSTOP "/LAYOUT= takes user (each user's own file) or shared (one file for \
      everyone), not $1." /SD IDOK
    SetErrorLevel ${EXIT_USAGE}
    Quit
  ${EndIf}
FunctionEnd

; A page of its own for the layout, each user's own file first.
Function LayoutPage
  !insertmacro MUI_HEADER_TEXT "Where resolutions are kept" \
    "Choose whose file each user's resolution is kept in."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 0 100% 12u "&Each user's own file (recommended)"
  Pop $LayoutUser
  ${NSD_CreateLabel} 12u 14u -12u 30u "Kept in each user's profile (%APPDATA%\reskeeper): only that \
    user can change their resolution, and it follows them where profiles roam."
  Pop $0
  ${NSD_CreateRadioButton} 0 52u 100% 12u "&One file shared by every user"
  Pop $LayoutShared
  ${NSD_CreateLabel} 12u 66u -12u 30u "One table in ${SHARED}: an administrator can edit it \
    for everyone, and every user can change every user's resolution."
  Pop $0
  ${If} $Layout == ${LAYOUT_SHARED}
    ${NSD_Check} $LayoutShared
  ${Else}
    ${NSD_Check} $LayoutUser
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function LayoutPageLeave
  ${NSD_GetState} $LayoutShared $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Layout ${LAYOUT_SHARED}
  ${Else}
    StrCpy $Layout ${LAYOUT_USER}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro Prepare
FunctionEnd

Section "reskeeper"
  ; An install that stops anywhere before its end (a file that cannot be written) says so.
  SetErrorLevel ${EXIT_FAILED}
  ; Everything the installer will make or grant rights on is examined before anything changes.
  !insertmacro Helper "check program" "$INSTDIR"
  ${If} $Layout == ${LAYOUT_SHARED}
    !insertmacro Helper "check shared" "${SHARED}"
  ${EndIf}
  Call EndPrograms

  ; The helper makes the program folder with its final rights (or locks the one there) and
  ; examines and locks what it holds; then, in the shared layout, the shared folder, its Data
  ; folder and Pref.txt (an empty one where there is none: the program never creates its file;
  ; one that exists holds the users' resolutions and keeps every byte), as the MSI does. Only
  ; then is anything written; a program folder made here holds nothing when the shared folder is
  ; refused, and goes again. In the per-user layout nothing is made under %ProgramData%, and a
  ; shared folder there stays as it is (a machine moving to files per user takes its users'
  ; sizes from it).
  !insertmacro Helper program "$INSTDIR"
  ${If} $Layout == ${LAYOUT_SHARED}
    !insertmacro RunHelper shared "${SHARED}"
    ${If} $0 != 0
      RMDir "$INSTDIR"
      !insertmacro RefuseUnlessDone "${SHARED}"
    ${EndIf}
  ${EndIf}

  ClearErrors
  SetOutPath "$INSTDIR"
  File "/oname=${KEEPER_PROGRAM}" "${PROGRAM}"
  File "/oname=${SESSION_PROGRAM}" "${SESSION}"
!ifdef CTL
  File "/oname=${CTL_PROGRAM}" "${CTL}"
!endif
!ifdef SETTINGS
  File "/oname=${SETTINGS_PROGRAM}" "${SETTINGS}"
!endif
  ; The registered uninstall command (uninstall.exe, the helper) runs a copy of the uninstaller
  ; (uninstall.dat) from a temporary folder and returns when it is done.
  File "/oname=${UNINSTALL_PROGRAM}" "${HELPER}"
  WriteUninstaller "$INSTDIR\${UNINSTALL_DATA}"
  ${If} ${Errors}
    !insertmacro Fail ${EXIT_FAILED} "Could not write the program into $INSTDIR."
  ${EndIf}

  ; DataFolder is the shared layout's alone (deleting a value that is not there sets the error
  ; flag, which is no failure here).
  ${If} $Layout != ${LAYOUT_SHARED}
    DeleteRegValue HKLM "${REGISTRY_KEY}" "${DATA_FOLDER_VALUE}"
  ${EndIf}
  ; Shared: the shortcut's working folder (the output path when it is made) is where the program
  ; looks for Data\Pref.txt. Per user: the session starter finds the user's own folder itself.
  ClearErrors
  ${If} $Layout == ${LAYOUT_SHARED}
    SetOutPath "${SHARED}"
    CreateShortCut "${STARTUP_LINK}" "$INSTDIR\${KEEPER_PROGRAM}" "" \
      "$INSTDIR\${KEEPER_PROGRAM}" 0 SW_SHOWNORMAL "" "Keeps a screen resolution per user"
  ${Else}
    SetOutPath "$INSTDIR"
    CreateShortCut "${STARTUP_LINK}" "$INSTDIR\${SESSION_PROGRAM}" "" \
      "$INSTDIR\${KEEPER_PROGRAM}" 0 SW_SHOWNORMAL "" "Keeps a screen resolution per user"
  ${EndIf}
!ifdef SETTINGS
  SetOutPath "$INSTDIR"
  CreateShortCut "${SETTINGS_LINK}" "$INSTDIR\${SETTINGS_PROGRAM}" "" \
    "$INSTDIR\${SETTINGS_PROGRAM}" 0 SW_SHOWNORMAL "" "Sets your screen resolution for reskeeper"
!endif

  ; Registered last: an install that stopped half-way is not in Apps & Features.
  ; The layout for the tools and the next install; DataFolder only in the shared layout.
  WriteRegStr HKLM "${REGISTRY_KEY}" "${INSTALL_LOCATION_VALUE}" "$INSTDIR"
  WriteRegStr HKLM "${REGISTRY_KEY}" "${LAYOUT_VALUE}" "$Layout"
  ${If} $Layout == ${LAYOUT_SHARED}
    WriteRegStr HKLM "${REGISTRY_KEY}" "${DATA_FOLDER_VALUE}" "${SHARED}"
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "reskeeper"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "reskeeper"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${KEEPER_PROGRAM},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALL_PROGRAM}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALL_PROGRAM}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  ${If} ${Errors}
    !insertmacro Fail ${EXIT_FAILED} "Could not make the shortcut or the registration."
  ${EndIf}
  SetErrorLevel 0
SectionEnd

; The Finish page offers to start the programs only where they would start as the person at
; the desktop: when this installer runs as that person (elevated by consent, not with another
; account's password). Otherwise the program starts at each user's next logon.
Function ShowFinish
  nsExec::Exec '"$PLUGINSDIR\setuphelper.exe" same-user'
  Pop $0
  ${If} $0 != 0
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
!ifdef SETTINGS
    SendMessage $mui.FinishPage.ShowReadme ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.ShowReadme ${SW_HIDE}
!endif
    SendMessage $mui.FinishPage.Text ${WM_SETTEXT} 0 \
      "STR:reskeeper is installed. It starts at each user's next logon."
  ${EndIf}
FunctionEnd

; Starts FILE in FOLDER through the desktop's shell, as the desktop's user, unelevated.
!macro StartForDesktopUser file folder
  nsExec::Exec '"$PLUGINSDIR\setuphelper.exe" start "${file}" "${folder}"'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_ICONINFORMATION "Could not start ${file} for you: reskeeper starts at your \
      next logon." /SD IDOK
  ${EndIf}
!macroend

Function StartForDesktopUser
  ${If} $Layout == ${LAYOUT_SHARED}
    !insertmacro StartForDesktopUser "$INSTDIR\${KEEPER_PROGRAM}" "${SHARED}"
  ${Else}
    !insertmacro StartForDesktopUser "$INSTDIR\${SESSION_PROGRAM}" "$INSTDIR"
  ${EndIf}
FunctionEnd

!ifdef SETTINGS
Function OpenSettingsForDesktopUser
  !insertmacro StartForDesktopUser "$INSTDIR\${SETTINGS_PROGRAM}" "$INSTDIR"
FunctionEnd
!endif

; Removes the programs, the shortcuts, the registration and the uninstaller; the users' files
; (the shared one in %ProgramData%, each user's own in their profile) and their folders stay. Run by uninstall.exe, which exits with this code (or with
; 3010 when its own file, on another drive than the temporary folder, goes at the next restart).
Section "Uninstall"
  Call un.EndPrograms
  ClearErrors
  Delete "$INSTDIR\${KEEPER_PROGRAM}"
  Delete "$INSTDIR\${SESSION_PROGRAM}"
  Delete "$INSTDIR\${CTL_PROGRAM}"
  Delete "$INSTDIR\${SETTINGS_PROGRAM}"
  ${If} ${Errors}
    !insertmacro Fail ${EXIT_RETRY} "A reskeeper program in $INSTDIR is in use."
  ${EndIf}
  Delete "${STARTUP_LINK}"
  Delete "${SETTINGS_LINK}"
  DeleteRegKey HKLM "${REGISTRY_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; uninstall.exe, which started this copy of uninstall.dat and waits for it, removes itself
  ; and the folder once this ends.
  Delete "$INSTDIR\${UNINSTALL_DATA}"
  Delete "$INSTDIR\${UNINSTALL_PROGRAM}"
  RMDir "$INSTDIR"
SectionEnd
