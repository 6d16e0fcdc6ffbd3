/* The installers' helper, run elevated from the setup's plug-ins folder, and as SYSTEM by the
 * Windows Installer package (stored in it, not installed): it examines, makes and locks the
 * folders the installers grant rights on, ends running programs by name, and starts a program
 * as the desktop's own user. A line for the administrator, naming the path at fault, goes to
 * stdout (UTF-16).
 *
 *   setuphelper check program PATH   examines the program folder PATH and its ancestors, and
 *   setuphelper check shared PATH    the shared folder PATH with Data and Data\Pref.txt, and
 *                                    changes nothing: 0 when what is there (if anything) is
 *                                    safe, else the code the next verb would give
 *   setuphelper program PATH         makes the program folder PATH with its final rights, or
 *                                    locks it, and examines and locks what it holds
 *   setuphelper shared PATH          the same for the shared folder, Data and Pref.txt (made
 *                                    empty when missing; one with further hard links but the
 *                                    installers' own owner and rights is taken over)
 *       0 done; 20 a link or junction, or a path reached through one; 21 owned by someone
 *       other than Administrators, SYSTEM, TrustedInstaller or this installer's account; 22 a
 *       file with further hard links; 23 the program folder holds what is not reskeeper's; 24
 *       a file where a folder belongs (or the other way round), a parent missing, or a path
 *       not below a local NTFS drive's root; 25 an ancestor lets others move it away; 26 held
 *       open by another program; 3 it could not be examined or locked.
 *   setuphelper end NAME...          ends every process whose image is named NAME; 0 when none
 *                                    is left, 1 when one stays
 *   setuphelper same-user            0 when the desktop's shell runs as this process's user
 *   setuphelper start FILE DIR       starts FILE in DIR through the desktop's shell (so as the
 *                                    desktop's user, unelevated) when same-user holds; 0 started
 *
 * With any other arguments (/S) it is the registered uninstall command (uninstall.c). */
#include <windows.h>
/* The system's other headers need windows.h first. */
#include <sddl.h>
#include <wchar.h>

#include "helper.h"

PSID self;

/* The verbs: name, how many arguments follow it (-1: one or more), what runs it. */
static const struct {
  const wchar_t* name;
  int arguments;
  int (*run)(int count, wchar_t** arguments);
} VERBS[] = {
    {L"check", 2, checkVerb}, {L"program", 1, programVerb},    {L"shared", 1, sharedVerb},
    {L"end", -1, endVerb},    {L"same-user", 0, sameUserVerb}, {L"start", 2, startVerb},
};

void say(const wchar_t* text, const wchar_t* path) {
  wchar_t line[2048];
  int n = _snwprintf(line, 2047, L"%ls: %ls\r\n", path, text);
  DWORD written;
  if (n < 0) n = 2047;
  line[n] = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)(n * sizeof(wchar_t)), &written, NULL);
}

BOOL trusted(PSID sid) {
  static const wchar_t* const names[] = {
      L"S-1-5-18", L"S-1-5-32-544",
      L"S-1-5-80-956008885-3418522649-1831038044-1850960474-76113464"};
  if (!sid || !IsValidSid(sid)) return FALSE;
  if (self && EqualSid(sid, self)) return TRUE;
  for (size_t i = 0; i < sizeof names / sizeof *names; i++) {
    PSID known;
    if (ConvertStringSidToSidW(names[i], &known)) {
      BOOL equal = EqualSid(sid, known);
      LocalFree(known);
      if (equal) return TRUE;
    }
  }
  return FALSE;
}

int wmain(int argc, wchar_t** argv) {
  /* Run from the setup's temporary folder, it loads no library from its own folder: only from
   * System32 (where the system offers the choice: Windows 8, or 7 with KB2533623). */
  typedef BOOL(WINAPI * SetDllDirectories)(DWORD);
  SetDllDirectories systemOnly = (SetDllDirectories)(void (*)(void))GetProcAddress(
      GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (systemOnly) systemOnly(0x800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
  self = tokenUser(GetCurrentProcess());
  for (size_t i = 0; argc >= 2 && i < sizeof VERBS / sizeof *VERBS; i++) {
    int count = argc - 2;
    if (!wcscmp(argv[1], VERBS[i].name) &&
        (VERBS[i].arguments < 0 ? count >= 1 : count == VERBS[i].arguments))
      return VERBS[i].run(count, argv + 2);
  }
  return uninstall(argc - 1, argv + 1);
}
