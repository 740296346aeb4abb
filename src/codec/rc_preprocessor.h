#pragma once
// The C preprocessor as resource compilers run it over a script: #include,
// #define (with parameters, # and ##), #undef, #if and its kin, #error,
// #line, #pragma code_page; everything else a script's tokens, expanded.
// The portable core reads no file itself: an IncludeResolver finds and
// reads the files a script includes.
//
// The text is untrusted: include depth and count, conditional depth, macro
// bodies and expansion, and the text read in all are bounded, each refused
// with the place it was reached.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "codec/rc_script_lexer.h"

namespace qm {

struct IncludedFile {
  std::string Name;   // as messages name it (the path it was found at)
  std::string Folder; // searched first for the files it includes with "..."
  std::string Text;
};

class IncludeResolver {
public:
  virtual ~IncludeResolver() = default;
  // The file an #include names: for "..." first in `folder` (the including
  // file's), then in each include folder in order; nullopt when none holds it.
  virtual Result<std::optional<IncludedFile>> Find(std::string_view name, bool quoted, std::string_view folder) = 0;
};

struct PreprocessorOptions {
  std::vector<std::string> Defines;   // NAME or NAME=VALUE, as -D takes them
  std::vector<std::string> Undefines; // as -U takes them, after the defines
  std::uint16_t CodePage = 1252;
  IncludeResolver *Resolver = nullptr; // none: only the headers carried here are found
  std::string Folder;                  // the script's own, for its "..." includes
};

// Files that declare C (.h, .c) give only their directives, as the
// platform's resource compiler reads them.
bool DirectivesOnly(std::string_view fileName);

class Preprocessor {
public:
  Preprocessor(std::string_view text, PreprocessorOptions options);
  ~Preprocessor();
  Preprocessor(const Preprocessor &) = delete;
  Preprocessor &operator=(const Preprocessor &) = delete;

  // The script's next token, macros expanded; End once everything is read.
  Result<ScriptToken> Next();
  // The <headers> that were skipped, neither carried nor found; a name the
  // reader does not know may be one of theirs.
  const std::vector<std::string> &SkippedHeaders() const { return skipped_; }

  struct Macro;
  struct Source;

private:
  Status Start();
  Result<ScriptToken> Pull(bool inDirective);
  Result<ScriptToken> Expanded(std::deque<ScriptToken> *list);
  Result<std::vector<ScriptToken>> ExpandList(std::vector<ScriptToken> tokens);
  Status Directive();
  Status Define(const ScriptToken &at, ScriptLexer &lexer);
  Status Include(const ScriptToken &at, ScriptLexer &lexer);
  Status Conditional(const ScriptToken &at, const std::string &word, ScriptLexer &lexer);
  Status Pragma(const ScriptToken &at, ScriptLexer &lexer);
  Result<std::vector<ScriptToken>> DirectiveTokens(ScriptLexer &lexer);
  Result<bool> Condition(const ScriptToken &at, ScriptLexer &lexer);
  Status Push(std::string name, std::string folder, std::string text, const ScriptToken *at);
  Status Carried(const ScriptToken &at, std::string_view header);
  Status DefineText(const ScriptToken &at, std::string_view text);
  Result<std::vector<ScriptToken>> Substitute(const Macro &macro, const std::vector<std::vector<ScriptToken>> &args,
                                              const ScriptToken &use, const std::vector<std::uint32_t> &hidden);
  Status Count(const ScriptToken &at, std::size_t tokens);
  bool Skipping() const;

  PreprocessorOptions options_;
  std::deque<std::string> names_; // files as messages name them; tokens point here
  std::vector<std::unique_ptr<Source>> sources_;
  // Shared, so an expansion keeps its macro while a directive it reads on
  // the way (looking for the '(' of its arguments) undefines it.
  std::unordered_map<std::string, std::shared_ptr<const Macro>> macros_;
  std::uint32_t nextId_ = 0;
  std::vector<std::string> once_; // files with #pragma once
  std::vector<std::string> skipped_;
  std::deque<ScriptToken> pending_;
  std::size_t expanded_ = 0, read_ = 0, includes_ = 0, stored_ = 0;
  int depth_ = 0;
  bool carried_ = false;
  std::uint16_t codePage_;
  bool started_ = false;
};

} // namespace qm
