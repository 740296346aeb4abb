#include "win/untAbout.h"

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "qm_version.h"
#include "win/dialogs.h"
#include "win/error_report.h"
#include "win/jpeg_image.h"

namespace qm::win {
namespace {

constexpr const char *kClassName = "TfrmAbout";
constexpr const char *kProductName = "Quillmark";
constexpr const char *kMakerSite = "http://www.brindlewick.example/";
constexpr const char *kLogoResource = "LOGO";
constexpr COLORREF kLinkColour = 0x00FF0000; // pure blue, 0x00BBGGRR
constexpr int kClientWidth = 273;
constexpr int kClientHeight = 161;
constexpr int kLabelHeight = 13;
constexpr UINT_PTR kLblDevSubclass = 1;

enum class Kind { Label, Button, Bevel, Picture };

struct AboutControl {
  std::string_view name;
  Kind kind;
  int id;
  int x, y, w, h; // w is ignored for labels, which take their text's width
  std::string_view text;
};

enum : int { kIdLabel1 = 100, kIdLabel2, kIdLblDev, kIdBtnOk, kIdBtnUpdate, kIdBevel1, kIdLabel3, kIdImage1 };

// In declared order, which is also the creation (and so the tab) order:
// "Ok" is reached before "Update Check".
constexpr std::array kControls{
    AboutControl{"Label1", Kind::Label, kIdLabel1, 8, 8, 0, kLabelHeight, "Application:        Quillmark"},
    AboutControl{"Label2", Kind::Label, kIdLabel2, 8, 24, 0, kLabelHeight, "Version:              " QM_VERSION_TEXT},
    AboutControl{"LblDev", Kind::Label, kIdLblDev, 8, 40, 0, kLabelHeight, "Developer:         Brindlewick"},
    AboutControl{"BtnOk", Kind::Button, kIdBtnOk, 184, 128, 83, 25, "Ok"},
    AboutControl{"BtnUpdate", Kind::Button, kIdBtnUpdate, 8, 128, 81, 25, "Update Check"},
    AboutControl{"Bevel1", Kind::Bevel, kIdBevel1, 8, 120, 257, 2, ""},
    AboutControl{"Label3", Kind::Label, kIdLabel3, 8, 104, 0, kLabelHeight, "Copyright (c) 2026 Brindlewick"},
    AboutControl{"Image1", Kind::Picture, kIdImage1, 160, 8, 105, 105, ""},
};

// Percent-encodes everything but the unreserved characters of a URL.
std::string UrlEncode(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                            c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

} // namespace

std::string UpdateCheckAddress() {
  return std::string("http://www.brindlewick.example/download.php?action=updatecheck&app=") + UrlEncode(kProductName) +
         "," + QM_VERSION_TEXT;
}

std::string DeveloperSiteAddress() { return kMakerSite; }

TfrmAbout::TfrmAbout(HINSTANCE instance) : instance_(instance), lblDevColour_(GetSysColor(COLOR_WINDOWTEXT)) {}

std::unique_ptr<TfrmAbout> TfrmAbout::Create(HINSTANCE instance) {
  if (!RegisterClassOnce(ClassRecord(instance, kClassName))) return nullptr;
  std::unique_ptr<TfrmAbout> form(new TfrmAbout(instance));
  // A dialog frame: fixed size, close box only.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
  RECT frame{0, 0, form->Scale(kClientWidth), form->Scale(kClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  HWND wnd = CreateWindowExA(exStyle, kClassName, "About", style, 0, 0, frame.right - frame.left,
                             frame.bottom - frame.top, nullptr, nullptr, instance, form.get());
  if (!wnd) return nullptr;
  form->CreateControls();
  return form;
}

TfrmAbout::~TfrmAbout() {
  if (wnd_ && IsWindow(wnd_)) {
    SetWindowLongPtrA(wnd_, GWLP_USERDATA, 0);
    DestroyWindow(wnd_);
  }
  if (font_) DeleteObject(font_);
  if (underlineFont_) DeleteObject(underlineFont_);
  if (logo_) DeleteObject(logo_);
}

void TfrmAbout::CreateControls() {
  LOGFONTA lf{};
  lf.lfHeight = -Scale(11);
  lf.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(lf.lfFaceName, "MS Sans Serif");
  font_ = CreateFontIndirectA(&lf);
  lf.lfUnderline = TRUE;
  underlineFont_ = CreateFontIndirectA(&lf);
  SendMessageA(wnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  HDC dc = GetDC(wnd_);
  HGDIOBJ oldFont = SelectObject(dc, font_);
  for (const AboutControl &c : kControls) {
    const std::string text(c.text);
    int w = Scale(c.w);
    const char *cls = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (c.kind) {
    case Kind::Label: {
      // Sized to the text, so the wider stand-ins for the font never clip it.
      SIZE extent{};
      GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
      w = extent.cx;
      // SS_NOTIFY: a label takes the mouse itself, so moving onto it is not
      // a move over the form's free area.
      style |= SS_LEFT | SS_NOPREFIX | SS_NOTIFY;
      break;
    }
    case Kind::Button:
      cls = "BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case Kind::Bevel:
      style |= SS_ETCHEDHORZ | SS_NOTIFY;
      break;
    case Kind::Picture:
      style |= SS_OWNERDRAW | SS_NOTIFY;
      break;
    }
    HWND child = CreateWindowExA(0, cls, text.c_str(), style, Scale(c.x), Scale(c.y), w, Scale(c.h), wnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
    if (!child) continue;
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // The etched line grows by its edge when created; put it back to size.
    if (c.kind == Kind::Bevel)
      SetWindowPos(child, nullptr, Scale(c.x), Scale(c.y), w, Scale(c.h), SWP_NOZORDER | SWP_NOACTIVATE);
    switch (c.id) {
    case kIdLabel1:
      label1_ = child;
      break;
    case kIdLabel2:
      label2_ = child;
      break;
    case kIdLblDev:
      lblDev_ = child;
      break;
    case kIdBtnOk:
      btnOk_ = child;
      break;
    case kIdBtnUpdate:
      btnUpdate_ = child;
      break;
    case kIdBevel1:
      bevel1_ = child;
      break;
    case kIdLabel3:
      label3_ = child;
      break;
    case kIdImage1:
      image1_ = child;
      break;
    default:
      break;
    }
  }
  SelectObject(dc, oldFont);
  ReleaseDC(wnd_, dc);
  if (lblDev_) SetWindowSubclass(lblDev_, LabelProc, kLblDevSubclass, reinterpret_cast<DWORD_PTR>(this));
}

// Decoded when the window is first shown, not at the program's start, which
// most runs never open the window to see.
void TfrmAbout::LoadLogo() {
  if (logoLoaded_) return;
  logoLoaded_ = true;
  Result<DecodedImage> logo = DecodeJpeg(RcData(instance_, kLogoResource));
  if (logo) {
    logo_ = CreateImageBitmap(*logo);
    logoWidth_ = logo->width;
    logoHeight_ = logo->height;
  }
}

HWND TfrmAbout::Control(const char *name) const {
  const std::string_view wanted(name ? name : "");
  const std::array<std::pair<std::string_view, HWND>, 8> controls{{{"Label1", label1_},
                                                                   {"Label2", label2_},
                                                                   {"LblDev", lblDev_},
                                                                   {"BtnOk", btnOk_},
                                                                   {"BtnUpdate", btnUpdate_},
                                                                   {"Bevel1", bevel1_},
                                                                   {"Label3", label3_},
                                                                   {"Image1", image1_}}};
  for (const auto &[controlName, handle] : controls)
    if (controlName == wanted) return handle;
  return nullptr;
}

void TfrmAbout::Show() {
  LoadLogo();
  if (!shown_) {
    // Centred on the screen the first time; afterwards it stays where the
    // user left it.
    CentreOnScreen(wnd_, SWP_NOACTIVATE);
    shown_ = true;
  }
  ShowWindow(wnd_, SW_SHOW);
  BringWindowToTop(wnd_);
  SetForegroundWindow(wnd_);
}

void TfrmAbout::OpenAddress(const std::string &address) { CurrentDialogs().ShellOpen(wnd_, address); }

void TfrmAbout::BtnOkClick() { SendMessageA(wnd_, WM_CLOSE, 0, 0); }
void TfrmAbout::BtnUpdateClick() { OpenAddress(UpdateCheckAddress()); }
void TfrmAbout::LblDevClick() { OpenAddress(DeveloperSiteAddress()); }
void TfrmAbout::LblDevMouseMove() { ApplyLblDevLook(kLinkColour, true); }
void TfrmAbout::FormMouseMove() { ApplyLblDevLook(GetSysColor(COLOR_WINDOWTEXT), false); }

void TfrmAbout::ApplyLblDevLook(COLORREF colour, bool underline) {
  lblDevColour_ = colour;
  hover_ = underline;
  if (!lblDev_) return;
  SendMessageA(lblDev_, WM_SETFONT, reinterpret_cast<WPARAM>(underline ? underlineFont_ : font_), FALSE);
  InvalidateRect(lblDev_, nullptr, TRUE);
}

void TfrmAbout::PaintImage(const DRAWITEMSTRUCT &item) {
  const RECT &box = item.rcItem;
  LoadLogo(); // a paint asked for without Show
  if (!logo_) {
    FillRect(item.hDC, &box, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(source, logo_);
  // Stretched to fill the box; at 96 DPI box and picture are the same size.
  SetStretchBltMode(item.hDC, HALFTONE);
  SetBrushOrgEx(item.hDC, 0, 0, nullptr);
  StretchBlt(item.hDC, box.left, box.top, box.right - box.left, box.bottom - box.top, source, 0, 0, logoWidth_,
             logoHeight_, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

LRESULT TfrmAbout::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case WM_CLOSE:
    ShowWindow(wnd_, SW_HIDE);
    return 0; // closing only hides
  case WM_MOUSEMOVE:
    FormMouseMove();
    return 0;
  case WM_COMMAND: {
    const int id = LOWORD(wp);
    const int code = HIWORD(wp);
    if (id == kIdBtnOk && code == BN_CLICKED)
      BtnOkClick();
    else if (id == kIdBtnUpdate && code == BN_CLICKED)
      BtnUpdateClick();
    else if (id == kIdLblDev && code == STN_CLICKED)
      LblDevClick();
    return 0;
  }
  case WM_CTLCOLORSTATIC: {
    HDC dc = reinterpret_cast<HDC>(wp);
    SetTextColor(dc, reinterpret_cast<HWND>(lp) == lblDev_ ? lblDevColour_ : GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  case WM_DRAWITEM: {
    const auto *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lp);
    if (item && item->CtlID == kIdImage1) {
      PaintImage(*item);
      return TRUE;
    }
    break;
  }
  default:
    break;
  }
  return DefWindowProcA(wnd_, msg, wp, lp);
}

LRESULT CALLBACK TfrmAbout::LabelProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  auto *form = reinterpret_cast<TfrmAbout *>(ref);
  if (msg == WM_MOUSEMOVE) form->LblDevMouseMove();
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(wnd, LabelProc, kLblDevSubclass);
  return DefSubclassProc(wnd, msg, wp, lp);
}

} // namespace qm::win
