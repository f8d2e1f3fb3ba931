#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// The longest run of plain characters that every match of pattern must contain, read from the
// pattern's source with the engine's default options (as the rules compile it). Anything not
// understood for certain gives none: inline options other than a leading (?i), verbs, quoting,
// alternation outside groups and bytes outside ASCII.
std::optional<TRequiredText> RequiredText(std::string_view pattern);

// Whether text contains required.Text.
bool ContainsRequired(std::string_view text, const TRequiredText& required);

} // namespace ornavel
