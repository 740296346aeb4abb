#include "codec/rc_condition.h"

#include <string_view>

#include "base/shown_text.h"

namespace qm {
namespace {

constexpr int kMaxDepth = 64;

int Precedence(std::string_view op) {
  static constexpr struct {
    std::string_view op;
    int precedence;
  } kBinary[] = {{"*", 10}, {"/", 10}, {"%", 10}, {"+", 9},  {"-", 9}, {"<<", 8}, {">>", 8}, {"<", 7},  {">", 7},
                 {"<=", 7}, {">=", 7}, {"==", 6}, {"!=", 6}, {"&", 5}, {"^", 4},  {"|", 3},  {"&&", 2}, {"||", 1}};
  for (const auto &binary : kBinary)
    if (binary.op == op) return binary.precedence;
  return 0;
}

class Condition {
public:
  Condition(const std::vector<ScriptToken> &tokens, const ScriptToken &at) : tokens_(tokens), at_(at) {}

  Result<std::int64_t> Run() {
    QM_UNWRAP_OR_RETURN(value, Ternary(0, true));
    if (pos_ < tokens_.size()) return ScriptError(tokens_[pos_], "more after the condition of #if");
    return value;
  }

private:
  const ScriptToken &Peek() const { return pos_ < tokens_.size() ? tokens_[pos_] : at_; }
  bool PeekIs(std::string_view punct) const {
    return pos_ < tokens_.size() && tokens_[pos_].Kind == TokenKind::Punct && tokens_[pos_].Text == punct;
  }

  Result<std::int64_t> Ternary(int depth, bool live) {
    if (depth > kMaxDepth) return ScriptError(Peek(), "a condition nested too deeply");
    QM_UNWRAP_OR_RETURN(test, Binary(1, depth, live));
    if (!PeekIs("?")) return test;
    ++pos_;
    QM_UNWRAP_OR_RETURN(yes, Ternary(depth + 1, live && test != 0));
    if (!PeekIs(":")) return ScriptError(Peek(), "a condition with '?' and no ':'");
    ++pos_;
    QM_UNWRAP_OR_RETURN(no, Ternary(depth + 1, live && test == 0));
    return test != 0 ? yes : no;
  }

  Result<std::int64_t> Binary(int least, int depth, bool live) {
    QM_UNWRAP_OR_RETURN(lhs, Unary(depth, live));
    for (;;) {
      if (pos_ >= tokens_.size() || tokens_[pos_].Kind != TokenKind::Punct) return lhs;
      const ScriptToken &op = tokens_[pos_];
      const int precedence = Precedence(op.Text);
      if (precedence < least || precedence == 0) return lhs;
      ++pos_;
      const bool rhsLive = live && !(op.Text == "&&" && lhs == 0) && !(op.Text == "||" && lhs != 0);
      QM_UNWRAP_OR_RETURN(rhs, Binary(precedence + 1, depth + 1, rhsLive));
      // Unsigned arithmetic wraps where signed would overflow.
      const auto a = static_cast<std::uint64_t>(lhs), b = static_cast<std::uint64_t>(rhs);
      const std::string_view o = op.Text;
      if ((o == "/" || o == "%") && rhs == 0) {
        if (live) return ScriptError(op, "a division by zero in #if");
        lhs = 0;
      } else if (o == "*") {
        lhs = static_cast<std::int64_t>(a * b);
      } else if (o == "/" || o == "%") {
        const bool overflow = lhs == INT64_MIN && rhs == -1;
        lhs = overflow ? (o == "/" ? lhs : 0) : (o == "/" ? lhs / rhs : lhs % rhs);
      } else if (o == "+") {
        lhs = static_cast<std::int64_t>(a + b);
      } else if (o == "-") {
        lhs = static_cast<std::int64_t>(a - b);
      } else if (o == "<<") {
        lhs = rhs < 0 || rhs > 63 ? 0 : static_cast<std::int64_t>(a << rhs);
      } else if (o == ">>") {
        lhs = rhs < 0 || rhs > 63 ? (lhs < 0 ? -1 : 0) : lhs >> rhs;
      } else if (o == "<") {
        lhs = lhs < rhs;
      } else if (o == ">") {
        lhs = lhs > rhs;
      } else if (o == "<=") {
        lhs = lhs <= rhs;
      } else if (o == ">=") {
        lhs = lhs >= rhs;
      } else if (o == "==") {
        lhs = lhs == rhs;
      } else if (o == "!=") {
        lhs = lhs != rhs;
      } else if (o == "&") {
        lhs = static_cast<std::int64_t>(a & b);
      } else if (o == "^") {
        lhs = static_cast<std::int64_t>(a ^ b);
      } else if (o == "|") {
        lhs = static_cast<std::int64_t>(a | b);
      } else if (o == "&&") {
        lhs = lhs != 0 && rhs != 0;
      } else {
        lhs = lhs != 0 || rhs != 0;
      }
    }
  }

  Result<std::int64_t> Unary(int depth, bool live) {
    if (depth > kMaxDepth) return ScriptError(Peek(), "a condition nested too deeply");
    if (pos_ >= tokens_.size()) return ScriptError(at_, "a condition that ends too early");
    const ScriptToken &t = tokens_[pos_++];
    if (t.Kind == TokenKind::Number) {
      if (t.BadNumber) return ScriptError(t, Quoted(t.Text, 40) + " is not a number #if reads");
      return static_cast<std::int64_t>(t.Number);
    }
    if (t.Kind == TokenKind::Name) return 0; // what no macro defines counts as 0 in #if
    if (t.Kind == TokenKind::Punct) {
      if (t.Text == "(") {
        QM_UNWRAP_OR_RETURN(inner, Ternary(depth + 1, live));
        if (!PeekIs(")")) return ScriptError(Peek(), "a '(' in #if that is never closed");
        ++pos_;
        return inner;
      }
      if (t.Text == "-" || t.Text == "+" || t.Text == "~" || t.Text == "!") {
        QM_UNWRAP_OR_RETURN(inner, Unary(depth + 1, live));
        if (t.Text == "-") return static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(inner));
        if (t.Text == "~") return ~inner;
        if (t.Text == "!") return std::int64_t{inner == 0};
        return inner;
      }
    }
    return ScriptError(t, Quoted(Spelling(t), 40) + " where #if expects a number");
  }

  const std::vector<ScriptToken> &tokens_;
  const ScriptToken &at_;
  std::size_t pos_ = 0;
};

} // namespace

Result<std::int64_t> EvaluateCondition(const std::vector<ScriptToken> &tokens, const ScriptToken &at) {
  return Condition(tokens, at).Run();
}

} // namespace qm
