// Start-up on Windows: where libraries may load from.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"

namespace platform {

void loadLibrariesFromSystemOnly() noexcept {
  // Looked up, not linked: Windows 7 SP1 has it only with KB2533623.
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  const auto setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(
          ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryW(L"");
}

}  // namespace platform
