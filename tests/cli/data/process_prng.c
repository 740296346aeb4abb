/* A stand-in for bcryptprimitives.dll where Wine has none (Wine 8): newer
 * Go and Rust programs take their random bytes from its ProcessPrng and
 * will not start without it, so the corpus's programs built with them
 * could not be run before and after their stamp. The bytes come from the
 * same source the platform's own routine uses. */
#include <windows.h>

BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

BOOL WINAPI ProcessPrng(PBYTE data, SIZE_T size) {
  while (size > 0) {
    const ULONG part = size > 0x10000000 ? 0x10000000 : (ULONG)size;
    if (!SystemFunction036(data, part)) return FALSE;
    data += part;
    size -= part;
  }
  return TRUE;
}
