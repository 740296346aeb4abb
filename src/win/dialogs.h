#pragma once
// The platform dialogs the windows use: open and save file dialogs, the
// key-name input box, message boxes and opening an address in the browser.
// Windows reach them only through CurrentDialogs(), so a test can install a
// double that answers them without showing anything:
//
//   class Answers : public qm::win::Dialogs { ... };
//   Answers answers;
//   qm::win::ScopedDialogs use(answers);   // restored when `use` goes out of scope
//   ... click a button; inspect what `answers` recorded ...
#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm::win {

struct FileDialogRequest {
  std::string title;
  // (display text, pattern) pairs in the order the dialog lists them.
  std::vector<std::pair<std::string, std::string>> filters;
};

class Dialogs {
public:
  virtual ~Dialogs() = default;
  // The chosen path, or nothing when the user cancels or the dialog fails.
  virtual std::optional<std::string> OpenFile(HWND owner, const FileDialogRequest &request) = 0;
  virtual std::optional<std::string> SaveFile(HWND owner, const FileDialogRequest &request) = 0;
  // A modal box, centred on the screen, with a prompt, an edit that starts
  // empty and takes at most 255 characters, OK (default) and Cancel. Nothing
  // when cancelled or closed; the text as typed (maybe empty) after OK.
  virtual std::optional<std::string> InputBox(HWND owner, const std::string &caption, const std::string &prompt) = 0;
  // MessageBoxA's result (named apart from the platform's MessageBox macro).
  virtual int ShowMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type) = 0;
  // Opens a web address in the user's browser; failures are silent.
  virtual void ShellOpen(HWND owner, const std::string &address) = 0;
};

// The real dialogs of the platform.
class PlatformDialogs final : public Dialogs {
public:
  std::optional<std::string> OpenFile(HWND owner, const FileDialogRequest &request) override;
  std::optional<std::string> SaveFile(HWND owner, const FileDialogRequest &request) override;
  std::optional<std::string> InputBox(HWND owner, const std::string &caption, const std::string &prompt) override;
  int ShowMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type) override;
  void ShellOpen(HWND owner, const std::string &address) override;
};

// The dialogs every window uses: the platform's unless a double is installed.
Dialogs &CurrentDialogs();

// Installs dialogs (nullptr: the platform's again) and gives the previous ones.
Dialogs *InstallDialogs(Dialogs *dialogs);

class ScopedDialogs {
public:
  explicit ScopedDialogs(Dialogs &dialogs) : previous_(InstallDialogs(&dialogs)) {}
  ~ScopedDialogs() { InstallDialogs(previous_); }
  ScopedDialogs(const ScopedDialogs &) = delete;
  ScopedDialogs &operator=(const ScopedDialogs &) = delete;

private:
  Dialogs *previous_;
};

} // namespace qm::win
