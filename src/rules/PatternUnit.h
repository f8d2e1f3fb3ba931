#pragma once

#include "RequiredTextUnit.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;

namespace ornavel {

// The pattern could not be compiled, or a search could not be completed; the message is the
// regular-expression engine's.
class EPatternError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TPatternCodeFree {
  void operator()(pcre2_real_code_8* code) const;
};
using TPatternCode = std::unique_ptr<pcre2_real_code_8, TPatternCodeFree>;

// Compiles a pattern with the options every rule's pattern has; none when it does not compile,
// the engine's message then in error. The fuzz target and the benchmark compile through it too,
// so that they check and measure what the rules do.
TPatternCode CompileRulePattern(std::string_view source, std::string* error = nullptr);

// A rule's compiled regular expression (PCRE2, JIT where available), shareable between threads.
// Defaults: case-sensitive, the dot matches line breaks, ^ and $ only at the very start and end
// of the text, greedy, literal white space; inline groups such as (?i) switch them.
class TPattern {
public:
  // Never fails: a pattern that does not compile remembers the engine's message.
  explicit TPattern(std::string source);
  ~TPattern();
  TPattern(const TPattern&) = delete;
  TPattern& operator=(const TPattern&) = delete;

  const std::string& Source() const { return FSource; }
  bool Valid() const { return FCompileError.empty(); }
  // The engine's message when the pattern did not compile, with the offset; empty otherwise.
  const std::string& CompileError() const { return FCompileError; }

  // Whether the pattern occurs anywhere in text. Fails with EPatternError when the pattern did
  // not compile or the search hit one of the engine's limits.
  bool Search(std::string_view text) const;
  // The same for a text already known to hold one of Required(): no second look for it.
  bool SearchHolding(std::string_view text) const;
  // Texts of which every match holds one; empty for none (also when it did not compile).
  const std::vector<TRequiredText>& Required() const { return FRequired; }

private:
  bool JitCompiled() const;

  std::string FSource;
  // Lines without any of them are answered without the engine.
  std::vector<TRequiredText> FRequired;
  TPatternCode FCode; // none for plain text alone
  std::string FCompileError;
  // Made at the first search that needs the engine: a list of many rules loads in a moment, and
  // a rule whose plain text decides never needs it.
  mutable std::once_flag FJitOnce;
  mutable bool FJitCompiled = false;
};

} // namespace ornavel
