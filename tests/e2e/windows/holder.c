/* A standard user's program for the package's tests under wine:
 *   holder SECONDS PATH...   holds each PATH (a folder or a file) open for reading, sharing
 *                            reading only, as any user may; prints "held" once it holds them
 *                            all, and exits after SECONDS. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  for (int i = 2; i < argc; i++) {
    HANDLE held = CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (held == INVALID_HANDLE_VALUE) {
      printf("cannot hold %s: %lu\n", argv[i], GetLastError());
      return 1;
    }
  }
  printf("held\n");
  fflush(stdout);
  Sleep(argc > 1 ? (DWORD)atoi(argv[1]) * 1000 : 0);
  return 0;
}
