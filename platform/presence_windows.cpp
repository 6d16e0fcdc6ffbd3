// One keeper per Windows session: a mutex in the session's own namespace.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"

namespace platform {
namespace {

constexpr char KEEPER_MUTEX[] = "Local\\reskeeper-keeper";
// How often a copy that may not open another keeper's mutex looks whether it has gone.
constexpr DWORD DENIED_MUTEX_RETRY_MS = 1000;

}  // namespace

// A program started from a shortcut shows the busy pointer until it is ready for input: until
// it looks at its message queue and finds nothing there. That is done both ways a look can be
// taken: a peek, and a wait on the queue that ends at once (wine counts only the latter).
void becomeReadyForInput() noexcept {
  MSG message;
  ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  ::MsgWaitForMultipleObjects(0, nullptr, /*waitAll=*/FALSE, 0, QS_ALLINPUT);
}

// Ready for input first, before any waiting; the queue is never looked at again. The mutex
// handle stays open, and the mutex owned by this thread, until the process ends; when it
// ends, the waiting copy is given the mutex (as abandoned, which is ownership all the same).
// A keeper started elevated makes the mutex with its own default rights, which an unelevated
// copy of the same user lacks: CreateMutex then fails with ERROR_ACCESS_DENIED. That mutex is
// another keeper's all the same, so this copy waits for it to go (with its last handle) and
// makes it anew. Where the mutex cannot be had for any other reason, the keeper runs
// unguarded.
void becomeSessionKeeper() noexcept {
  becomeReadyForInput();
  for (;;) {
    const HANDLE mutex = ::CreateMutexA(nullptr, /*initialOwner=*/FALSE, KEEPER_MUTEX);
    if (mutex != nullptr) {
      const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
      if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) ::CloseHandle(mutex);
      return;
    }
    if (::GetLastError() != ERROR_ACCESS_DENIED) return;
    ::Sleep(DENIED_MUTEX_RETRY_MS);
  }
}

// The mutex exists while a keeper holds it (or waits for it beside one). A mutex that this
// user may not open was made by someone all the same.
bool keeperRunning() noexcept {
  const HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, /*inheritHandle=*/FALSE, KEEPER_MUTEX);
  if (mutex == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
  ::CloseHandle(mutex);
  return true;
}

}  // namespace platform
