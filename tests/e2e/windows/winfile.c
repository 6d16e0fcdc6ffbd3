/* A Windows helper for the end-to-end scenarios: reads or replaces a file the way another
 * careful program would, opening it with CreateFileA and sharing it for reading only, so that
 * it never sees, nor writes over, a file that another process holds open for writing.
 *
 *   winfile sample FILE FOLDER COUNT   looks at FILE every 10 ms, COUNT times at most or until
 *                                      FOLDER\stop exists, and copies each state that differs
 *                                      from the last one into FOLDER\N.bin
 *   winfile write FILE SOURCE          replaces FILE's bytes with SOURCE's, waiting up to 30 s
 *                                      for a moment when no other process holds FILE
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static char* readAll(HANDLE file, DWORD* size) {
  DWORD length = GetFileSize(file, NULL);
  char* data = malloc(length + 1);
  DWORD got = 0;
  if (data == NULL || length == INVALID_FILE_SIZE ||
      (length > 0 && (!ReadFile(file, data, length, &got, NULL) || got != length))) {
    free(data);
    return NULL;
  }
  *size = length;
  return data;
}

static int sample(const char* path, const char* folder, int count) {
  char* last = NULL;
  DWORD lastSize = 0;
  int saved = 0;
  char stop[MAX_PATH];
  snprintf(stop, sizeof stop, "%s\\stop", folder);
  for (int i = 0; i < count && GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES; ++i) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD size = 0;
      char* data = readAll(file, &size);
      CloseHandle(file);
      if (data != NULL && (last == NULL || size != lastSize || memcmp(data, last, size) != 0)) {
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%s\\%04d.bin", folder, saved++);
        HANDLE out = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
        DWORD written = 0;
        if (out == INVALID_HANDLE_VALUE || !WriteFile(out, data, size, &written, NULL) ||
            written != size) {
          fprintf(stderr, "winfile: cannot write %s\n", name);
          return 1;
        }
        CloseHandle(out);
        free(last);
        last = data;
        lastSize = size;
      } else {
        free(data);
      }
    }
    Sleep(10);
  }
  printf("%d states\n", saved);
  return 0;
}

static int replace(const char* path, const char* source) {
  HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  DWORD size = 0;
  char* data = in != INVALID_HANDLE_VALUE ? readAll(in, &size) : NULL;
  if (data == NULL) {
    fprintf(stderr, "winfile: cannot read %s\n", source);
    return 1;
  }
  CloseHandle(in);
  for (int tries = 0; tries < 3000; ++tries) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
      Sleep(10);
      continue;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, data, size, &written, NULL) && written == size && SetEndOfFile(file);
    CloseHandle(file);
    if (!ok) fprintf(stderr, "winfile: cannot write %s\n", path);
    return ok ? 0 : 1;
  }
  fprintf(stderr, "winfile: %s stayed held by another process\n", path);
  return 1;
}

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "sample") == 0) return sample(argv[2], argv[3], atoi(argv[4]));
  if (argc == 4 && strcmp(argv[1], "write") == 0) return replace(argv[2], argv[3]);
  fprintf(stderr, "usage: winfile sample FILE FOLDER COUNT | winfile write FILE SOURCE\n");
  return 2;
}
