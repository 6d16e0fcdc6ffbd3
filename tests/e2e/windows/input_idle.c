/* A Windows helper for the end-to-end scenarios: starts a program as a shortcut would and
 * tells whether it becomes ready for input, the moment Windows takes the busy pointer away.
 *
 *   input_idle PROGRAM USERNAME   starts PROGRAM in the current folder with USERNAME set, and
 *                                 asks WaitForInputIdle a second at a time, 30 times at most;
 *                                 exits 0 once it says idle, 1 otherwise. PROGRAM keeps running.
 */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: input_idle PROGRAM USERNAME\n");
    return 2;
  }
  if (!SetEnvironmentVariableA("USERNAME", argv[2])) return 2;
  STARTUPINFOA startup = {.cb = sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessA(argv[1], NULL, NULL, NULL, /*inheritHandles=*/FALSE, 0, NULL, NULL, &startup,
                      &process)) {
    fprintf(stderr, "could not start %s: error %lu\n", argv[1], GetLastError());
    return 2;
  }
  for (int second = 1; second <= 30; ++second) {
    const DWORD result = WaitForInputIdle(process.hProcess, 1000);
    if (result == 0) {
      printf("idle within %d s\n", second);
      return 0;
    }
    if (result != WAIT_TIMEOUT) {
      printf("WaitForInputIdle gave %lu (error %lu)\n", result, GetLastError());
      return 1;
    }
  }
  printf("not idle after 30 s\n");
  return 1;
}
