/* The platform's reading of version information, one line per file:
 *   <file> ver=<a.b.c.d> prod=<a.b.c.d> flags=<hex> mask=<hex> <Key>=<value>...
 * with the strings named after "--" looked up in the table of the first
 * translation, each as <Key>=<value> or <Key>? when missing. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static BYTE info[65536];

int main(int argc, char **argv) {
  int keys = argc;
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--") == 0) keys = i;
  for (int i = 1; i < keys; ++i) {
    DWORD ignored, size = GetFileVersionInfoSizeA(argv[i], &ignored);
    VS_FIXEDFILEINFO *fixed;
    WORD *translation;
    UINT length;
    printf("%s", argv[i]);
    if (!size || size > sizeof info || !GetFileVersionInfoA(argv[i], 0, size, info) ||
        !VerQueryValueA(info, "\\", (void **)&fixed, &length)) {
      printf(" none\n");
      continue;
    }
    printf(" ver=%u.%u.%u.%u prod=%u.%u.%u.%u flags=%lx mask=%lx", HIWORD(fixed->dwFileVersionMS),
           LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
           HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
           LOWORD(fixed->dwProductVersionLS), fixed->dwFileFlags, fixed->dwFileFlagsMask);
    if (VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&translation, &length) && length >= 4) {
      for (int k = keys + 1; k < argc; ++k) {
        char query[256], *value;
        snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], argv[k]);
        if (VerQueryValueA(info, query, (void **)&value, &length))
          printf(" %s=%s", argv[k], value);
        else
          printf(" %s?", argv[k]);
      }
    }
    printf("\n");
  }
  return 0;
}
