#include "win/ansi_text_codec.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

namespace qm::win {

namespace {

int CheckedLength(size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) throw std::length_error("Text too long to convert");
  return static_cast<int>(size);
}

} // namespace

std::u16string AnsiTextCodec::ToUtf16(std::string_view text) const {
  if (text.empty()) return {};
  const int length = CheckedLength(text.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string wide(static_cast<size_t>(needed), u'\0');
  const int written =
      MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t *>(wide.data()), needed);
  wide.resize(static_cast<size_t>(written > 0 ? written : 0));
  return wide;
}

std::string AnsiTextCodec::FromUtf16(std::u16string_view text) const {
  if (text.empty()) return {};
  const int length = CheckedLength(text.size());
  const auto *wide = reinterpret_cast<const wchar_t *>(text.data());
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string narrow(static_cast<size_t>(needed), '\0');
  const int written = WideCharToMultiByte(CP_ACP, 0, wide, length, narrow.data(), needed, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(written > 0 ? written : 0));
  return narrow;
}

std::string NameInCodePage(std::u16string_view name) {
  if (name.empty()) return {};
  const int length = CheckedLength(name.size());
  const auto *wide = reinterpret_cast<const wchar_t *>(name.data());
  // UTF-8 takes no flags, and has no look-alikes to refuse.
  const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int needed = WideCharToMultiByte(CP_ACP, flags, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string(name.size(), '?');
  std::string narrow(static_cast<size_t>(needed), '\0');
  const int written = WideCharToMultiByte(CP_ACP, flags, wide, length, narrow.data(), needed, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(written > 0 ? written : 0));
  return narrow;
}

} // namespace qm::win
