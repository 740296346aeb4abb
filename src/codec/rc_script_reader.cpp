#include "codec/rc_script_reader.h"

#include <deque>
#include <optional>
#include <vector>

#include "codec/rc_preprocessor.h"
#include "codec/rc_script_lexer.h"
#include "codec/rc_script_names.h"
#include "codec/text_codec.h"

namespace qm {
namespace {

constexpr int kMaxExpressionDepth = 32;
constexpr int kMaxSkippedDepth = 256;
constexpr std::size_t kMaxTextUnits = 32767;

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  return true;
}

bool Is(const ScriptToken &t, std::string_view word) { return t.Kind == TokenKind::Name && SameWord(t.Text, word); }
bool IsPunct(const ScriptToken &t, char c) {
  return t.Kind == TokenKind::Punct && t.Text.size() == 1 && t.Text[0] == c;
}
bool IsMemoryFlag(const ScriptToken &t) {
  for (std::string_view flag : {"MOVEABLE", "IMPURE", "LOADONCALL", "DISCARDABLE", "PURE", "PRELOAD", "FIXED"})
    if (Is(t, flag)) return true;
  return false;
}
// The C casts headers put in their macros, which a resource compiler passes over.
bool IsCastType(const ScriptToken &t) {
  for (std::string_view type : {"WORD", "DWORD", "USHORT", "UINT", "ULONG", "LONG", "BYTE", "SHORT", "INT", "LANGID",
                                "unsigned", "int", "short", "long", "char"})
    if (t.Kind == TokenKind::Name && t.Text == type) return true;
  return false;
}
bool IsBegin(const ScriptToken &t) { return Is(t, "BEGIN") || IsPunct(t, '{'); }
bool IsEnd(const ScriptToken &t) { return Is(t, "END") || IsPunct(t, '}'); }

std::string Shown(const ScriptToken &t) {
  switch (t.Kind) {
  case TokenKind::End:
    return "the end of the script";
  case TokenKind::Number:
    return t.Text.substr(0, 40);
  case TokenKind::String:
    return "a literal";
  default: {
    // Appended rather than "'" + ...: see Quoted in base/shown_text.h.
    std::string shown(1, '\'');
    shown.append(t.Text, 0, 40);
    shown += '\'';
    return shown;
  }
  }
}

class ScriptParser {
public:
  ScriptParser(std::string_view text, const ScriptOptions &options)
      : lexer_(text, PreprocessorOptions{options.Defines, options.Undefines, options.CodePage, options.Resolver,
                                         options.Folder}),
        options_(options) {}

  Result<ParsedScript> Run() {
    for (;;) {
      QM_UNWRAP_OR_RETURN(t, Take());
      if (t.Kind == TokenKind::End) break;
      QM_RETURN_IF_ERROR(Statement(t));
    }
    if (!sawVersion_) {
      return Fail(ErrorKind::Invalid,
                  "the script holds no VERSIONINFO statement (one in an #if that is not taken? -D defines a name)");
    }
    return std::move(out_);
  }

private:
  Result<ScriptToken> Peek() {
    if (!peeked_ && !ahead_.empty()) {
      peeked_ = std::move(ahead_.front());
      ahead_.pop_front();
    }
    if (!peeked_) {
      QM_UNWRAP_OR_RETURN(t, lexer_.Next());
      peeked_ = std::move(t);
    }
    return *peeked_;
  }
  // Puts back a token taken, before the one peeked.
  void Unget(ScriptToken t) {
    if (peeked_) ahead_.push_front(std::move(*peeked_));
    peeked_ = std::move(t);
  }
  Result<ScriptToken> Take() {
    QM_UNWRAP_OR_RETURN(t, Peek());
    peeked_.reset();
    return t;
  }
  Status ExpectBegin() {
    QM_UNWRAP_OR_RETURN(t, Take());
    if (!IsBegin(t)) return ScriptError(t, "expected BEGIN, found " + Shown(t));
    return Ok();
  }
  Status ExpectComma() {
    QM_UNWRAP_OR_RETURN(t, Take());
    if (!IsPunct(t, ',')) return ScriptError(t, "expected a comma, found " + Shown(t));
    return Ok();
  }
  // Takes the END of a block when it is next; fails at the end of the script.
  Result<bool> AtEnd(const ScriptToken &begin) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (t.Kind == TokenKind::End) return ScriptError(begin, "a block that is never closed with END");
    if (IsEnd(t)) peeked_.reset();
    return IsEnd(t);
  }

  Status Statement(const ScriptToken &t);
  Status Language();
  Status VersionInfoStatement(const ScriptToken &start, const ScriptToken &name);
  Status FixedStatement(const ScriptToken &t);
  Status Body();
  Status StringFileInfo(const ScriptToken &begin);
  Status VarFileInfo(const ScriptToken &begin);
  Status Skip(const ScriptToken &type);
  Result<bool> HeaderLanguage();
  Result<std::uint32_t> Expression(int depth);
  Result<std::uint32_t> Binary(int least, int depth);
  Result<std::uint32_t> Operand(int depth);
  Result<std::u16string> Literals();

  Preprocessor lexer_;
  const ScriptOptions &options_;
  std::optional<ScriptToken> peeked_;
  std::deque<ScriptToken> ahead_;
  std::size_t blockBytes_ = 92 + 36 + 68; // the root with its fixed part, StringFileInfo's and VarFileInfo's heads
  ParsedScript out_;
  bool sawVersion_ = false;
};

Status ScriptParser::Statement(const ScriptToken &t) {
  if (Is(t, "LANGUAGE")) return Language();
  if (Is(t, "STRINGTABLE") || Is(t, "VERSION") || Is(t, "CHARACTERISTICS")) {
    if (!options_.OnlyVersion)
      return ScriptError(t, "only VERSIONINFO is read, not " + t.Text + " (--only-version skips the others)");
    return Skip(t);
  }
  if (t.Kind != TokenKind::Name && t.Kind != TokenKind::Number && t.Kind != TokenKind::String)
    return ScriptError(t, "expected a statement, found " + Shown(t));
  // A bare name runs on up to a blank or a separator: blank.htm HTML "blank.htm".
  ScriptToken name = t;
  for (;;) {
    if (name.Kind == TokenKind::String) break;
    QM_UNWRAP_OR_RETURN(next, Peek());
    if (next.Kind == TokenKind::End || next.Kind == TokenKind::String || next.SpaceBefore || next.LineStart ||
        IsPunct(next, ',') || IsBegin(next) || IsEnd(next))
      break;
    name.Kind = TokenKind::Name;
    name.Text += Spelling(next);
    peeked_.reset();
  }
  QM_UNWRAP_OR_RETURN(type, Take());
  if (Is(type, "VERSIONINFO")) return VersionInfoStatement(name, type);
  if (type.Kind != TokenKind::Name && type.Kind != TokenKind::Number)
    return ScriptError(type, "expected a resource type, found " + Shown(type));
  if (!options_.OnlyVersion)
    return ScriptError(type, "only VERSIONINFO is read, not " + Shown(type) + " (--only-version skips the others)");
  return Skip(type);
}

Status ScriptParser::Language() {
  QM_UNWRAP_OR_RETURN(at, Peek());
  QM_UNWRAP_OR_RETURN(primary, Expression(0));
  QM_RETURN_IF_ERROR(ExpectComma());
  QM_UNWRAP_OR_RETURN(sub, Expression(0));
  if (primary > 0x3FF || sub > 0x3F) return ScriptError(at, "a language out of range");
  if (!sawVersion_) {
    out_.HasLanguage = true;
    out_.Language = static_cast<std::uint16_t>(sub << 10 | primary);
  }
  return Ok();
}

// Another resource: its header lines and BEGIN/END block, or its line when
// that names a file (a literal or a dotted name before any comma on the
// type's line: ICON "app.ico"; a dialog's font comes after its size).
Status ScriptParser::Skip(const ScriptToken &type) {
  bool sawComma = false;
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (t.Kind == TokenKind::End) return Ok();
    const bool typeLine = t.Line == type.Line && t.File == type.File;
    if (typeLine && IsPunct(t, ',')) sawComma = true;
    if (typeLine && !sawComma && (t.Kind == TokenKind::String || IsPunct(t, '.'))) break;
    // Text that is no statement must not swallow the statements after it.
    if (t.LineStart && Is(t, "STRINGTABLE")) return Ok();
    if (t.LineStart && Is(t, "LANGUAGE")) {
      QM_UNWRAP_OR_RETURN(header, HeaderLanguage());
      if (!header) return Ok();
      continue;
    }
    peeked_.reset();
    if (!IsBegin(t)) {
      QM_UNWRAP_OR_RETURN(next, Peek());
      if (Is(next, "VERSIONINFO")) {
        Unget(t);
        return Ok();
      }
      continue;
    }
    for (int depth = 1; depth > 0;) {
      QM_UNWRAP_OR_RETURN(inner, Take());
      if (inner.Kind == TokenKind::End) return ScriptError(t, "a block that is never closed with END");
      if (IsBegin(inner) && ++depth > kMaxSkippedDepth) return ScriptError(inner, "blocks nested too deeply");
      if (IsEnd(inner)) --depth;
    }
    return Ok();
  }
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (t.Kind == TokenKind::End || t.LineStart) return Ok();
    peeked_.reset();
  }
}

// Whether the LANGUAGE next belongs to a skipped statement's header (a
// header line or BEGIN follows its line): then its line is taken, else
// nothing is.
Result<bool> ScriptParser::HeaderLanguage() {
  std::vector<ScriptToken> line;
  QM_UNWRAP_OR_RETURN(first, Take());
  line.push_back(std::move(first));
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (t.Kind == TokenKind::End || t.LineStart) break;
    line.push_back(std::move(t));
    peeked_.reset();
  }
  QM_UNWRAP_OR_RETURN(next, Peek());
  bool header = IsBegin(next);
  for (std::string_view word :
       {"CAPTION", "STYLE", "EXSTYLE", "FONT", "MENU", "CLASS", "CHARACTERISTICS", "VERSION", "LANGUAGE"})
    header = header || (next.LineStart && Is(next, word));
  if (!header)
    for (auto it = line.rbegin(); it != line.rend(); ++it)
      Unget(std::move(*it));
  return header;
}

Status ScriptParser::VersionInfoStatement(const ScriptToken &start, const ScriptToken &name) {
  if (sawVersion_) return ScriptError(name, "a second VERSIONINFO statement");
  sawVersion_ = true;
  if (start.Kind == TokenKind::Number && (start.BadNumber || start.Number > 0xFFFF))
    return ScriptError(start, "a resource number larger than 65535");
  out_.Name = start.Kind == TokenKind::Number ? std::to_string(start.Number) : start.Text;
  out_.Info.HasFixedPart = true;
  out_.Info.Fixed.StrucVersion = 0x10000;
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (IsBegin(t)) break;
    if (t.Kind == TokenKind::End) return ScriptError(t, "VERSIONINFO without BEGIN");
    peeked_.reset();
    if (IsMemoryFlag(t)) continue; // 16-bit Windows' loading hints, without meaning since
    QM_RETURN_IF_ERROR(FixedStatement(t));
  }
  return Body();
}

Status ScriptParser::FixedStatement(const ScriptToken &t) {
  FixedFileInfo &f = out_.Info.Fixed;
  const bool file = Is(t, "FILEVERSION");
  if (file || Is(t, "PRODUCTVERSION")) {
    std::uint16_t *parts[4] = {&f.FileMajor, &f.FileMinor, &f.FileRelease, &f.FileBuild};
    if (!file) parts[0] = &f.ProdMajor, parts[1] = &f.ProdMinor, parts[2] = &f.ProdRelease, parts[3] = &f.ProdBuild;
    for (std::uint16_t *part : parts)
      *part = 0;
    for (int i = 0; i < 4; ++i) {
      QM_UNWRAP_OR_RETURN(at, Peek());
      QM_UNWRAP_OR_RETURN(value, Expression(0));
      if (value > 0xFFFF) return ScriptError(at, "a version part larger than 65535");
      *parts[i] = static_cast<std::uint16_t>(value);
      QM_UNWRAP_OR_RETURN(next, Peek());
      if (!IsPunct(next, ',')) break;
      peeked_.reset();
    }
    return Ok();
  }
  std::uint32_t *field = Is(t, "FILEFLAGSMASK") ? &f.FlagsMask
                         : Is(t, "FILEFLAGS")   ? &f.Flags
                         : Is(t, "FILEOS")      ? &f.FileOs
                         : Is(t, "FILETYPE")    ? &f.FileType
                         : Is(t, "FILESUBTYPE") ? &f.FileSubType
                                                : nullptr;
  if (field == nullptr) return ScriptError(t, "expected a VERSIONINFO field or BEGIN, found " + Shown(t));
  QM_UNWRAP_OR_RETURN(value, Expression(0));
  *field = value;
  return Ok();
}

Status ScriptParser::Body() {
  QM_UNWRAP_OR_RETURN(begin, Take());
  for (;;) {
    QM_UNWRAP_OR_RETURN(done, AtEnd(begin));
    if (done) return Ok();
    QM_UNWRAP_OR_RETURN(t, Take());
    if (!Is(t, "BLOCK")) return ScriptError(t, "expected BLOCK or END, found " + Shown(t));
    QM_UNWRAP_OR_RETURN(nameToken, Peek());
    QM_UNWRAP_OR_RETURN(name, Literals());
    if (name == u"StringFileInfo")
      QM_RETURN_IF_ERROR(StringFileInfo(nameToken));
    else if (name == u"VarFileInfo")
      QM_RETURN_IF_ERROR(VarFileInfo(nameToken));
    else
      return ScriptError(nameToken, "a block other than \"StringFileInfo\" and \"VarFileInfo\"");
  }
}

Status ScriptParser::StringFileInfo(const ScriptToken &begin) {
  QM_RETURN_IF_ERROR(ExpectBegin());
  for (;;) {
    QM_UNWRAP_OR_RETURN(done, AtEnd(begin));
    if (done) return Ok();
    QM_UNWRAP_OR_RETURN(t, Take());
    if (!Is(t, "BLOCK")) return ScriptError(t, "expected a table's BLOCK or END, found " + Shown(t));
    QM_UNWRAP_OR_RETURN(keyToken, Peek());
    if (keyToken.Wide) return ScriptError(keyToken, "a table's BLOCK takes a plain \"...\" name, not L\"...\"");
    QM_UNWRAP_OR_RETURN(key, Literals());
    StringTable table{std::move(key), {}};
    blockBytes_ += 6 + (table.Key.size() + 1) * 2 + 2;
    QM_UNWRAP_OR_RETURN(tableBegin, Peek());
    QM_RETURN_IF_ERROR(ExpectBegin());
    for (;;) {
      QM_UNWRAP_OR_RETURN(tableDone, AtEnd(tableBegin));
      if (tableDone) break;
      QM_UNWRAP_OR_RETURN(v, Take());
      if (!Is(v, "VALUE")) return ScriptError(v, "expected VALUE or END in a table, found " + Shown(v));
      QM_UNWRAP_OR_RETURN(keyAt, Peek());
      QM_UNWRAP_OR_RETURN(entryKey, Literals());
      QM_RETURN_IF_ERROR(ExpectComma());
      QM_UNWRAP_OR_RETURN(valueAt, Peek());
      QM_UNWRAP_OR_RETURN(entryValue, Literals());
      // Each length in the block is 16 bits: an entry, and the whole block.
      const std::size_t entry = 6 + (entryKey.size() + 1) * 2 + 2 + (entryValue.size() + 1) * 2;
      if (entry > 0xFFFF) {
        return ScriptError(entryValue.size() > entryKey.size() ? valueAt : keyAt,
                           "a VALUE of " + std::to_string(entry) + " bytes; an entry must stay below 65536");
      }
      blockBytes_ += (entry + 3) & ~std::size_t{3};
      if (blockBytes_ > 0xFFFF) return ScriptError(v, "the VALUE that makes the version block larger than 65535 bytes");
      table.Strings.push_back({std::move(entryKey), std::move(entryValue)});
    }
    out_.Info.Tables.push_back(std::move(table));
  }
}

Status ScriptParser::VarFileInfo(const ScriptToken &begin) {
  QM_RETURN_IF_ERROR(ExpectBegin());
  for (;;) {
    QM_UNWRAP_OR_RETURN(done, AtEnd(begin));
    if (done) return Ok();
    QM_UNWRAP_OR_RETURN(t, Take());
    if (!Is(t, "VALUE")) return ScriptError(t, "expected VALUE or END in VarFileInfo, found " + Shown(t));
    QM_UNWRAP_OR_RETURN(nameToken, Peek());
    QM_UNWRAP_OR_RETURN(name, Literals());
    if (name != u"Translation") return ScriptError(nameToken, "a VarFileInfo value other than \"Translation\"");
    std::vector<std::uint32_t> words;
    for (;;) {
      QM_UNWRAP_OR_RETURN(next, Peek());
      if (!IsPunct(next, ',')) break;
      peeked_.reset();
      QM_UNWRAP_OR_RETURN(at, Peek());
      QM_UNWRAP_OR_RETURN(word, Expression(0));
      if (word > 0xFFFF) return ScriptError(at, "a translation word larger than 0xFFFF");
      words.push_back(word);
    }
    if (words.size() % 2 != 0) return ScriptError(nameToken, "a language without its code page");
    for (std::size_t i = 0; i < words.size(); i += 2)
      out_.Info.Translations.push_back(
          {static_cast<std::uint16_t>(words[i]), static_cast<std::uint16_t>(words[i + 1])});
  }
}

// Binary operators by how tightly they bind: | loosest, * / % tightest.
int Precedence(const ScriptToken &t) {
  static constexpr struct {
    std::string_view op;
    int precedence;
  } kBinary[] = {{"|", 1}, {"^", 2}, {"&", 3}, {"<<", 4}, {">>", 4}, {"+", 5}, {"-", 5}, {"*", 6}, {"/", 6}, {"%", 6}};
  if (t.Kind != TokenKind::Punct) return 0;
  for (const auto &binary : kBinary)
    if (binary.op == t.Text) return binary.precedence;
  return 0;
}

Result<std::uint32_t> ScriptParser::Expression(int depth) { return Binary(1, depth); }

Result<std::uint32_t> ScriptParser::Binary(int least, int depth) {
  QM_UNWRAP_OR_RETURN(value, Operand(depth));
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    const int precedence = Precedence(t);
    if (precedence == 0 || precedence < least) return value;
    peeked_.reset();
    QM_UNWRAP_OR_RETURN(rhs, Binary(precedence + 1, depth + 1));
    const std::string_view op = t.Text;
    if ((op == "/" || op == "%") && rhs == 0) return ScriptError(t, "a division by zero");
    value = op == "|"    ? value | rhs
            : op == "^"  ? value ^ rhs
            : op == "&"  ? value & rhs
            : op == "<<" ? (rhs > 31 ? 0 : value << rhs)
            : op == ">>" ? (rhs > 31 ? 0 : value >> rhs)
            : op == "+"  ? value + rhs
            : op == "-"  ? value - rhs
            : op == "*"  ? value * rhs
            : op == "/"  ? value / rhs
                         : value % rhs;
  }
}

Result<std::uint32_t> ScriptParser::Operand(int depth) {
  QM_UNWRAP_OR_RETURN(t, Take());
  if (depth > kMaxExpressionDepth) return ScriptError(t, "an expression nested too deeply");
  if (t.Kind == TokenKind::Number) {
    if (t.BadNumber) return ScriptError(t, "'" + t.Text.substr(0, 40) + "' is not a number");
    if (t.Number > 0xFFFFFFFFu) return ScriptError(t, "a number larger than 32 bits");
    return static_cast<std::uint32_t>(t.Number);
  }
  if (t.Kind == TokenKind::Name) {
    std::optional<std::uint32_t> known = KnownScriptValue(t.Text);
    if (known) return *known;
    std::string message = "an unknown name '" + t.Text.substr(0, 40) + "' (-D " + t.Text.substr(0, 40) +
                          "=VALUE defines it; -I names the folder of the header that does";
    const std::vector<std::string> &skipped = lexer_.SkippedHeaders();
    for (std::size_t i = 0; i < skipped.size() && i < 4; ++i)
      message += (i == 0 ? "; skipped, not found: <" : ", <") + skipped[i].substr(0, 60) + ">";
    return ScriptError(t, message + ")");
  }
  if (IsPunct(t, '-') || IsPunct(t, '~') || IsPunct(t, '+')) {
    QM_UNWRAP_OR_RETURN(inner, Operand(depth + 1));
    return t.Text[0] == '-' ? 0u - inner : t.Text[0] == '~' ? ~inner : inner;
  }
  if (!IsPunct(t, '(')) return ScriptError(t, "expected a number, found " + Shown(t));
  QM_UNWRAP_OR_RETURN(first, Peek());
  if (IsCastType(first)) {
    peeked_.reset();
    for (;;) { // (unsigned short), (WORD)
      QM_UNWRAP_OR_RETURN(next, Take());
      if (IsPunct(next, ')')) break;
      if (!IsCastType(next)) return ScriptError(next, "expected ')' after a cast's type, found " + Shown(next));
    }
    return Operand(depth + 1);
  }
  QM_UNWRAP_OR_RETURN(inner, Expression(depth + 1));
  QM_UNWRAP_OR_RETURN(close, Take());
  if (!IsPunct(close, ')')) return ScriptError(close, "expected ')', found " + Shown(close));
  return inner;
}

Result<std::u16string> ScriptParser::Literals() {
  QM_UNWRAP_OR_RETURN(first, Take());
  if (first.Kind != TokenKind::String) return ScriptError(first, "expected a literal, found " + Shown(first));
  bool cut = false;
  QM_UNWRAP_OR_RETURN(text, DecodeLiteral(first, &cut));
  for (;;) {
    QM_UNWRAP_OR_RETURN(next, Peek());
    if (next.Kind != TokenKind::String) return text;
    peeked_.reset();
    bool cutHere = false;
    QM_UNWRAP_OR_RETURN(more, DecodeLiteral(next, &cutHere));
    if (!cut) text += more;
    cut = cut || cutHere;
    // Macros can repeat a literal many times; no version block holds a longer text.
    if (text.size() > kMaxTextUnits) return ScriptError(first, "a text longer than a version resource holds");
  }
}

} // namespace

Result<ParsedScript> ReadResourceScript(std::string_view text, const ScriptOptions &options) {
  if (text.size() > kMaxScriptBytes)
    return Fail(ErrorKind::TooLarge, "a resource script of " + std::to_string(text.size()) + " bytes is too large");
  return ScriptParser(text, options).Run();
}

} // namespace qm
