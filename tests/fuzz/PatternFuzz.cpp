// Checks the plain texts read from a rule's pattern against the engine itself: every text the
// engine matches holds one of them, where the pattern is one text alone it compiles and holding it
// is matching, and the quick search agrees with a plain one. Input: one byte giving the pattern's
// length (modulo 64), the pattern, then the text. Build with -DORNAVEL_FUZZ=ON (clang); run:
//   build/fuzz/tests/fuzz/pattern_fuzz -max_total_time=600 tests/fuzz/pattern-corpus
#define PCRE2_CODE_UNIT_WIDTH 8
#include "rules/PatternUnit.h"
#include "rules/RequiredTextUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pcre2.h>

namespace {

using ornavel::TRequiredText;

struct TFree {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};

// 1 for a match, 0 for none, -1 where the engine gave up.
int Match(const pcre2_code& code, std::string_view text) {
  const std::unique_ptr<pcre2_match_data, TFree> data(pcre2_match_data_create(1, nullptr));
  const std::unique_ptr<pcre2_match_context, TFree> context(pcre2_match_context_create(nullptr));
  pcre2_set_match_limit(context.get(), 100'000);
  const int result = pcre2_match(&code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                                 0, data.get(), context.get());
  return result >= 0 ? 1 : result == PCRE2_ERROR_NOMATCH ? 0 : -1;
}

bool PlainContains(std::string_view text, const TRequiredText& required) {
  const auto fold = [&](char c) {
    return required.Caseless && c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
  };
  const std::string_view needle = required.Text;
  return std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                     [&](char a, char b) { return fold(a) == b; }) != text.end() ||
         needle.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t patternLength = std::min<std::size_t>(data[0] % 64, size - 1);
  const std::string_view pattern(reinterpret_cast<const char*>(data + 1), patternLength);
  const std::string_view text(reinterpret_cast<const char*>(data + 1 + patternLength),
                              size - 1 - patternLength);
  const std::vector<TRequiredText> texts = ornavel::RequiredTexts(pattern);
  if (texts.empty())
    return 0;
  bool contains = false;
  for (const TRequiredText& required : texts) {
    const bool holds = ornavel::ContainsRequired(text, required);
    if (holds != PlainContains(text, required) || (required.Whole && texts.size() > 1))
      std::abort();
    contains = contains || holds;
  }
  const bool whole = texts.front().Whole;
  const ornavel::TPatternCode code = ornavel::CompileRulePattern(pattern);
  if (!code) {
    // Plain text alone is taken as valid without the engine.
    if (whole)
      std::abort();
    return 0;
  }
  const int matched = Match(*code, text);
  if ((matched == 1 && !contains) || (whole && matched == 0 && contains))
    std::abort();
  return 0;
}
