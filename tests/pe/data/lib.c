/* A library with one export, so a loader can show that it still works. */
__declspec(dllexport) int qm_answer(void) { return 42; }
