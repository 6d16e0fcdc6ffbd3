/* Test tools for the installer under wine, one program:
 *   toollog --run "COMMAND LINE"   runs the command line as a deployment tool does (CreateProcess
 *                                  with no application name), waits, and prints its exit code
 *                                  (whole: wine hands Unix only the low 8 bits);
 *   toollog --hold PATH SECONDS    holds PATH (a folder or file) open with DELETE access, as a
 *                                  user could have since before its rights changed, sharing
 *                                  everything; prints "held" once it does, exits after SECONDS;
 *   otherwise, copied over a system tool (icacls.exe) in the test's prefix, it appends its own
 *   command line in UTF-8 as one line to toollog.txt in the Windows folder and succeeds. */
#include <windows.h>
#include <shellapi.h>
#include <wchar.h>

static int run(wchar_t *line) {
  STARTUPINFOW startup = {.cb = sizeof startup};
  PROCESS_INFORMATION process;
  DWORD code = 1;
  if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
    return 255;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  char text[16];
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, wsprintfA(text, "%lu\n", code), &written, 0);
  return 0;
}

static int hold(const wchar_t *path, const wchar_t *seconds) {
  HANDLE held = CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  DWORD written;
  if (held == INVALID_HANDLE_VALUE)
    return 1;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, 0);
  Sleep((DWORD)wcstoul(seconds, NULL, 10) * 1000);
  return 0;
}

int main(void) {
  int argc;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv && argc == 3 && !lstrcmpW(argv[1], L"--run"))
    return run(argv[2]);
  if (argv && argc == 4 && !lstrcmpW(argv[1], L"--hold"))
    return hold(argv[2], argv[3]);
  wchar_t path[MAX_PATH];
  char line[32768];
  UINT length = GetWindowsDirectoryW(path, MAX_PATH - 16);
  lstrcpyW(path + length, L"\\toollog.txt");
  int n = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line - 2, 0, 0);
  HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, 0, NULL);
  DWORD written;
  if (n < 1 || log == INVALID_HANDLE_VALUE)
    return 1;
  line[n - 1] = '\n';
  BOOL ok = WriteFile(log, line, n, &written, NULL);
  CloseHandle(log);
  return ok ? 0 : 1;
}
