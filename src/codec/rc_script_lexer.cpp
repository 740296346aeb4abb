#include "codec/rc_script_lexer.h"

#include <cctype>

#include "codec/integer_text.h"

namespace qm {
namespace {

// Bounds on what a hostile script can make the reader do.
constexpr std::size_t kMaxMacros = 4096;
constexpr std::size_t kMaxMacroTokens = 1024;
constexpr std::size_t kMaxStoredTokens = 1u << 16; // all macro bodies together
constexpr std::size_t kMaxExpandedTokens = 1u << 18;

bool NameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool NameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// One escape after the backslash at body[i]; i moves past it.
char16_t Escape(std::string_view body, std::size_t &i, bool wide) {
  char c = body[++i];
  ++i;
  switch (c) {
  case 'n':
    return u'\n';
  case 't':
    return u'\t';
  case 'r':
    return u'\r';
  case 'x': {
    unsigned value = 0;
    for (int n = 0; n < (wide ? 4 : 2) && i < body.size() && DigitValue(body[i], 16) >= 0; ++n, ++i)
      value = value * 16 + static_cast<unsigned>(DigitValue(body[i], 16));
    return static_cast<char16_t>(value);
  }
  default:
    break;
  }
  if (DigitValue(c, 8) >= 0) {
    unsigned value = static_cast<unsigned>(DigitValue(c, 8));
    for (int n = 1; n < 3 && i < body.size() && DigitValue(body[i], 8) >= 0; ++n, ++i)
      value = value * 8 + static_cast<unsigned>(DigitValue(body[i], 8));
    return static_cast<char16_t>(wide ? value : value & 0xFF);
  }
  return static_cast<char16_t>(static_cast<unsigned char>(c)); // \\ \" and the rest stand for themselves
}

} // namespace

Error ScriptError(std::uint32_t line, std::uint32_t column, std::string_view message) {
  return Fail(ErrorKind::Invalid,
              "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + std::string(message));
}

Error ScriptError(const ScriptToken &at, std::string_view message) { return ScriptError(at.Line, at.Column, message); }

Result<std::u16string> DecodeLiteral(const ScriptToken &token, bool *cut) {
  std::u16string out;
  std::string_view body = token.Text;
  bool ended = false;
  for (std::size_t i = 0; i < body.size();) {
    char16_t unit = 0;
    if (static_cast<unsigned char>(body[i]) >= 0x80)
      return ScriptError(token, "a character outside ASCII in a literal: write it as L\"\\x....\"");
    if (body[i] == '"') { // the lexer only lets doubled quotes through
      unit = u'"';
      i += 2;
    } else if (body[i] == '\\' && i + 1 < body.size()) {
      unit = Escape(body, i, token.Wide);
      // windres turns such a byte into a character of the code page (\x80 is the euro sign in 1252).
      if (!token.Wide && unit >= 0x80)
        return ScriptError(token, "an escape above 0x7F in a plain literal: write it as L\"\\x....\"");
    } else {
      unit = static_cast<char16_t>(body[i++]);
    }
    ended = ended || unit == 0;
    if (!ended) out.push_back(unit);
  }
  if (cut != nullptr) *cut = ended;
  return out;
}

void ScriptLexer::Advance() {
  if (pos_ >= text_.size()) return; // a backslash or quote may be the script's last character
  if (text_[pos_] == '\n') {
    ++line_;
    column_ = 1;
    lineStart_ = true;
  } else {
    ++column_;
  }
  ++pos_;
}

Status ScriptLexer::SkipBlank(bool inDirective) {
  while (pos_ < text_.size()) {
    char c = At();
    if (c == '\\' && At(1) == '\n' && inDirective) {
      Advance();
      Advance();
    } else if (c == '\n' && inDirective) {
      return Ok();
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      Advance();
    } else if (c == '/' && At(1) == '/') {
      while (pos_ < text_.size() && At() != '\n')
        Advance();
    } else if (c == '/' && At(1) == '*') {
      std::uint32_t line = line_, column = column_;
      Advance();
      Advance();
      while (pos_ < text_.size() && !(At() == '*' && At(1) == '/'))
        Advance();
      if (pos_ >= text_.size()) return ScriptError(line, column, "a comment that is never closed");
      Advance();
      Advance();
    } else {
      return Ok();
    }
  }
  return Ok();
}

Result<ScriptToken> ScriptLexer::Raw(bool inDirective) {
  QM_RETURN_IF_ERROR(SkipBlank(inDirective));
  ScriptToken token;
  token.Line = line_;
  token.Column = column_;
  token.LineStart = lineStart_;
  if (pos_ >= text_.size() || (inDirective && At() == '\n')) return token;
  lineStart_ = false;
  char c = At();
  if (c == '"' || (c == 'L' && At(1) == '"')) {
    token.Kind = TokenKind::String;
    token.Wide = c == 'L';
    if (token.Wide) Advance();
    Advance();
    std::size_t start = pos_;
    for (;;) {
      if (pos_ >= text_.size() || At() == '\n') return ScriptError(token, "a literal that does not end on its line");
      if (At() == '"' && At(1) != '"') break;
      if (At() == '"' || At() == '\\') Advance();
      if (At() != '\n') Advance();
    }
    token.Text = std::string(text_.substr(start, pos_ - start));
    Advance();
    return token;
  }
  if (NameStart(c)) {
    token.Kind = TokenKind::Name;
    while (NameChar(At()))
      token.Text.push_back(At()), Advance();
    return token;
  }
  if (std::isdigit(static_cast<unsigned char>(c))) {
    token.Kind = TokenKind::Number;
    int base = 10;
    if (c == '0' && (At(1) == 'x' || At(1) == 'X')) {
      base = 16;
      Advance();
      Advance();
      if (DigitValue(At(), 16) < 0) return ScriptError(token, "a hex number without digits");
    }
    std::uint64_t value = 0;
    for (int digit; (digit = DigitValue(At(), base)) >= 0; Advance()) {
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
      if (value > 0xFFFFFFFFu) return ScriptError(token, "a number larger than 32 bits");
    }
    while (At() == 'L' || At() == 'l' || At() == 'U' || At() == 'u')
      Advance();
    if (NameChar(At())) return ScriptError(line_, column_, "a number followed by letters");
    token.Number = static_cast<std::uint32_t>(value);
    return token;
  }
  token.Kind = TokenKind::Punct;
  token.Text = std::string(1, c);
  Advance();
  return token;
}

std::string ScriptLexer::RestOfLine() {
  std::size_t start = pos_;
  while (pos_ < text_.size() && At() != '\n')
    Advance();
  return std::string(text_.substr(start, pos_ - start));
}

Status ScriptLexer::Define(const ScriptToken &hash) {
  QM_UNWRAP_OR_RETURN(name, Raw(true));
  if (name.Kind != TokenKind::Name) return ScriptError(name, "#define without a name");
  if (At() == '(') return ScriptError(line_, column_, "#define of a macro with parameters");
  std::vector<ScriptToken> body;
  for (;;) {
    QM_UNWRAP_OR_RETURN(token, Raw(true));
    if (token.Kind == TokenKind::End) break;
    auto macro = token.Kind == TokenKind::Name ? macros_.find(token.Text) : macros_.end();
    if (macro != macros_.end())
      body.insert(body.end(), macro->second.begin(), macro->second.end());
    else
      body.push_back(std::move(token));
    if (body.size() > kMaxMacroTokens) return ScriptError(hash, "#define longer than the reader takes");
  }
  if (macros_.size() >= kMaxMacros && !macros_.count(name.Text))
    return ScriptError(hash, "more #define lines than the reader takes");
  stored_ += body.size();
  if (stored_ > kMaxStoredTokens) return ScriptError(hash, "#define lines longer together than the reader takes");
  macros_[name.Text] = std::move(body);
  return Ok();
}

Status ScriptLexer::Directive() {
  ScriptToken hash;
  hash.Line = line_;
  hash.Column = column_;
  Advance();
  QM_UNWRAP_OR_RETURN(word, Raw(true));
  if (word.Kind == TokenKind::End) return Ok(); // a lone # is a null directive
  if (word.Text == "include" || word.Text == "pragma") {
    RestOfLine();
    return Ok();
  }
  if (word.Text == "define") return Define(hash);
  if (word.Text == "undef") {
    QM_UNWRAP_OR_RETURN(name, Raw(true));
    if (name.Kind != TokenKind::Name) return ScriptError(name, "#undef without a name");
    macros_.erase(name.Text);
    QM_UNWRAP_OR_RETURN(rest, Raw(true));
    if (rest.Kind != TokenKind::End) return ScriptError(rest, "more after #undef's name");
    return Ok();
  }
  return ScriptError(hash, "the directive #" + word.Text + " is not supported");
}

Result<ScriptToken> ScriptLexer::Next() {
  for (;;) {
    if (!pending_.empty()) {
      ScriptToken token = std::move(pending_.front());
      pending_.pop_front();
      return token;
    }
    QM_RETURN_IF_ERROR(SkipBlank(false));
    if (lineStart_ && At() == '#') {
      QM_RETURN_IF_ERROR(Directive());
      continue;
    }
    QM_UNWRAP_OR_RETURN(token, Raw(false));
    auto macro = token.Kind == TokenKind::Name ? macros_.find(token.Text) : macros_.end();
    if (macro == macros_.end()) return token;
    expanded_ += macro->second.size();
    if (expanded_ > kMaxExpandedTokens) return ScriptError(token, "macros expand to more than the reader takes");
    for (ScriptToken use : macro->second) {
      use.Line = token.Line;
      use.Column = token.Column;
      use.LineStart = token.LineStart && pending_.empty();
      pending_.push_back(std::move(use));
    }
  }
}

} // namespace qm
