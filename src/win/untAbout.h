#pragma once
// The about window: names the program, its version and its maker, shows the
// logo and offers two links to the maker's web server. Created hidden once at
// start; closing it only hides it, so every later showing is the same window.
#include <windows.h>

#include <memory>
#include <string>

#include "win/window_base.h"

namespace qm::win {

// The two addresses the window hands to the shell.
std::string UpdateCheckAddress();
std::string DeveloperSiteAddress();

class TfrmAbout : public WindowBase<TfrmAbout> {
  friend class WindowBase<TfrmAbout>;

public:
  // Creates the window and its controls, hidden; null when the window cannot
  // be made. Both links go through CurrentDialogs().ShellOpen.
  static std::unique_ptr<TfrmAbout> Create(HINSTANCE instance);
  ~TfrmAbout();
  TfrmAbout(const TfrmAbout &) = delete;
  TfrmAbout &operator=(const TfrmAbout &) = delete;

  // Shows the window without making it modal and brings it to the front; the
  // first showing centres it on the screen, later ones keep its place.
  void Show();

  // The look of LblDev, for tests and automation: true while it is the hover
  // look (blue, underlined).
  bool LblDevHover() const { return hover_; }
  HWND Control(const char *name) const;

  // Handlers, named after the control and the event.
  void BtnOkClick();
  void BtnUpdateClick();
  void LblDevClick();
  void LblDevMouseMove();
  void FormMouseMove();

private:
  explicit TfrmAbout(HINSTANCE instance);
  static LRESULT CALLBACK LabelProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  void ApplyLblDevLook(COLORREF colour, bool underline);
  void LoadLogo();
  void PaintImage(const DRAWITEMSTRUCT &item);
  void OpenAddress(const std::string &address);

  HINSTANCE instance_;
  bool shown_ = false;
  bool logoLoaded_ = false;
  bool hover_ = false;
  COLORREF lblDevColour_;
  HFONT font_ = nullptr;
  HFONT underlineFont_ = nullptr;
  HBITMAP logo_ = nullptr;
  int logoWidth_ = 0;
  int logoHeight_ = 0;
  HWND label1_ = nullptr, label2_ = nullptr, lblDev_ = nullptr, btnOk_ = nullptr, btnUpdate_ = nullptr,
       bevel1_ = nullptr, label3_ = nullptr, image1_ = nullptr;
};

} // namespace qm::win
