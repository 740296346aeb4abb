#include "codec/rc_preprocessor.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "base/shown_text.h"
#include "codec/rc_condition.h"
#include "codec/rc_script_names.h"

namespace qm {
namespace {

// Bounds on what a hostile script can make the preprocessor do. Real
// headers given with -I (a whole windows.h) stay well inside them.
constexpr std::size_t kMaxIncludeDepth = 32;
constexpr std::size_t kMaxIncludes = 4096;
constexpr std::size_t kMaxReadBytes = 64u << 20; // all files read together
constexpr std::size_t kMaxConditionalDepth = 256;
constexpr std::size_t kMaxMacros = 1u << 16;
constexpr std::size_t kMaxMacroTokens = 4096;
constexpr std::size_t kMaxParams = 256;
constexpr std::size_t kMaxStoredTokens = 1u << 19; // all macro bodies together
constexpr std::size_t kMaxExpandedTokens = 1u << 14;
constexpr std::size_t kMaxListTokens = 1u << 13; // one expansion, or one macro's arguments
constexpr int kMaxExpansionDepth = 64;
constexpr std::size_t kMaxStringized = 1u << 16;

bool IsPunct(const ScriptToken &t, std::string_view text) { return t.Kind == TokenKind::Punct && t.Text == text; }

bool Hides(const ScriptToken &t, std::uint32_t id) { return std::binary_search(t.Hidden.begin(), t.Hidden.end(), id); }

void Hide(ScriptToken &t, const std::vector<std::uint32_t> &ids) {
  if (t.Hidden.empty()) {
    t.Hidden = ids;
    return;
  }
  std::vector<std::uint32_t> both;
  both.reserve(t.Hidden.size() + ids.size());
  std::set_union(t.Hidden.begin(), t.Hidden.end(), ids.begin(), ids.end(), std::back_inserter(both));
  t.Hidden = std::move(both);
}

std::string Shown40(std::string_view text) { return Quoted(text, 40); }

} // namespace

bool DirectivesOnly(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot + 2 != fileName.size()) return false;
  const char last = static_cast<char>(std::tolower(static_cast<unsigned char>(fileName.back())));
  return last == 'h' || last == 'c';
}

struct Preprocessor::Macro {
  std::uint32_t Id = 0;
  bool Function = false, Variadic = false;
  std::vector<std::string> Params;
  std::vector<ScriptToken> Body;
};

struct OpenConditional {
  ScriptToken At;
  bool Active = false; // its lines are read
  bool Taken = false;  // a branch was (or, in a skipped group, need not be) taken
  bool SawElse = false;
};

struct Preprocessor::Source {
  Source(std::string owned, std::string_view text, const std::string *name, std::string folder, bool directivesOnly)
      : Owned(std::move(owned)), Lexer(Owned.empty() ? text : Owned, name), Folder(std::move(folder)),
        DirectivesOnly(directivesOnly) {}
  std::string Owned;
  ScriptLexer Lexer;
  std::string Folder;
  bool DirectivesOnly;
  std::vector<OpenConditional> Conditionals;
};

Preprocessor::Preprocessor(std::string_view text, PreprocessorOptions options)
    : options_(std::move(options)), codePage_(options_.CodePage) {
  sources_.push_back(std::make_unique<Source>(std::string(), text, nullptr, options_.Folder, false));
}

Preprocessor::~Preprocessor() = default;

bool Preprocessor::Skipping() const {
  const Source &source = *sources_.back();
  return !source.Conditionals.empty() && !source.Conditionals.back().Active;
}

Status Preprocessor::Count(const ScriptToken &at, std::size_t tokens) {
  expanded_ += tokens;
  if (expanded_ > kMaxExpandedTokens) return ScriptError(at, "macros expand to more than the reader takes");
  return Ok();
}

Status Preprocessor::Start() {
  started_ = true;
  names_.push_back("the command line");
  ScriptToken at;
  at.File = &names_.back();
  QM_RETURN_IF_ERROR(DefineText(at, "RC_INVOKED 1"));
  QM_RETURN_IF_ERROR(DefineText(at, "_WIN32 1"));
  for (const std::string &define : options_.Defines) {
    std::string text = define;
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos)
      text += " 1";
    else
      text[equals] = ' ';
    QM_RETURN_IF_ERROR(DefineText(at, text));
  }
  for (const std::string &name : options_.Undefines)
    macros_.erase(name);
  return Ok();
}

Status Preprocessor::DefineText(const ScriptToken &at, std::string_view text) {
  ScriptLexer lexer(text, at.File);
  return Define(at, lexer);
}

Status Preprocessor::Define(const ScriptToken &at, ScriptLexer &lexer) {
  QM_UNWRAP_OR_RETURN(name, lexer.Raw(true));
  if (name.Kind != TokenKind::Name) return ScriptError(at, "#define without a name");
  Macro macro;
  if (lexer.At() == '(') { // no blank between the name and '(': parameters
    macro.Function = true;
    QM_UNWRAP_OR_RETURN(open, lexer.Raw(true));
    for (bool first = true;; first = false) {
      QM_UNWRAP_OR_RETURN(t, lexer.Raw(true));
      if (first && IsPunct(t, ")")) break;
      if (IsPunct(t, "...")) {
        macro.Variadic = true;
        macro.Params.push_back("__VA_ARGS__");
        QM_UNWRAP_OR_RETURN(close, lexer.Raw(true));
        if (!IsPunct(close, ")")) return ScriptError(close, "expected ')' after '...' in #define");
        break;
      }
      if (t.Kind != TokenKind::Name) return ScriptError(t, "expected a parameter's name in #define");
      if (macro.Params.size() == kMaxParams) return ScriptError(t, "more parameters than the reader takes");
      macro.Params.push_back(t.Text);
      QM_UNWRAP_OR_RETURN(next, lexer.Raw(true));
      if (IsPunct(next, ")")) break;
      if (!IsPunct(next, ",")) return ScriptError(next, "expected ',' or ')' after a parameter in #define");
    }
  }
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, lexer.Raw(true));
    if (t.Kind == TokenKind::End) break;
    t.CodePage = codePage_;
    macro.Body.push_back(std::move(t));
    if (macro.Body.size() > kMaxMacroTokens) return ScriptError(at, "#define longer than the reader takes");
  }
  if (!macro.Body.empty() && (IsPunct(macro.Body.front(), "##") || IsPunct(macro.Body.back(), "##")))
    return ScriptError(at, "'##' at either end of a #define");
  auto old = macros_.find(name.Text);
  if (old == macros_.end() && macros_.size() >= kMaxMacros)
    return ScriptError(at, "more #define lines than the reader takes");
  stored_ += macro.Body.size();
  if (stored_ > kMaxStoredTokens) return ScriptError(at, "#define lines longer together than the reader takes");
  macro.Id = old != macros_.end() ? old->second->Id : nextId_++;
  macros_[name.Text] = std::make_shared<const Macro>(std::move(macro));
  return Ok();
}

Result<std::vector<ScriptToken>> Preprocessor::DirectiveTokens(ScriptLexer &lexer) {
  std::vector<ScriptToken> tokens;
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, lexer.Raw(true));
    if (t.Kind == TokenKind::End) return tokens;
    t.CodePage = codePage_;
    tokens.push_back(std::move(t));
    if (tokens.size() > kMaxListTokens) return ScriptError(tokens.front(), "a directive longer than the reader takes");
  }
}

Result<bool> Preprocessor::Condition(const ScriptToken &at, ScriptLexer &lexer) {
  QM_UNWRAP_OR_RETURN(tokens, DirectiveTokens(lexer));
  // `defined NAME` and `defined(NAME)` are answered before anything expands.
  std::vector<ScriptToken> answered;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].Kind != TokenKind::Name || tokens[i].Text != "defined") {
      answered.push_back(std::move(tokens[i]));
      continue;
    }
    const bool parens = i + 1 < tokens.size() && IsPunct(tokens[i + 1], "(");
    const std::size_t nameAt = i + (parens ? 2 : 1);
    if (nameAt >= tokens.size() || tokens[nameAt].Kind != TokenKind::Name)
      return ScriptError(tokens[i], "'defined' without a name");
    if (parens && (nameAt + 1 >= tokens.size() || !IsPunct(tokens[nameAt + 1], ")")))
      return ScriptError(tokens[i], "'defined(' without its ')'");
    ScriptToken value = tokens[i];
    value.Kind = TokenKind::Number;
    value.Number = macros_.count(tokens[nameAt].Text);
    value.Text = std::to_string(value.Number);
    answered.push_back(std::move(value));
    i = nameAt + (parens ? 1 : 0);
  }
  QM_UNWRAP_OR_RETURN(expanded, ExpandList(std::move(answered)));
  QM_UNWRAP_OR_RETURN(value, EvaluateCondition(expanded, at));
  return value != 0;
}

Status Preprocessor::Conditional(const ScriptToken &at, const std::string &word, ScriptLexer &lexer) {
  std::vector<OpenConditional> &stack = sources_.back()->Conditionals;
  const bool outerActive = stack.empty() || stack.back().Active;
  if (word == "if" || word == "ifdef" || word == "ifndef") {
    if (stack.size() >= kMaxConditionalDepth) return ScriptError(at, "#if nested deeper than the reader takes");
    OpenConditional c{at, false, true, false};
    if (outerActive) {
      if (word == "if") {
        QM_UNWRAP_OR_RETURN(value, Condition(at, lexer));
        c.Active = value;
      } else {
        QM_UNWRAP_OR_RETURN(name, lexer.Raw(true));
        if (name.Kind != TokenKind::Name) return ScriptError(at, "#" + word + " without a name");
        c.Active = (macros_.count(name.Text) != 0) == (word == "ifdef");
      }
      c.Taken = c.Active;
    }
    stack.push_back(std::move(c));
    return lexer.SkipLine();
  }
  if (stack.empty()) return ScriptError(at, "#" + word + " without #if");
  OpenConditional &c = stack.back();
  if (word == "endif") {
    stack.pop_back();
    return lexer.SkipLine();
  }
  if (c.SawElse) return ScriptError(at, "#" + word + " after #else");
  // A group inside a skipped one was opened as taken, so no later branch of
  // it is read either.
  if (word == "else") {
    c.SawElse = true;
    c.Active = !c.Taken;
    c.Taken = true;
    return lexer.SkipLine();
  }
  // #elif
  c.Active = false;
  if (!c.Taken) {
    QM_UNWRAP_OR_RETURN(value, Condition(at, lexer));
    c.Active = c.Taken = value;
  }
  return lexer.SkipLine();
}

Status Preprocessor::Push(std::string name, std::string folder, std::string text, const ScriptToken *at) {
  if (std::find(once_.begin(), once_.end(), name) != once_.end()) return Ok();
  if (sources_.size() >= kMaxIncludeDepth)
    return ScriptError(*at, "files included more than " + std::to_string(kMaxIncludeDepth) +
                                " deep (does one include itself?)");
  if (++includes_ > kMaxIncludes) return ScriptError(*at, "more #include lines than the reader takes");
  read_ += text.size();
  if (read_ > kMaxReadBytes) return ScriptError(*at, "included files larger together than the reader takes");
  const bool directivesOnly = DirectivesOnly(name);
  names_.push_back(std::move(name));
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::string_view view = text;
  // An empty owned text would make the lexer read `view`, which is gone.
  if (text.empty()) text = "\n";
  sources_.push_back(
      std::make_unique<Source>(std::move(text), view, &names_.back(), std::move(folder), directivesOnly));
  return Ok();
}

Status Preprocessor::Carried(const ScriptToken &at) {
  if (carried_) return Ok();
  carried_ = true;
  const std::string text = CarriedDefinitions();
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    QM_RETURN_IF_ERROR(DefineText(at, std::string_view(text).substr(start, end - start)));
    start = end + 1;
  }
  return Ok();
}

Status Preprocessor::Include(const ScriptToken &at, ScriptLexer &lexer) {
  QM_RETURN_IF_ERROR(lexer.SkipBlank(true));
  std::string name;
  bool quoted = true;
  if (lexer.At() == '<') {
    name = lexer.AngleName();
    quoted = false;
    if (name.empty()) return ScriptError(at, "#include <...> without its '>'");
  } else {
    QM_UNWRAP_OR_RETURN(tokens, DirectiveTokens(lexer));
    QM_UNWRAP_OR_RETURN(expanded, ExpandList(std::move(tokens)));
    if (expanded.size() == 1 && expanded[0].Kind == TokenKind::String && !expanded[0].Wide) {
      name = expanded[0].Text;
    } else if (!expanded.empty() && IsPunct(expanded[0], "<") && IsPunct(expanded.back(), ">")) {
      quoted = false;
      for (std::size_t i = 1; i + 1 < expanded.size(); ++i)
        name += Spelling(expanded[i]);
    }
    if (name.empty()) return ScriptError(at, "#include without a \"file\" or <file>");
  }
  QM_RETURN_IF_ERROR(lexer.SkipLine());
  if (options_.Resolver != nullptr) {
    auto found = options_.Resolver->Find(name, quoted, sources_.back()->Folder);
    if (!found) return ScriptError(at, "#include " + Shown40(name) + ": " + found.failure().message);
    if (*found) {
      IncludedFile &file = **found;
      return Push(std::move(file.Name), std::move(file.Folder), std::move(file.Text), &at);
    }
  }
  if (IsCarriedHeader(name)) return Carried(at);
  if (quoted)
    return ScriptError(at, "#include \"" + Shown(name, 100) +
                               "\" finds no file (-I names a folder to search; the script's own folder is "
                               "searched first)");
  if (std::find(skipped_.begin(), skipped_.end(), name) == skipped_.end() && skipped_.size() < 64)
    skipped_.push_back(name);
  return Ok();
}

Status Preprocessor::Pragma(const ScriptToken &at, ScriptLexer &lexer) {
  QM_UNWRAP_OR_RETURN(tokens, DirectiveTokens(lexer));
  if (tokens.empty()) return Ok();
  if (tokens[0].Kind == TokenKind::Name && tokens[0].Text == "once") {
    const std::string *file = sources_.back()->Lexer.File();
    once_.push_back(file == nullptr ? std::string() : *file);
    return Ok();
  }
  if (tokens[0].Kind != TokenKind::Name || tokens[0].Text != "code_page") return Ok(); // others are the compiler's
  if (tokens.size() != 4 || !IsPunct(tokens[1], "(") || !IsPunct(tokens[3], ")"))
    return ScriptError(at, "#pragma code_page takes one number or DEFAULT in parentheses");
  if (tokens[2].Kind == TokenKind::Name && tokens[2].Text == "DEFAULT") {
    codePage_ = options_.CodePage;
    return Ok();
  }
  if (tokens[2].Kind != TokenKind::Number || tokens[2].BadNumber || tokens[2].Number == 0 || tokens[2].Number > 65535)
    return ScriptError(tokens[2], "#pragma code_page takes a code page's number");
  codePage_ = static_cast<std::uint16_t>(tokens[2].Number);
  return Ok();
}

Status Preprocessor::Directive() {
  ScriptLexer &lexer = sources_.back()->Lexer;
  ScriptToken at;
  at.File = lexer.File();
  at.Line = lexer.Line();
  at.Column = lexer.Column();
  lexer.Advance();
  QM_UNWRAP_OR_RETURN(word, lexer.Raw(true));
  if (word.Kind == TokenKind::End) return Ok(); // a lone # is a null directive
  const std::string &w = word.Text;
  if (w == "if" || w == "ifdef" || w == "ifndef" || w == "elif" || w == "else" || w == "endif")
    return Conditional(at, w, lexer);
  if (Skipping()) return lexer.SkipLine();
  if (w == "include" || w == "include_next") return Include(at, lexer);
  if (w == "define") return Define(at, lexer);
  if (w == "undef") {
    QM_UNWRAP_OR_RETURN(name, lexer.Raw(true));
    if (name.Kind != TokenKind::Name) return ScriptError(at, "#undef without a name");
    macros_.erase(name.Text);
    return lexer.SkipLine();
  }
  if (w == "error") {
    QM_RETURN_IF_ERROR(lexer.SkipBlank(true));
    return ScriptError(at, "#error " + Shown(lexer.RestOfLine(), 200) + " (-D and -U change what #if tests)");
  }
  if (w == "pragma") return Pragma(at, lexer);
  if (w == "line" || word.Kind == TokenKind::Number) {
    QM_UNWRAP_OR_RETURN(tokens, DirectiveTokens(lexer));
    if (w != "line") tokens.insert(tokens.begin(), word);
    // Generated scripts write `#line __LINE__ "name.rc.in"`: the operands
    // are macros to expand, as a C preprocessor does.
    QM_UNWRAP_OR_RETURN(operands, ExpandList(std::move(tokens)));
    if (operands.empty()) return ScriptError(at, "#line without a line number");
    const ScriptToken &number = operands[0];
    if (number.Kind != TokenKind::Number || number.BadNumber || number.Number == 0 || number.Number > 0x7FFFFFFF)
      return ScriptError(at, "#line without a line number");
    if (operands.size() > 1 && operands[1].Kind == TokenKind::String) {
      names_.push_back(operands[1].Text);
      lexer.SetFile(&names_.back());
    }
    QM_RETURN_IF_ERROR(lexer.SkipLine());
    lexer.SetLine(static_cast<std::uint32_t>(number.Number) - 1);
    return Ok();
  }
  if (w == "warning" || w == "ident" || w == "sccs") return lexer.SkipLine();
  return ScriptError(at, "the directive #" + Shown(w, 40) + " is not known");
}

Result<ScriptToken> Preprocessor::Pull() {
  for (;;) {
    Source &source = *sources_.back();
    ScriptLexer &lexer = source.Lexer;
    const std::uint32_t line = lexer.Line(), column = lexer.Column();
    QM_RETURN_IF_ERROR(lexer.SkipBlank(false));
    if (lexer.AtEnd()) {
      if (!source.Conditionals.empty())
        return ScriptError(source.Conditionals.back().At, "#if without #endif before the end of its file");
      if (sources_.size() == 1) {
        ScriptToken end;
        end.Line = lexer.Line();
        end.Column = lexer.Column();
        return end;
      }
      sources_.pop_back();
      continue;
    }
    if (lexer.AtDirective()) {
      QM_RETURN_IF_ERROR(Directive());
      continue;
    }
    if (Skipping() || source.DirectivesOnly) {
      QM_RETURN_IF_ERROR(lexer.SkipLine());
      continue;
    }
    QM_UNWRAP_OR_RETURN(t, lexer.Raw(false));
    t.CodePage = codePage_;
    // The blanks were skipped above, before Raw could see them.
    t.SpaceBefore = t.Line != line || t.Column != column;
    return t;
  }
}

Result<std::vector<ScriptToken>> Preprocessor::Substitute(const Macro &macro,
                                                          const std::vector<std::vector<ScriptToken>> &args,
                                                          const ScriptToken &use,
                                                          const std::vector<std::uint32_t> &hidden) {
  auto param = [&](const ScriptToken &t) -> int {
    if (t.Kind != TokenKind::Name) return -1;
    for (std::size_t i = 0; i < macro.Params.size(); ++i)
      if (macro.Params[i] == t.Text) return static_cast<int>(i);
    return -1;
  };
  std::vector<ScriptToken> out;
  std::vector<std::optional<std::vector<ScriptToken>>> expandedArgs(args.size());
  bool paste = false;    // the piece next is pasted onto the last one
  bool lastEmpty = true; // the last piece gave no token (an empty argument)
  auto append = [&](std::vector<ScriptToken> piece) -> Status {
    std::size_t from = 0;
    if (paste && !lastEmpty && !piece.empty()) {
      ScriptToken &lhs = out.back();
      const std::string joined = Spelling(lhs) + Spelling(piece[0]);
      ScriptLexer lexer(joined, use.File);
      QM_UNWRAP_OR_RETURN(made, lexer.Raw(true));
      QM_UNWRAP_OR_RETURN(rest, lexer.Raw(true));
      if (made.Kind == TokenKind::End || rest.Kind != TokenKind::End)
        return ScriptError(use, "'##' makes " + Shown40(joined) + ", which is not one token");
      made.SpaceBefore = lhs.SpaceBefore;
      made.CodePage = lhs.CodePage;
      lhs = std::move(made);
      from = 1;
    }
    if (!(paste && piece.empty())) lastEmpty = piece.empty();
    paste = false;
    for (std::size_t i = from; i < piece.size(); ++i)
      out.push_back(std::move(piece[i]));
    if (out.size() > kMaxListTokens) return ScriptError(use, "a macro expands to more than the reader takes");
    return Ok();
  };
  const std::vector<ScriptToken> &body = macro.Body;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const ScriptToken &t = body[i];
    if (IsPunct(t, "##")) {
      paste = true;
      continue;
    }
    const bool nextPastes = i + 1 < body.size() && IsPunct(body[i + 1], "##");
    if (macro.Function && IsPunct(t, "#") && i + 1 < body.size() && param(body[i + 1]) >= 0) {
      std::string text;
      for (const ScriptToken &a : args[static_cast<std::size_t>(param(body[i + 1]))]) {
        if (!text.empty() && a.SpaceBefore) text += ' ';
        std::string spelled = Spelling(a);
        if (a.Kind == TokenKind::String) {
          std::string escaped;
          for (char c : spelled)
            escaped += c == '"' || c == '\\' ? std::string{'\\', c} : std::string(1, c);
          spelled = std::move(escaped);
        }
        text += spelled;
        if (text.size() > kMaxStringized) return ScriptError(use, "'#' makes a literal longer than the reader takes");
      }
      ScriptToken s = t;
      s.Kind = TokenKind::String;
      s.Text = std::move(text);
      QM_RETURN_IF_ERROR(append({std::move(s)}));
      ++i;
      continue;
    }
    const int p = param(t);
    if (p < 0 && !paste) {
      out.push_back(t);
      lastEmpty = false;
      continue;
    }
    if (p < 0) {
      QM_RETURN_IF_ERROR(append({t}));
      continue;
    }
    const auto index = static_cast<std::size_t>(p);
    if (paste || nextPastes) {
      QM_RETURN_IF_ERROR(append(args[index]));
      continue;
    }
    if (!expandedArgs[index]) {
      QM_UNWRAP_OR_RETURN(expanded, ExpandList(args[index]));
      expandedArgs[index] = std::move(expanded);
    }
    std::vector<ScriptToken> piece = *expandedArgs[index];
    if (!piece.empty()) piece[0].SpaceBefore = t.SpaceBefore;
    QM_RETURN_IF_ERROR(append(std::move(piece)));
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    ScriptToken &t = out[i];
    Hide(t, hidden);
    t.File = use.File;
    t.Line = use.Line;
    t.Column = use.Column;
    t.LineStart = i == 0 && use.LineStart;
    if (i == 0) t.SpaceBefore = use.SpaceBefore;
  }
  return out;
}

Result<ScriptToken> Preprocessor::Expanded(std::deque<ScriptToken> *list) {
  auto take = [&]() -> Result<ScriptToken> {
    std::deque<ScriptToken> &from = list != nullptr ? *list : pending_;
    if (!from.empty()) {
      ScriptToken t = std::move(from.front());
      from.pop_front();
      return t;
    }
    if (list != nullptr) return ScriptToken{};
    return Pull();
  };
  auto unget = [&](ScriptToken t) { (list != nullptr ? *list : pending_).push_front(std::move(t)); };
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, take());
    if (t.Kind != TokenKind::Name) return t;
    auto found = macros_.find(t.Text);
    if (found == macros_.end() && t.Text == "__LINE__") {
      t.Kind = TokenKind::Number;
      t.Number = t.Line;
      t.Text = std::to_string(t.Line);
      return t;
    }
    if (found == macros_.end() || Hides(t, found->second->Id)) return t;
    const std::shared_ptr<const Macro> held = found->second;
    const Macro &macro = *held;
    std::vector<std::vector<ScriptToken>> args;
    std::vector<std::uint32_t> hidden;
    if (macro.Function) {
      QM_UNWRAP_OR_RETURN(open, take());
      if (!IsPunct(open, "(")) {
        if (open.Kind != TokenKind::End) unget(std::move(open));
        return t;
      }
      args.emplace_back();
      std::size_t total = 0;
      for (int depth = 0;;) {
        QM_UNWRAP_OR_RETURN(a, take());
        if (a.Kind == TokenKind::End) return ScriptError(t, "the arguments of " + Shown40(t.Text) + " never end");
        if (IsPunct(a, "(")) ++depth;
        if (IsPunct(a, ")") && depth-- == 0) {
          hidden = a.Hidden;
          hidden.erase(std::remove_if(hidden.begin(), hidden.end(), [&](std::uint32_t id) { return !Hides(t, id); }),
                       hidden.end());
          break;
        }
        if (IsPunct(a, ",") && depth == 0 && !(macro.Variadic && args.size() == macro.Params.size())) {
          args.emplace_back();
          continue;
        }
        args.back().push_back(std::move(a));
        if (++total > kMaxListTokens) return ScriptError(t, "the arguments of " + Shown40(t.Text) + " are too long");
      }
      if (args.size() == 1 && args[0].empty() && macro.Params.empty()) args.clear();
      if (macro.Variadic && args.size() + 1 == macro.Params.size()) args.emplace_back();
      if (args.size() != macro.Params.size())
        return ScriptError(t, Shown40(t.Text) + " takes " + std::to_string(macro.Params.size()) + " arguments, not " +
                                  std::to_string(args.size()));
    } else {
      hidden = t.Hidden;
    }
    {
      auto at = std::lower_bound(hidden.begin(), hidden.end(), macro.Id);
      if (at == hidden.end() || *at != macro.Id) hidden.insert(at, macro.Id);
    }
    if (++depth_ > kMaxExpansionDepth) {
      --depth_;
      return ScriptError(t, "macros nested deeper than the reader takes");
    }
    auto body = Substitute(macro, args, t, hidden);
    --depth_;
    if (!body) return body.failure();
    QM_RETURN_IF_ERROR(Count(t, body->size() + 1));
    for (auto it = body->rbegin(); it != body->rend(); ++it)
      unget(std::move(*it));
    if ((list != nullptr ? list->size() : pending_.size()) > kMaxListTokens)
      return ScriptError(t, "macros expand to more than the reader takes");
  }
}

Result<std::vector<ScriptToken>> Preprocessor::ExpandList(std::vector<ScriptToken> tokens) {
  std::deque<ScriptToken> list(std::make_move_iterator(tokens.begin()), std::make_move_iterator(tokens.end()));
  std::vector<ScriptToken> out;
  for (;;) {
    QM_UNWRAP_OR_RETURN(t, Expanded(&list));
    if (t.Kind == TokenKind::End) return out;
    out.push_back(std::move(t));
    if (out.size() > kMaxListTokens) return ScriptError(out.front(), "macros expand to more than the reader takes");
  }
}

Result<ScriptToken> Preprocessor::Next() {
  if (!started_) QM_RETURN_IF_ERROR(Start());
  QM_UNWRAP_OR_RETURN(t, Expanded(nullptr));
  t.Hidden = {}; // of no use to the reader, and costly to copy
  return t;
}

} // namespace qm
