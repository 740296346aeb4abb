#include "codec/rc_script_reader.h"

#include <optional>

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
bool IsPunct(const ScriptToken &t, char c) { return t.Kind == TokenKind::Punct && t.Text[0] == c; }
bool IsBegin(const ScriptToken &t) { return Is(t, "BEGIN") || IsPunct(t, '{'); }
bool IsEnd(const ScriptToken &t) { return Is(t, "END") || IsPunct(t, '}'); }

std::string Shown(const ScriptToken &t) {
  switch (t.Kind) {
  case TokenKind::End:
    return "the end of the script";
  case TokenKind::Number:
    return std::to_string(t.Number);
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
  ScriptParser(std::string_view text, const ScriptOptions &options) : lexer_(text), options_(options) {}

  Result<ParsedScript> Run() {
    for (;;) {
      QM_UNWRAP_OR_RETURN(t, Take());
      if (t.Kind == TokenKind::End) break;
      QM_RETURN_IF_ERROR(Statement(t));
    }
    if (!sawVersion_) return Fail(ErrorKind::Invalid, "the script holds no VERSIONINFO statement");
    return std::move(out_);
  }

private:
  Result<ScriptToken> Peek() {
    if (!peeked_) {
      QM_UNWRAP_OR_RETURN(t, lexer_.Next());
      peeked_ = std::move(t);
    }
    return *peeked_;
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
  Result<std::uint32_t> Expression(int depth);
  Result<std::uint32_t> Operand(int depth);
  Result<std::u16string> Literals();

  ScriptLexer lexer_;
  ScriptOptions options_;
  std::optional<ScriptToken> peeked_;
  ParsedScript out_;
  bool sawVersion_ = false;
};

Status ScriptParser::Statement(const ScriptToken &t) {
  if (Is(t, "LANGUAGE")) return Language();
  if (Is(t, "STRINGTABLE") || Is(t, "VERSION") || Is(t, "CHARACTERISTICS")) {
    if (!options_.OnlyVersion) return ScriptError(t, "only VERSIONINFO is read, not " + t.Text);
    return Skip(t);
  }
  if (t.Kind != TokenKind::Name && t.Kind != TokenKind::Number && t.Kind != TokenKind::String)
    return ScriptError(t, "expected a statement, found " + Shown(t));
  QM_UNWRAP_OR_RETURN(type, Take());
  if (Is(type, "VERSIONINFO")) return VersionInfoStatement(t, type);
  if (type.Kind != TokenKind::Name && type.Kind != TokenKind::Number)
    return ScriptError(type, "expected a resource type, found " + Shown(type));
  if (!options_.OnlyVersion) return ScriptError(type, "only VERSIONINFO is read, not " + Shown(type));
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

// Another resource: its BEGIN/END block, or its line when that names a file
// (a literal or a dotted name right after the type: ICON "app.ico").
Status ScriptParser::Skip(const ScriptToken &type) {
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (t.Kind == TokenKind::End) return Ok();
    if (t.Line == type.Line && (t.Kind == TokenKind::String || IsPunct(t, '.'))) break;
    peeked_.reset();
    if (!IsBegin(t)) continue;
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

Status ScriptParser::VersionInfoStatement(const ScriptToken &start, const ScriptToken &name) {
  if (sawVersion_) return ScriptError(name, "a second VERSIONINFO statement");
  sawVersion_ = true;
  out_.Name = start.Kind == TokenKind::Number ? std::to_string(start.Number) : start.Text;
  out_.Info.HasFixedPart = true;
  out_.Info.Fixed.StrucVersion = 0x10000;
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (IsBegin(t)) break;
    if (t.Kind == TokenKind::End) return ScriptError(t, "VERSIONINFO without BEGIN");
    peeked_.reset();
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
    QM_UNWRAP_OR_RETURN(tableBegin, Peek());
    QM_RETURN_IF_ERROR(ExpectBegin());
    for (;;) {
      QM_UNWRAP_OR_RETURN(tableDone, AtEnd(tableBegin));
      if (tableDone) break;
      QM_UNWRAP_OR_RETURN(v, Take());
      if (!Is(v, "VALUE")) return ScriptError(v, "expected VALUE or END in a table, found " + Shown(v));
      QM_UNWRAP_OR_RETURN(entryKey, Literals());
      QM_RETURN_IF_ERROR(ExpectComma());
      QM_UNWRAP_OR_RETURN(entryValue, Literals());
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

Result<std::uint32_t> ScriptParser::Expression(int depth) {
  QM_UNWRAP_OR_RETURN(value, Operand(depth));
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Peek());
    if (t.Kind != TokenKind::Punct || std::string_view("|+-&").find(t.Text[0]) == std::string_view::npos) return value;
    peeked_.reset();
    QM_UNWRAP_OR_RETURN(rhs, Operand(depth));
    switch (t.Text[0]) {
    case '|':
      value |= rhs;
      break;
    case '+':
      value += rhs;
      break;
    case '-':
      value -= rhs;
      break;
    default:
      value &= rhs;
      break;
    }
  }
}

Result<std::uint32_t> ScriptParser::Operand(int depth) {
  QM_UNWRAP_OR_RETURN(t, Take());
  if (depth > kMaxExpressionDepth) return ScriptError(t, "an expression nested too deeply");
  if (t.Kind == TokenKind::Number) return t.Number;
  if (t.Kind == TokenKind::Name) {
    std::optional<std::uint32_t> known = KnownScriptValue(t.Text);
    if (!known) return ScriptError(t, "an unknown name '" + t.Text.substr(0, 40) + "'");
    return *known;
  }
  if (IsPunct(t, '-') || IsPunct(t, '~')) {
    QM_UNWRAP_OR_RETURN(inner, Operand(depth + 1));
    return t.Text[0] == '-' ? 0u - inner : ~inner;
  }
  if (!IsPunct(t, '(')) return ScriptError(t, "expected a number, found " + Shown(t));
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
