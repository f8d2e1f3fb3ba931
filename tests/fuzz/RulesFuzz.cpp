// Checks the rule list's evaluation against the engine alone: for every line, the list keeps or
// drops it, colours it and names the deciding rule as trying every rule's pattern with PCRE2,
// from the last rule back, does. Input: lines; the first byte gives the number of rules (1 to 16)
// and whether 60 rules that match nothing stand before them; the next lines are the rules'
// patterns, the rest the lines evaluated. Build with -DORNAVEL_FUZZ=ON (clang); run:
//   build/fuzz/tests/fuzz/rules_fuzz -max_total_time=600 -dict=tests/fuzz/pattern.dict \
//     /tmp/findings tests/fuzz/rules-corpus
#define PCRE2_CODE_UNIT_WIDTH 8
#include "rules/PatternUnit.h"
#include "rules/RulesUnit.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pcre2.h>

namespace {

using namespace ornavel;

struct TFree {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};

// 1 for a match, 0 for none, -1 where the engine gave up.
int Match(const pcre2_code& code, std::string_view text) {
  static const std::unique_ptr<pcre2_match_data, TFree> data(pcre2_match_data_create(1, nullptr));
  static const std::unique_ptr<pcre2_match_context, TFree> context = [] {
    std::unique_ptr<pcre2_match_context, TFree> made(pcre2_match_context_create(nullptr));
    pcre2_set_match_limit(made.get(), 100'000);
    pcre2_set_depth_limit(made.get(), 10'000);
    return made;
  }();
  const int result = pcre2_match(&code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                                 0, data.get(), context.get());
  return result >= 0 ? 1 : result == PCRE2_ERROR_NOMATCH ? 0 : -1;
}

std::vector<std::string_view> SplitLines(std::string_view input) {
  std::vector<std::string_view> lines;
  for (std::size_t end; (end = input.find('\n')) != std::string_view::npos;) {
    lines.push_back(input.substr(0, end));
    input.remove_prefix(end + 1);
  }
  lines.push_back(input);
  return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t count = data[0] % 16 + 1;
  const std::size_t padding = data[0] & 0x10 ? 60 : 0;
  const std::vector<std::string_view> lines =
      SplitLines(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  if (lines.size() <= count)
    return 0;

  TRules rules;
  std::vector<TPatternCode> codes;
  for (std::size_t i = 0; i < padding + count; ++i) {
    auto rule = std::make_unique<TRule>();
    const std::string pattern =
        i < padding ? "\x01pad" + std::to_string(i) : std::string(lines[i - padding]);
    rule->SetName("r" + std::to_string(i));
    rule->SetRegExp(pattern);
    rule->SetLogLine(i % 3 != 2);
    rule->SetColor(static_cast<TColor>(i + 1));
    rule->SetActive(true);
    rules.Add(std::move(rule));
    codes.push_back(pattern.empty() ? nullptr : CompileRulePattern(pattern));
  }
  for (std::size_t line = count; line < lines.size(); ++line) {
    const std::string text(lines[line]);
    bool keep = true;
    TColor color = clWindowText;
    std::string decision;
    for (std::size_t i = codes.size(); i-- > 0;) {
      if (!codes[i])
        continue;
      const int matched = Match(*codes[i], text);
      if (matched < 0)
        return 0; // the list switches such a rule off, maybe at another line
      if (matched == 1) {
        keep = rules.GetRule(i).LogLine();
        color = rules.GetRule(i).Color();
        if (keep)
          decision = "kept by rule " + std::to_string(i + 1) + " 'r" + std::to_string(i) + "'";
        break;
      }
    }
    TLogItem item{0, TLogLevel::Notice, nullptr, mtFile, clWindowText, text, {}, {}, {}};
    std::vector<std::string> faults;
    const bool kept = rules.ProcessItem(item, faults);
    for (const std::string& fault : faults) {
      // Only patterns that do not compile are switched off here; the others stay within limits.
      const std::size_t name = std::string_view("Rule r").size();
      if (codes[std::stoul(fault.substr(name))])
        return 0;
    }
    if (kept != keep || item.Color != color || item.Decision != decision)
      std::abort();
  }
  return 0;
}
