/* The running programs and the person at the desktop: ending every reskeeper program, whoever
 * runs it (a running program's file can be neither replaced nor removed), and starting a
 * program as the desktop's own user, unelevated, from an elevated installer. */
#define COBJMACROS
#include <windows.h>
/* The system's other headers need windows.h first. */
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "helper.h"

/* Administrators may end other users' programs only with the debug privilege enabled. */
static void enableDebugPrivilege(void) {
  HANDLE token;
  TOKEN_PRIVILEGES privileges = {.PrivilegeCount = 1};
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    if (LookupPrivilegeValueW(NULL, L"SeDebugPrivilege", &privileges.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    CloseHandle(token);
  }
}

/* end NAME...: ends every process whose image is named NAME; 0 when none is left, 1 when one
 * stays. */
int endVerb(int count, wchar_t** names) {
  enableDebugPrivilege();
  for (int round = 0; round < 3; round++) {
    int left = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {.dwSize = sizeof entry};
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
      BOOL named = FALSE;
      for (int i = 0; i < count && !named; i++) named = !_wcsicmp(entry.szExeFile, names[i]);
      if (!named || entry.th32ProcessID == GetCurrentProcessId()) continue;
      left++;
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
      if (process) {
        if (TerminateProcess(process, 1)) WaitForSingleObject(process, 10000);
        CloseHandle(process);
      }
    }
    CloseHandle(snapshot);
    if (!left) return 0;
  }
  return 1;
}

/* The user of a process token; freed by the caller with LocalFree. */
PSID tokenUser(HANDLE process) {
  HANDLE token;
  DWORD size = 0;
  PSID sid = NULL;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return NULL;
  GetTokenInformation(token, TokenUser, NULL, 0, &size);
  TOKEN_USER* user = size ? LocalAlloc(LPTR, size) : NULL;
  if (user && GetTokenInformation(token, TokenUser, user, size, &size)) {
    DWORD length = GetLengthSid(user->User.Sid);
    sid = LocalAlloc(LPTR, length);
    if (sid) CopySid(length, sid, user->User.Sid);
  }
  LocalFree(user);
  CloseHandle(token);
  return sid;
}

/* Whether the desktop's shell runs as this process's user: only then is a program started
 * through it started as the person at the installer. */
static BOOL sameUser(void) {
  HWND shell = GetShellWindow();
  DWORD pid = 0;
  BOOL same = FALSE;
  if (!shell || !GetWindowThreadProcessId(shell, &pid) || !pid || !self) return FALSE;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process) {
    PSID user = tokenUser(process);
    same = user && EqualSid(user, self);
    LocalFree(user);
    CloseHandle(process);
  }
  return same;
}

/* ShellExecute in the desktop shell's own process: the program runs as the desktop's user,
 * with that user's unelevated rights. */
static BOOL startThroughDesktop(const wchar_t* file, const wchar_t* folder) {
  IShellWindows* windows = NULL;
  IDispatch *desktop = NULL, *background = NULL, *application = NULL;
  IServiceProvider* services = NULL;
  IShellBrowser* browser = NULL;
  IShellView* view = NULL;
  IShellFolderViewDual* folderView = NULL;
  IShellDispatch2* shell = NULL;
  BOOL started = FALSE;
  VARIANT desktopLocation, none, directory, show;
  long hwnd = 0;
  VariantInit(&desktopLocation);
  desktopLocation.vt = VT_I4;
  desktopLocation.lVal = CSIDL_DESKTOP;
  VariantInit(&none);
  VariantInit(&directory);
  VariantInit(&show);
  if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED))) return FALSE;
  if (SUCCEEDED(CoCreateInstance(&CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, &IID_IShellWindows,
                                 (void**)&windows)) &&
      IShellWindows_FindWindowSW(windows, &desktopLocation, &none, SWC_DESKTOP, &hwnd,
                                 SWFO_NEEDDISPATCH, &desktop) == S_OK &&
      desktop &&
      SUCCEEDED(IDispatch_QueryInterface(desktop, &IID_IServiceProvider, (void**)&services)) &&
      SUCCEEDED(IServiceProvider_QueryService(services, &SID_STopLevelBrowser, &IID_IShellBrowser,
                                              (void**)&browser)) &&
      SUCCEEDED(IShellBrowser_QueryActiveShellView(browser, &view)) &&
      SUCCEEDED(
          IShellView_GetItemObject(view, SVGIO_BACKGROUND, &IID_IDispatch, (void**)&background)) &&
      SUCCEEDED(
          IDispatch_QueryInterface(background, &IID_IShellFolderViewDual, (void**)&folderView)) &&
      SUCCEEDED(IShellFolderViewDual_get_Application(folderView, &application)) &&
      SUCCEEDED(IDispatch_QueryInterface(application, &IID_IShellDispatch2, (void**)&shell))) {
    BSTR name = SysAllocString(file);
    directory.vt = VT_BSTR;
    directory.bstrVal = SysAllocString(folder);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    started = name && directory.bstrVal &&
              SUCCEEDED(IShellDispatch2_ShellExecute(shell, name, none, directory, none, show));
    SysFreeString(name);
    VariantClear(&directory);
  }
  if (shell) IShellDispatch2_Release(shell);
  if (application) IDispatch_Release(application);
  if (folderView) IShellFolderViewDual_Release(folderView);
  if (background) IDispatch_Release(background);
  if (view) IShellView_Release(view);
  if (browser) IShellBrowser_Release(browser);
  if (services) IServiceProvider_Release(services);
  if (desktop) IDispatch_Release(desktop);
  if (windows) IShellWindows_Release(windows);
  CoUninitialize();
  return started;
}

/* same-user: 0 when the desktop's shell runs as this process's user. */
int sameUserVerb(int count, wchar_t** arguments) {
  (void)count;
  (void)arguments;
  return sameUser() ? 0 : 1;
}

/* start FILE DIR: starts FILE in DIR through the desktop's shell when same-user holds; 0
 * started. */
int startVerb(int count, wchar_t** arguments) {
  return count == 2 && sameUser() && startThroughDesktop(arguments[0], arguments[1]) ? 0 : 1;
}
