#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ornavel {

// A piece of plain text that every match of a pattern contains. Looking for it first is several
// times cheaper than a search by the engine, and most log lines lack most rules' texts.
struct TRequiredText {
  std::string Text;
  // ASCII letters match either case; every other byte only itself.
  bool Caseless = false;
  // The pattern is this text and nothing else: containing it is matching.
  bool Whole = false;

  bool operator==(const TRequiredText&) const = default;
};

// Texts of which every match of pattern contains at least one, read from the pattern's source
// with the engine's default options (as the rules compile it); empty for none. Each alternative
// of the pattern gives the run of plain characters it must contain with the most letters (digits
// and punctuation abound in log lines), or the texts of the alternatives of a group it must pass
// through once, whichever has the longer shortest text. Anything not understood for certain gives
// none: inline options other than a leading (?i), verbs, quoting, callouts with a text and bytes
// outside ASCII. Whole is set only on a single text.
std::vector<TRequiredText> RequiredTexts(std::string_view pattern);

// Whether text contains required.Text.
bool ContainsRequired(std::string_view text, const TRequiredText& required);

} // namespace ornavel
