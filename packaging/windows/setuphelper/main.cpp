// The package's helper, installed in the program folder and run by the Windows Installer
// package as SYSTEM for the shared layout's folder, which the package's tables cannot make
// safely: a folder that users may add to (%ProgramData%) is where another user could have
// placed something first. A line for the administrator, naming the path at fault, goes to
// stdout (UTF-16) and to the Application event log; the installer's log shows the exit code.
//
//   setuphelper shared FOLDER   makes FOLDER, FOLDER\Data and FOLDER\Data\Pref.txt (empty) with
//                               the package's rights where missing, and relies on what is
//                               there only when no other user could have placed or changed it
//   setuphelper close FOLDER    the package's own shared Pref.txt in FOLDER: Users may read it
//                               but no longer write it; anything else is left as it is
//
// Exit codes: RESKEEPER_HELPER_EXITS in packaging/product.cmake (docs/windows.md lists them).
#include <windows.h>

#include <cwchar>

#include "packaging/windows/setuphelper/helper.h"
#include "platform/platform.h"
#include "platform/trust.h"

namespace {

using namespace helper;

// The verbs: name, what runs it with the one argument that follows.
constexpr struct {
  const wchar_t* name;
  Result (*run)(const wchar_t* folder) noexcept;
} VERBS[] = {{L"shared", prepareShared}, {L"close", closeShared}};

// The helper runs as SYSTEM: it runs only from a folder, and as a file, that no one else may
// change, or what runs is not what the package installed.
Result runsFromItsOwnFolder() {
  wchar_t path[PATH_CAPACITY];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, PATH_CAPACITY);
  wchar_t* slash = length > 0 && length < PATH_CAPACITY ? std::wcsrchr(path, L'\\') : nullptr;
  if (slash == nullptr) return FAILED;
  Held file;
  Held folder;
  const Wanted program{false, nullptr};
  const Wanted programFolder{true, nullptr};
  Result result = holdPath(path, program, &file);
  if (result == OK && !absent(file)) {
    result = examine(file, program, platform::trust::FILE_CHANGES | platform::trust::WRITE_BYTES);
  }
  *slash = L'\0';
  if (result == OK && !absent(file)) result = holdPath(path, programFolder, &folder);
  if (result == OK && !absent(folder)) {
    result = examine(folder, programFolder, platform::trust::FOLDER_CHANGES);
  }
  if (result == OK && (absent(file) || absent(folder))) result = FAILED;
  if (result == OK) return OK;
  say(path,
      L"lets others than Administrators and SYSTEM change what runs from it: the helper "
      L"runs only from the program folder the package made");
  return OWN_FOLDER;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  platform::loadLibrariesFromSystemOnly();
  const Result own = runsFromItsOwnFolder();
  if (own != OK) return own;
  for (const auto& verb : VERBS) {
    if (argc == 3 && std::wcscmp(argv[1], verb.name) == 0) return verb.run(argv[2]);
  }
  say(L"setuphelper", L"usage: setuphelper shared|close FOLDER");
  return FAILED;
}
