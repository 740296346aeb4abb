#pragma once
// The value of an #if line once its macros are expanded and its `defined`
// answered: a C integer constant expression in 64 bits, names left over
// being 0, as the C preprocessor reads it.
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "codec/rc_script_lexer.h"

namespace qm {

// `at` is the directive, for a line that ends too early.
Result<std::int64_t> EvaluateCondition(const std::vector<ScriptToken> &tokens, const ScriptToken &at);

} // namespace qm
