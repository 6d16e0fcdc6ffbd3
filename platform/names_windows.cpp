// Names from the environment against the system's ANSI code page, on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/names.h"

namespace platform {
namespace {

constexpr int NAME_CAPACITY = 256;

}  // namespace

// The value is read as the system holds it (UTF-16) and converted without best fit: a
// character the code page lacks then comes out as the default character, and says so.
bool environmentValueFitsCodePage(const char* name) noexcept {
  wchar_t variable[NAME_CAPACITY];
  wchar_t value[32768];
  if (::MultiByteToWideChar(CP_ACP, 0, name, -1, variable, NAME_CAPACITY) == 0) return true;
  const DWORD length = ::GetEnvironmentVariableW(variable, value, sizeof value / sizeof *value);
  if (length == 0 || length >= sizeof value / sizeof *value || ::GetACP() == CP_UTF8) return true;
  BOOL replaced = FALSE;
  return ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, value, static_cast<int>(length),
                               nullptr, 0, nullptr, &replaced) > 0 &&
         !replaced;
}

}  // namespace platform
