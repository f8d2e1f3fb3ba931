#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ornavel {

class TRule;

// The rule as the editor's sentence, in the label markup: plain text, "<br>" and
// "<link param=P>text</link>". The name is inserted as it is; the pattern percent-encoded.
std::string RuleSentence(const TRule& rule);

// The engine's message for a pattern that does not compile; nothing for a valid or empty one.
std::optional<std::string> PatternProblem(const std::string& pattern);

// One piece of label markup.
struct TMarkupPiece {
  enum class TKind { Text, Break, Link };
  TKind Kind = TKind::Text;
  std::string Text;  // the shown text (empty for a break)
  std::string Param; // a link's parameter
};

// Splits markup into its pieces. Anything that is not one of the three tags is text, so names
// holding "<" or "&" show as typed.
std::vector<TMarkupPiece> ParseMarkup(std::string_view markup);

} // namespace ornavel
