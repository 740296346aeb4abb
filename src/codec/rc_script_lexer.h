#pragma once
// The tokens of a resource script, after the little preprocessing resource
// scripts need: comments, #include (ignored), #define and #undef of object
// macros, #pragma (ignored). The text is untrusted: macros are expanded once,
// when defined, so a use never expands again, and every expansion is bounded.
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace qm {

enum class TokenKind { End, Number, Name, String, Punct };

struct ScriptToken {
  TokenKind Kind = TokenKind::End;
  std::uint32_t Number = 0;
  std::string Text; // a name, one punctuation character, or a literal's body between its quotes
  bool Wide = false;
  bool LineStart = false; // the first token of its line
  std::uint32_t Line = 1, Column = 1;
};

// An Invalid error that says where in the script it is.
Error ScriptError(const ScriptToken &at, std::string_view message);
Error ScriptError(std::uint32_t line, std::uint32_t column, std::string_view message);

// A literal's body as the resource compiler reads it: "" and \" are a quote,
// \\ \n \t \r, \x with up to two hex digits (four in L"..."), up to three
// octal digits; the value ends at its first NUL, as windres ends it (cut,
// when given, says so: the literals joined after it are dropped too).
// Characters outside ASCII, and escapes above 0x7F in a plain literal, are
// refused: windres reads them as bytes of a code page, so the same text
// would mean something else to it.
Result<std::u16string> DecodeLiteral(const ScriptToken &token, bool *cut = nullptr);

class ScriptLexer {
public:
  explicit ScriptLexer(std::string_view text) : text_(text) {}
  Result<ScriptToken> Next();

private:
  Result<ScriptToken> Raw(bool inDirective);
  Status SkipBlank(bool inDirective);
  Status Directive();
  Status Define(const ScriptToken &hash);
  std::string RestOfLine();
  char At(std::size_t offset = 0) const { return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0'; }
  void Advance();

  std::string_view text_;
  std::size_t pos_ = 0;
  std::uint32_t line_ = 1, column_ = 1;
  bool lineStart_ = true;
  std::map<std::string, std::vector<ScriptToken>, std::less<>> macros_;
  std::deque<ScriptToken> pending_;
  std::size_t expanded_ = 0;
  std::size_t stored_ = 0;
};

} // namespace qm
