// reskeeper-settings.exe: the dialog in which a user sees the resolution reskeeper keeps for
// them and keeps another. `reskeeper-settings [--folder DIR]`: DIR is the keeper's working
// folder; without it, the folder reskeeperctl would take (the current one when it holds
// Data\Pref.txt, else the installed shared folder).

#include <string>

#include "ctl/command_line.h"
#include "platform/platform.h"
#include "settings/dialog.h"

namespace {

constexpr wchar_t TITLE[] = L"reskeeper Settings";
constexpr wchar_t USAGE[] = L"Usage: reskeeper-settings [--folder DIR]";

// `wide` in the system's ANSI code page, which the keeper's file calls take; false when a
// character has no place there.
bool narrow(const std::wstring& wide, std::string& text) {
  BOOL lost = FALSE;
  const int length =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, &lost);
  text.assign(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        text.data(), length, nullptr, &lost);
  return !lost;
}

int refuse(const std::wstring& problem) {
  ::MessageBoxW(nullptr, (problem + L"\n\n" + USAGE).c_str(), TITLE, MB_OK | MB_ICONERROR);
  return ctl::cli::EXIT_USAGE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::loadLibrariesFromSystemOnly();
  ctl::openSafelyWhenElevated();
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::wstring folder;
  bool folderGiven = false;
  for (int i = 1; argv && i < count; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--folder" && i + 1 < count) {
      folder = argv[++i];
      folderGiven = true;
    } else if (arg.rfind(L"--folder=", 0) == 0) {
      folder = arg.substr(9);
      folderGiven = true;
    } else {
      ::LocalFree(argv);
      return refuse(L"Unknown or incomplete option: " + arg);
    }
  }
  ::LocalFree(argv);
  std::string option;
  if (folderGiven && (folder.empty() || !narrow(folder, option))) {
    return refuse(L"The folder cannot be used: " + folder);
  }

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  settings::runDialog(instance, ctl::chooseFolder(option));
  return 0;
}
