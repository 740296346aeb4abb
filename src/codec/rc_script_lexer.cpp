#include "codec/rc_script_lexer.h"

#include <cctype>

#include "base/shown_text.h"
#include "codec/integer_text.h"
#include "codec/text_codec.h"

namespace qm {
namespace {

bool NameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool NameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// One escape after the backslash at body[i]; i moves past it.
unsigned Escape(std::string_view body, std::size_t &i, bool wide) {
  char c = body[++i];
  ++i;
  switch (c) {
  case 'n':
    return '\n';
  case 't':
    return '\t';
  case 'r':
    return '\r';
  case 'a': // the resource compilers' \a is a backspace, not C's bell
    return '\b';
  case 'x': {
    unsigned value = 0;
    for (int n = 0; n < (wide ? 4 : 2) && i < body.size() && DigitValue(body[i], 16) >= 0; ++n, ++i)
      value = value * 16 + static_cast<unsigned>(DigitValue(body[i], 16));
    return value;
  }
  default:
    break;
  }
  if (DigitValue(c, 8) >= 0) {
    unsigned value = static_cast<unsigned>(DigitValue(c, 8));
    for (int n = 1; n < 3 && i < body.size() && DigitValue(body[i], 8) >= 0; ++n, ++i)
      value = value * 8 + static_cast<unsigned>(DigitValue(body[i], 8));
    return wide ? value : value & 0xFF;
  }
  return static_cast<unsigned char>(c); // \\ \" and the rest stand for themselves
}

std::string HexByte(unsigned byte) {
  const char *digits = "0123456789ABCDEF";
  return std::string("0x") + digits[byte >> 4 & 0xF] + digits[byte & 0xF];
}

// A plain literal's bytes in its code page.
Result<std::u16string> FromCodePage(const ScriptToken &token, std::string_view bytes) {
  const std::string hint = " (--codepage or #pragma code_page name the script's code page; L\"\\x....\" "
                           "names a character in any)";
  if (token.CodePage == 65001) {
    std::u16string text = Utf8ToUtf16(bytes);
    if (Utf16ToUtf8(text) != bytes)
      return ScriptError(token, "a literal that is not UTF-8, the code page 65001" + hint);
    return text;
  }
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) continue;
    if (token.CodePage != 1252)
      return ScriptError(token, "the byte " + HexByte(byte) + " in a literal of code page " +
                                    std::to_string(token.CodePage) + ", which is read as 1252 or 65001 only" + hint);
    // Windows-1252 leaves these five undefined; windres ends the text there.
    if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D)
      return ScriptError(token, "the byte " + HexByte(byte) + ", which code page 1252 lacks, in a literal" + hint);
  }
  return Windows1252Codec().ToUtf16(bytes);
}

} // namespace

Error ScriptError(const std::string *file, std::uint32_t line, std::uint32_t column, std::string_view message) {
  std::string where = "line " + std::to_string(line) + ", column " + std::to_string(column);
  if (file != nullptr) where += " of " + Quoted(*file);
  return Fail(ErrorKind::Invalid, where + ": " + std::string(message));
}

Error ScriptError(const ScriptToken &at, std::string_view message) {
  return ScriptError(at.File, at.Line, at.Column, message);
}

std::string Spelling(const ScriptToken &token) {
  if (token.Kind == TokenKind::String) return (token.Wide ? "L\"" : "\"") + token.Text + "\"";
  return token.Text;
}

Result<std::u16string> DecodeLiteral(const ScriptToken &token, bool *cut) {
  std::u16string out;
  std::string bytes;
  std::string_view body = token.Text;
  bool ended = false;
  for (std::size_t i = 0; i < body.size() && !ended;) {
    unsigned unit = 0;
    if (token.Wide && static_cast<unsigned char>(body[i]) >= 0x80)
      return ScriptError(token, "a character outside ASCII in an L\"...\" literal: write it as \\x....");
    if (body[i] == '"') { // the lexer only lets doubled quotes through
      unit = '"';
      i += 2;
    } else if (body[i] == '\\' && i + 1 < body.size()) {
      unit = Escape(body, i, token.Wide);
    } else {
      unit = static_cast<unsigned char>(body[i++]);
    }
    ended = unit == 0;
    if (ended) break;
    if (token.Wide)
      out.push_back(static_cast<char16_t>(unit));
    else
      bytes.push_back(static_cast<char>(unit));
  }
  if (cut != nullptr) *cut = ended;
  if (token.Wide) return out;
  return FromCodePage(token, bytes);
}

bool ScriptLexer::Splice() {
  if (At() != '\\') return false;
  std::size_t skip = At(1) == '\n' ? 2 : At(1) == '\r' && At(2) == '\n' ? 3 : 0;
  if (skip == 0) return false;
  pos_ += skip;
  ++line_;
  column_ = 1;
  return true;
}

void ScriptLexer::Advance() {
  if (pos_ >= text_.size()) return; // a backslash or quote may be the text's last character
  if (text_[pos_] == '\n') {
    ++line_;
    column_ = 1;
    lineStart_ = true;
  } else {
    ++column_;
  }
  ++pos_;
}

void ScriptLexer::NextLine() {
  while (pos_ < text_.size() && At() != '\n')
    Advance();
  Advance();
}

Status ScriptLexer::SkipBlank(bool inDirective) {
  while (pos_ < text_.size()) {
    char c = At();
    if (Splice()) continue;
    if (c == '\n' && inDirective) return Ok();
    if (std::isspace(static_cast<unsigned char>(c))) {
      Advance();
    } else if (c == '/' && At(1) == '/') {
      while (pos_ < text_.size() && At() != '\n')
        if (!Splice()) Advance();
    } else if (c == '/' && At(1) == '*') {
      std::uint32_t line = line_, column = column_;
      Advance();
      Advance();
      while (pos_ < text_.size() && !(At() == '*' && At(1) == '/'))
        Advance();
      if (pos_ >= text_.size()) return ScriptError(file_, line, column, "a comment that is never closed");
      Advance();
      Advance();
    } else {
      return Ok();
    }
  }
  return Ok();
}

Status ScriptLexer::SkipLine() {
  while (pos_ < text_.size() && At() != '\n') {
    char c = At();
    if (Splice()) continue;
    if (c == '/' && (At(1) == '/' || At(1) == '*')) {
      QM_RETURN_IF_ERROR(SkipBlank(true));
    } else if (c == '"') {
      // A literal may hold what looks like a comment; an unclosed one ends with its line.
      Advance();
      while (pos_ < text_.size() && At() != '\n' && At() != '"') {
        if (At() == '\\' && At(1) != '\n' && At(1) != '\r') Advance();
        if (!Splice()) Advance();
      }
      if (At() == '"') Advance();
    } else {
      Advance();
    }
  }
  return Ok();
}

std::string ScriptLexer::RestOfLine() {
  std::string text;
  while (pos_ < text_.size() && At() != '\n' && At() != '\r') {
    if (Splice()) continue;
    text.push_back(At());
    Advance();
  }
  return text;
}

std::string ScriptLexer::AngleName() {
  Advance();
  std::string name;
  while (pos_ < text_.size() && At() != '\n' && At() != '>')
    name.push_back(At()), Advance();
  if (At() != '>') return {};
  Advance();
  return name;
}

bool ScriptLexer::AtDirective() {
  if (!lineStart_) return false;
  return At() == '#';
}

Result<ScriptToken> ScriptLexer::Raw(bool inDirective) {
  const std::size_t before = pos_;
  QM_RETURN_IF_ERROR(SkipBlank(inDirective));
  ScriptToken token;
  token.File = file_;
  token.Line = line_;
  token.Column = column_;
  token.LineStart = lineStart_;
  token.SpaceBefore = pos_ != before;
  if (pos_ >= text_.size() || (inDirective && At() == '\n')) return token;
  lineStart_ = false;
  char c = At();
  if (c == '"' || ((c == 'L' || c == 'l') && At(1) == '"')) {
    token.Kind = TokenKind::String;
    token.Wide = c != '"';
    if (token.Wide) Advance();
    Advance();
    for (;;) {
      if (Splice()) continue;
      if (pos_ >= text_.size() || At() == '\n') return ScriptError(token, "a literal that does not end on its line");
      if (At() == '\0') return ScriptError(file_, line_, column_, "a NUL byte inside a literal");
      if (At() == '"' && At(1) != '"') break;
      // A doubled quote, or an escape: two characters of the body together.
      const bool pair = At() == '"' || At() == '\\';
      token.Text.push_back(At());
      Advance();
      if (!pair || Splice() || pos_ >= text_.size() || At() == '\n') continue;
      if (At() == '\0') return ScriptError(file_, line_, column_, "a NUL byte inside a literal");
      token.Text.push_back(At());
      Advance();
    }
    Advance();
    return token;
  }
  if (NameStart(c)) {
    token.Kind = TokenKind::Name;
    while (NameChar(At()) || Splice())
      if (NameChar(At())) token.Text.push_back(At()), Advance();
    return token;
  }
  if (std::isdigit(static_cast<unsigned char>(c))) {
    token.Kind = TokenKind::Number;
    while (NameChar(At()) || At() == '.')
      token.Text.push_back(At()), Advance();
    std::string_view digits = token.Text;
    int base = 10;
    if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      base = 16;
      digits.remove_prefix(2);
      token.BadNumber = digits.empty() || DigitValue(digits[0], 16) < 0;
    } else if (digits[0] == '0') {
      base = 8;
    }
    std::size_t i = 0;
    for (int digit; i < digits.size() && (digit = DigitValue(digits[i], base)) >= 0; ++i) {
      if (token.Number > (~std::uint64_t{0} - static_cast<unsigned>(digit)) / static_cast<unsigned>(base))
        token.BadNumber = true;
      token.Number = token.Number * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    while (i < digits.size() && std::string_view("lLuU").find(digits[i]) != std::string_view::npos)
      ++i;
    token.BadNumber = token.BadNumber || i != digits.size();
    return token;
  }
  token.Kind = TokenKind::Punct;
  static constexpr std::string_view kLong[] = {"...", "##", "<<", ">>", "<=", ">=", "==", "!=", "&&", "||"};
  for (std::string_view op : kLong) {
    if (std::string_view(text_).substr(pos_, op.size()) == op) {
      token.Text = std::string(op);
      for (std::size_t n = 0; n < op.size(); ++n)
        Advance();
      return token;
    }
  }
  if (static_cast<unsigned char>(c) >= 0x80 || !std::isgraph(static_cast<unsigned char>(c)))
    token.Kind = TokenKind::Other;
  token.Text = std::string(1, c);
  Advance();
  return token;
}

} // namespace qm
