/* The floor of the editor's start: one window of the same size, in a
   program that imports the same system libraries as the editor (and the
   same common controls, through the same manifest) and does nothing else.
   bench/startup.sh checks the two import lists against each other. */
#include <windows.h>

#include <commctrl.h>

static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(wnd, msg, wp, lp);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR line, int show) {
  (void)previous, (void)line, (void)show;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  /* One function of each library the editor imports, kept by a store the
     compiler may not drop, so each is imported and loaded before the start. */
  static void *volatile keep[] = {(void *)CreateFontA, (void *)VerLanguageNameA, (void *)RegCloseKey};
  (void)keep;
  WNDCLASSA wc = {0};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  wc.lpszClassName = "BareWindow";
  RegisterClassA(&wc);
  HWND wnd = CreateWindowExA(0, "BareWindow", "Bare", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             CW_USEDEFAULT, CW_USEDEFAULT, 407, 526, NULL, NULL, instance, NULL);
  ShowWindow(wnd, SW_SHOW);
  UpdateWindow(wnd);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
