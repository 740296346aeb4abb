/* The platform's view of modules, one line per file given:
 *   <file> hdr=<header checksum> sum=<CheckSumMappedFile> map=<MapFileAndCheckSumA> ver=<a.b.c.d>
 *          desc=<FileDescription> load=<n>
 * load: an exe's exit code; for a library (.dll), 100 + qm_answer() when it
 * has that export, 1 when it loads without it, 2 when it does not load;
 * other files are not run or loaded.
 * "--load <dll>" loads one library and exits with that code; a library of
 * the other bitness is handed to the other oracle this way. */
#include <windows.h>
#include <imagehlp.h>
#include <stdio.h>
#include <string.h>

static int LoadCode(const char *path) {
  HMODULE module = LoadLibraryA(path);
  if (!module) return 2;
  FARPROC answer = GetProcAddress(module, "qm_answer");
  int code = answer ? 100 + ((int (*)(void))answer)() : 1;
  FreeLibrary(module);
  return code;
}

static DWORD RunAndWait(char *commandLine) {
  STARTUPINFOA si = {sizeof si};
  PROCESS_INFORMATION pi;
  DWORD code = 9999;
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return 9998;
  WaitForSingleObject(pi.hProcess, 30000);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

static int Is64Bit(const BYTE *base, DWORD size) {
  if (size < 0x40) return -1;
  DWORD pe = *(const DWORD *)(base + 0x3C);
  if (pe > size - 26) return -1;
  return *(const WORD *)(base + pe + 24) == 0x20B;
}

static void Report(const char *self, const char *path) {
  printf("%s", path);
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  int is64 = -1;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD size = GetFileSize(file, NULL);
    HANDLE mapping = CreateFileMappingA(file, NULL, PAGE_READONLY, 0, 0, NULL);
    BYTE *view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : NULL;
    DWORD header = 0, sum = 0;
    if (view && CheckSumMappedFile(view, size, &header, &sum)) printf(" hdr=%08lx sum=%08lx", header, sum);
    if (view) is64 = Is64Bit(view, size);
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    CloseHandle(file);
  }
  DWORD mapHeader = 0, mapSum = 0;
  if (MapFileAndCheckSumA(path, &mapHeader, &mapSum) == CHECKSUM_SUCCESS) printf(" map=%08lx", mapSum);
  DWORD ignored, size = GetFileVersionInfoSizeA(path, &ignored);
  static BYTE info[65536];
  VS_FIXEDFILEINFO *fixed;
  UINT length;
  if (size && size <= sizeof info && GetFileVersionInfoA(path, 0, size, info) &&
      VerQueryValueA(info, "\\", (void **)&fixed, &length)) {
    printf(" ver=%lu.%lu.%lu.%lu", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    WORD *translation;
    char query[64], *desc;
    if (VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&translation, &length) && length >= 4) {
      sprintf(query, "\\StringFileInfo\\%04x%04x\\FileDescription", translation[0], translation[1]);
      if (VerQueryValueA(info, query, (void **)&desc, &length)) printf(" desc=%s", desc);
    }
  }
  size_t n = strlen(path);
  if (n > 4 && _stricmp(path + n - 4, ".exe") == 0) {
    char commandLine[1024];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", path);
    printf(" load=%lu", RunAndWait(commandLine));
  } else if (n <= 4 || _stricmp(path + n - 4, ".dll") != 0) {
    /* neither run nor loaded */
  } else if (is64 == (sizeof(void *) == 8)) {
    printf(" load=%d", LoadCode(path));
  } else if (is64 >= 0) {
    char other[MAX_PATH], commandLine[1024];
    strcpy(other, self);
    char *slash = strrchr(other, '\\') > strrchr(other, '/') ? strrchr(other, '\\') : strrchr(other, '/');
    strcpy(slash ? slash + 1 : other, is64 ? "oracle64.exe" : "oracle32.exe");
    snprintf(commandLine, sizeof commandLine, "\"%s\" --load \"%s\"", other, path);
    printf(" load=%lu", RunAndWait(commandLine));
  }
  printf("\n");
  fflush(stdout);
}

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--load") == 0) return LoadCode(argv[2]);
  for (int i = 1; i < argc; ++i) Report(argv[0], argv[i]);
  return 0;
}
