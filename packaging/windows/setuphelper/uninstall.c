/* The registered uninstall command. Installed as the program folder's uninstall.exe, the helper
 * runs a copy of the uninstaller beside it (uninstall.dat) from a temporary folder, in place
 * (_?=), waits for it, then removes itself and the folder, and exits with the uninstaller's
 * code; so it returns only when the uninstall is done. */
#include <windows.h>
/* The system's other headers need windows.h first. */
#include <sddl.h>
#include <wchar.h>

#include "helper.h"

/* A new folder in the temporary folder that only Administrators and SYSTEM may enter, so that
 * no one can place anything in it (the system's temporary folder lets users create files). */
static BOOL makePrivateFolder(wchar_t* folder) {
  wchar_t temp[MAX_PATH];
  SECURITY_ATTRIBUTES attributes = {.nLength = sizeof attributes};
  DWORD length = GetTempPathW(MAX_PATH, temp);
  BOOL made = FALSE;
  if (!length || length > MAX_PATH - 40 ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
          &attributes.lpSecurityDescriptor, NULL))
    return FALSE;
  for (int i = 0; i < 100 && !made; i++) {
    _snwprintf(folder, MAX_PATH, L"%lsreskeeper-uninstall-%08lx", temp,
               (unsigned long)(GetTickCount() ^ (GetCurrentProcessId() << 12) ^ (i * 7919)));
    made = CreateDirectoryW(folder, &attributes);
  }
  LocalFree(attributes.lpSecurityDescriptor);
  return made;
}

int uninstall(int count, wchar_t** arguments) {
  wchar_t program[MAX_PATH], folder[MAX_PATH], data[MAX_PATH], temp[MAX_PATH], copy[MAX_PATH],
      moved[MAX_PATH], line[4 * MAX_PATH] = L"";
  DWORD length = GetModuleFileNameW(NULL, program, MAX_PATH);
  wchar_t* slash = wcsrchr(program, L'\\');
  if (!length || length >= MAX_PATH || !slash || !makePrivateFolder(temp)) return 1603;
  wcsncpy(folder, program, slash - program);
  folder[slash - program] = 0;
  _snwprintf(data, MAX_PATH, L"%ls\\" RESKEEPER_UNINSTALL_DATA_W, folder);
  _snwprintf(copy, MAX_PATH, L"%ls\\" RESKEEPER_UNINSTALL_PROGRAM_W, temp);
  _snwprintf(moved, MAX_PATH, L"%ls\\uninstall-launcher.exe", temp);
  _snwprintf(line, sizeof line / sizeof *line, L"\"%ls\"", copy);
  for (int i = 0; i < count; i++)
    if (wcslen(line) + wcslen(arguments[i]) + 2 < sizeof line / sizeof *line - MAX_PATH - 8) {
      wcscat(line, L" ");
      wcscat(line, arguments[i]);
    }
  wcscat(line, L" _?=");
  wcscat(line, folder);
  DWORD code = 1603;
  STARTUPINFOW startup = {.cb = sizeof startup};
  PROCESS_INFORMATION process;
  if (!CopyFileW(data, copy, TRUE)) {
    code = GetLastError() == ERROR_FILE_NOT_FOUND ? 1605 : 1603; /* not installed here */
  } else if (!CreateProcessW(copy, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    code = GetLastError() == 740 /* ERROR_ELEVATION_REQUIRED */ ? 740 : 1603;
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  DeleteFileW(copy);
  /* Once the uninstaller has removed the rest, this file moves out of the folder (a running
   * program's file may be moved, not deleted) and is deleted at the next restart; on another
   * drive than the temporary folder, it stays there until then. */
  if (code == 0 && GetFileAttributesW(data) == INVALID_FILE_ATTRIBUTES) {
    if (MoveFileExW(program, moved, 0)) {
      MoveFileExW(moved, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
      RemoveDirectoryW(folder); /* stays when it holds files of someone else's */
    } else {
      MoveFileExW(program, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
      MoveFileExW(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
      code = 3010;
    }
  }
  if (!RemoveDirectoryW(temp)) MoveFileExW(temp, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  return (int)code;
}
