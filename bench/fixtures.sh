# Sourced by the benchmarks: writes, in the current folder, the sources of the
# modules they stamp (a version script, a program whose 64 MiB lie in a data
# section, a small program), and builds big_data.exe and small.exe from them
# with the mingw toolchain the program itself is built with.
bench_fixture_modules() {
  cat >version.rc <<'EOF'
1 VERSIONINFO
FILEVERSION 1,0,0,0
PRODUCTVERSION 1,0,0,0
FILEOS 0x40004
FILETYPE 1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "Bench"
      VALUE "FileVersion", "1.0.0.0"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
EOF
  # Every byte non-zero, so the section is all file data.
  cat >big_data.c <<'EOF'
#define MIB (1024 * 1024)
volatile unsigned char payload[64 * MIB] = {[0 ... 64 * MIB - 1] = 0x5A};
int main(void) { return payload[12345] == 0x5A ? 0 : 1; }
EOF
  printf 'int main(void) { return 0; }\n' >small.c
  i686-w64-mingw32-windres -i version.rc -o version.o
  i686-w64-mingw32-gcc -O1 -s big_data.c version.o -o big_data.exe
  i686-w64-mingw32-gcc -O1 -s small.c version.o -o small.exe
}
