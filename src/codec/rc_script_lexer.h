#pragma once
// The tokens of a resource script as the preprocessor and the reader see
// them, and the raw lexer that cuts one file's text into them. The text is
// untrusted: every token is bounded by the text it came from.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace qm {

enum class TokenKind { End, Number, Name, String, Punct, Other };

struct ScriptToken {
  TokenKind Kind = TokenKind::End;
  std::uint64_t Number = 0;
  bool BadNumber = false; // letters after the digits, or more than 64 bits
  // A name, punctuation (# ## << && ...), a number's spelling, or a
  // literal's body between its quotes.
  std::string Text;
  bool Wide = false;
  bool LineStart = false;        // the first token of its line
  bool SpaceBefore = false;      // blanks before it (kept when a macro argument is stringized)
  std::uint16_t CodePage = 1252; // of a plain literal, from --codepage or the last #pragma code_page
  std::uint32_t Line = 1, Column = 1;
  const std::string *File = nullptr; // nullptr: the script itself; else an included file as found
  std::vector<std::uint32_t> Hidden; // the macros this token came out of, not expanded again in it
};

// An Invalid error that says where in the script (or an included file) it is.
Error ScriptError(const ScriptToken &at, std::string_view message);
Error ScriptError(const std::string *file, std::uint32_t line, std::uint32_t column, std::string_view message);
inline Error ScriptError(std::uint32_t line, std::uint32_t column, std::string_view message) {
  return ScriptError(nullptr, line, column, message);
}

// How a token is written, for # and ## in macros.
std::string Spelling(const ScriptToken &token);

// A literal's body as the resource compiler reads it: "" and \" are a quote,
// \\ \n \t \r, \a (a backspace, as windres reads it), \x with up to two hex digits (four in L"..."), up to three
// octal digits. Plain literals are bytes of their code page (1252, 65001 for
// UTF-8, or ASCII alone for others), wide ones UTF-8 text. The value ends at
// its first NUL, as windres ends it (cut, when given, says so: the literals
// joined after it are dropped too).
Result<std::u16string> DecodeLiteral(const ScriptToken &token, bool *cut = nullptr);

// One file's text cut into tokens. Backslash-newline joins lines between
// tokens and inside literals; comments count as blanks.
class ScriptLexer {
public:
  ScriptLexer(std::string_view text, const std::string *file) : text_(text), file_(file) {}

  // The next token; in a directive, End at the end of its line.
  Result<ScriptToken> Raw(bool inDirective);
  // Blanks and comments; stops at a newline in a directive.
  Status SkipBlank(bool inDirective);
  // The rest of the line (a skipped line, or a directive not read), comments
  // and joined lines included; the newline is left.
  Status SkipLine();
  // The text of the rest of the line, for #error; the newline is left.
  std::string RestOfLine();
  // <name> after #include (the '<' next); empty when unclosed.
  std::string AngleName();
  // Whether a '#' is next, first on its line (after blanks).
  bool AtDirective();
  bool AtEnd() const { return pos_ >= text_.size(); }
  char At(std::size_t offset = 0) const { return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0'; }
  void Advance();
  // Past a newline (or nothing, at the end).
  void NextLine();
  std::uint32_t Line() const { return line_; }
  std::uint32_t Column() const { return column_; }
  const std::string *File() const { return file_; }
  void SetLine(std::uint32_t line) { line_ = line; }
  void SetFile(const std::string *file) { file_ = file; }

private:
  bool Splice();

  std::string_view text_;
  const std::string *file_;
  std::size_t pos_ = 0;
  std::uint32_t line_ = 1, column_ = 1;
  bool lineStart_ = true;
};

} // namespace qm
