#include "RequiredTextUnit.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ornavel {
namespace {

bool IsAsciiLetter(unsigned char c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

bool IsAsciiAlnum(unsigned char c) {
  return IsAsciiLetter(c) || (c >= '0' && c <= '9');
}

unsigned char Fold(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c;
}

// How deep groups are read for the texts of their alternatives; deeper ones are left out.
constexpr int MaxGroupDepth = 4;

std::size_t Shortest(const std::vector<TRequiredText>& texts) {
  std::size_t shortest = std::string::npos;
  for (const TRequiredText& text : texts)
    shortest = std::min(shortest, text.Text.size());
  return shortest;
}

// Reads a pattern atom by atom, keeping the runs of plain characters that every match holds in
// order. Each step returns false at anything it does not understand for certain.
class TPatternReader {
public:
  TPatternReader(std::string_view pattern, bool caseless, int depth)
      : FPattern(pattern), FCaseless(caseless), FDepth(depth) {}

  std::vector<TRequiredText> Read() {
    if (FPattern.starts_with("(?i)")) {
      FCaseless = true; // also for the alternatives after the first
      FAt = 4;
    }
    std::vector<TRequiredText> texts;
    bool several = false;
    for (;;) {
      while (FAt < FPattern.size() && At() != '|') {
        if (!Atom())
          return {};
      }
      std::vector<TRequiredText> alternative = EndAlternative();
      if (alternative.empty())
        return {};
      texts.insert(texts.end(), alternative.begin(), alternative.end());
      if (FAt >= FPattern.size())
        break;
      ++FAt;
      several = true;
    }
    // Plain alternatives still need the engine: a text in one of them is not the whole pattern.
    if (several) {
      for (TRequiredText& text : texts)
        text.Whole = false;
    }
    return texts;
  }

private:
  unsigned char At(std::size_t offset = 0) const {
    return FAt + offset < FPattern.size() ? static_cast<unsigned char>(FPattern[FAt + offset]) : 0;
  }

  bool Atom() {
    const unsigned char c = At();
    if (c >= 0x80)
      return false;
    switch (c) {
    case '\\':
      return Escape();
    case '[':
      Opaque();
      return SkipClass();
    case '(': {
      if (At(1) == '?' && At(2) == '#') // a comment is not there at all: "a(?#)?" is "a?"
        return SkipTo(')');
      Opaque();
      const std::size_t open = FAt;
      if (!SkipGroup())
        return false;
      GroupAlternatives(open);
      return true;
    }
    case '|':
    case ')':
      return false;
    case '*':
    case '+':
    case '?':
      ++FAt;
      Quantified();
      return true;
    case '{':
      if (SkipCountedQuantifier()) {
        Quantified();
        return true;
      }
      // Not a quantifier: a plain brace, left out to stay clear of the engine's versions.
      Opaque();
      ++FAt;
      return true;
    case '}':
    case '.':
    case '^':
    case '$':
      Opaque();
      ++FAt;
      return true;
    default:
      Plain(static_cast<char>(c));
      ++FAt;
      return true;
    }
  }

  bool Escape() {
    const unsigned char next = At(1);
    if (FAt + 1 >= FPattern.size() || next >= 0x80)
      return false;
    if (!IsAsciiAlnum(next)) {
      Plain(static_cast<char>(next));
      FAt += 2;
      return true;
    }
    if (next == 'Q' || next == 'E')
      return false;
    Opaque();
    FAt += 2;
    return SkipEscapeArgument(next);
  }

  // What follows an escape letter as part of it: \x{..}, \p{..}, \g<..>, \k'..', \cX, \123 ...
  bool SkipEscapeArgument(unsigned char letter) {
    const unsigned char c = At();
    switch (letter) {
    case 'x':
      if (c == '{')
        return SkipTo('}');
      for (int digits = 0; digits < 2 && std::isxdigit(At()) != 0; ++digits)
        ++FAt;
      return true;
    case 'o':
    case 'N':
      return c == '{' ? SkipTo('}') : true;
    case 'p':
    case 'P':
      if (c == '{')
        return SkipTo('}');
      ++FAt;
      return c != 0;
    case 'g':
    case 'k':
      if (c == '{')
        return SkipTo('}');
      if (c == '<')
        return SkipTo('>');
      if (c == '\'')
        return SkipTo('\'');
      if (c == '+' || c == '-')
        ++FAt;
      SkipDigits();
      return true;
    case 'c':
      ++FAt;
      return c != 0 && c < 0x80;
    default:
      if (letter >= '0' && letter <= '9')
        SkipDigits();
      return true;
    }
  }

  // At a backslash in a class or a group: steps over it and the byte it escapes, and over the
  // letter a control escape takes, which may be the bracket that seems to end the class. Quoting is
  // not understood there either.
  bool SkipEscapedByte() {
    if (At(1) == 'Q' || At(1) == 'E')
      return false;
    FAt += At(1) == 'c' ? 3 : 2;
    return true;
  }

  // Where the POSIX class ("[:alpha:]") that begins here ends, as the engine reads one; none
  // when this "[" is a plain byte of the class: another "[" with the same mark or a "]" comes
  // before the closing mark and "]".
  std::size_t PosixClassEnd() const {
    const unsigned char mark = At(1);
    for (std::size_t at = FAt + 2; at + 1 < FPattern.size(); ++at) {
      const auto c = static_cast<unsigned char>(FPattern[at]);
      const auto next = static_cast<unsigned char>(FPattern[at + 1]);
      if (c == '\\' && (next == ']' || next == '\\'))
        ++at;
      else if ((c == '[' && next == mark) || c == ']')
        return std::string_view::npos;
      else if (c == mark && next == ']')
        return at + 2;
    }
    return std::string_view::npos;
  }

  bool SkipClass() {
    ++FAt;
    if (At() == '^')
      ++FAt;
    if (At() == ']')
      ++FAt;
    while (FAt < FPattern.size()) {
      const unsigned char c = At();
      if (c == '\\') {
        if (!SkipEscapedByte())
          return false;
      } else if (c == '[' && (At(1) == ':' || At(1) == '.' || At(1) == '=')) {
        const std::size_t end = PosixClassEnd();
        FAt = end == std::string_view::npos ? FAt + 1 : end;
      } else {
        ++FAt;
        if (c == ']')
          return true;
      }
    }
    return false;
  }

  // Everything inside a group is left out: it may be optional, an alternative or a lookaround.
  bool SkipGroup() {
    int depth = 0;
    bool top = true;
    while (FAt < FPattern.size()) {
      const unsigned char c = At();
      if (c == '\\') {
        if (!SkipEscapedByte())
          return false;
      } else if (c == '[') {
        if (!SkipClass())
          return false;
      } else if (c == '(') {
        if (!GroupOpening(top))
          return false;
        if (At() == ')') { // a comment, skipped whole
          ++FAt;
          if (depth == 0)
            return true;
        } else {
          ++depth;
        }
      } else {
        ++FAt;
        if (c == ')' && --depth == 0)
          return true;
      }
      top = false;
    }
    return false;
  }

  // At an opening parenthesis: steps over it, or over a comment up to its closing parenthesis.
  // Verbs and extended syntax are not understood, nor options switched for the rest of the
  // pattern; options for a group alone are fine, as groups are left out.
  bool GroupOpening(bool top) {
    if (At(1) == '*')
      return false;
    // A callout's text, between delimiters, may hold anything, parentheses too.
    if (At(1) == '?' && At(2) == 'C' &&
        std::string_view("`'\"^%#${").find(At(3)) != std::string_view::npos)
      return false;
    if (At(1) == '?' && At(2) == '#') {
      const std::size_t end = FPattern.find(')', FAt);
      if (end == std::string_view::npos)
        return false;
      FAt = end;
      return true;
    }
    if (At(1) == '?') {
      std::size_t end = FAt + 2;
      while (end < FPattern.size() && (IsAsciiLetter(static_cast<unsigned char>(FPattern[end])) ||
                                       FPattern[end] == '-' || FPattern[end] == '^')) {
        if (FPattern[end] == 'x')
          return false;
        ++end;
      }
      if (end < FPattern.size() && FPattern[end] == ')' && top)
        return false;
    }
    ++FAt;
    return true;
  }

  // {n}, {n,}, {n,m} and {,m}, with or without spaces; also {,} and {}, which engines read
  // differently, so that their contents never count as plain.
  bool SkipCountedQuantifier() {
    std::size_t end = FAt + 1;
    while (end < FPattern.size() &&
           ((FPattern[end] >= '0' && FPattern[end] <= '9') || FPattern[end] == ',' ||
            FPattern[end] == ' ' || FPattern[end] == '\t'))
      ++end;
    if (end >= FPattern.size() || FPattern[end] != '}')
      return false;
    FAt = end + 1;
    return true;
  }

  // A group that every match passes through once, plain or capturing, holds a text of one of its
  // alternatives; behind a quantifier it may be missing.
  void GroupAlternatives(std::size_t open) {
    if (FDepth >= MaxGroupDepth)
      return;
    std::size_t inner = open + 1;
    if (FPattern.substr(open).starts_with("(?:"))
      inner = open + 3;
    else if (FPattern[open + 1] == '?')
      return;
    std::size_t after = FAt;
    while (FPattern.substr(after).starts_with("(?#")) {
      after = FPattern.find(')', after);
      if (after == std::string_view::npos)
        return;
      ++after;
    }
    if (after < FPattern.size() && std::strchr("*+?{", FPattern[after]) != nullptr)
      return;
    std::vector<TRequiredText> texts =
        TPatternReader(FPattern.substr(inner, FAt - 1 - inner), FCaseless, FDepth + 1).Read();
    if (texts.empty())
      return;
    for (TRequiredText& text : texts)
      text.Whole = false;
    if (FGroupTexts.empty() || Shortest(texts) > Shortest(FGroupTexts))
      FGroupTexts = std::move(texts);
  }

  // The texts of the alternative read, and a fresh start for the next.
  std::vector<TRequiredText> EndAlternative() {
    EndRun();
    std::vector<TRequiredText> texts;
    if (!FLongest.empty()) {
      if (FCaseless) {
        for (char& c : FLongest)
          c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
      }
      texts.push_back(TRequiredText{FLongest, FCaseless, FAllPlain});
    }
    if (!FGroupTexts.empty() && (texts.empty() || Shortest(FGroupTexts) > FLongest.size()))
      texts = std::move(FGroupTexts);
    FLongest.clear();
    FGroupTexts.clear();
    FAllPlain = true;
    return texts;
  }

  // The atom before a quantifier may be missing or repeated: it leaves the run.
  void Quantified() {
    if (At() == '+' || At() == '?')
      ++FAt;
    if (FLastPlain)
      FRun.pop_back();
    Opaque();
  }

  bool SkipTo(char closing) {
    const std::size_t end = FPattern.find(closing, FAt + 1);
    if (end == std::string_view::npos)
      return false;
    FAt = end + 1;
    return true;
  }

  void SkipDigits() {
    while (At() >= '0' && At() <= '9')
      ++FAt;
  }

  void Plain(char c) {
    FRun += c;
    FLastPlain = true;
  }

  void Opaque() {
    EndRun();
    FAllPlain = false;
  }

  // Of the runs, the one that looks rarest in log lines, where digits, spaces and punctuation
  // (time stamps, numbers) abound: letters weigh twice.
  static std::size_t Weight(std::string_view run) {
    return run.size() + static_cast<std::size_t>(std::ranges::count_if(run, [](char c) {
             return IsAsciiLetter(static_cast<unsigned char>(c));
           }));
  }

  void EndRun() {
    if (Weight(FRun) > Weight(FLongest))
      FLongest = FRun;
    FRun.clear();
    FLastPlain = false;
  }

  std::string_view FPattern;
  bool FCaseless;
  int FDepth;
  std::size_t FAt = 0;
  std::string FRun;
  std::string FLongest;
  std::vector<TRequiredText> FGroupTexts; // of the best group of this alternative
  bool FLastPlain = false;
  bool FAllPlain = true;
};

// Needles are short: a loop of our own beats a library call, whose registers the block search
// would have to save around it.
bool EqualAt(const char* at, std::string_view needle, bool caseless) {
  for (std::size_t i = 0; i < needle.size(); ++i) {
    auto c = static_cast<unsigned char>(at[i]);
    if (caseless)
      c = Fold(c);
    if (c != static_cast<unsigned char>(needle[i]))
      return false;
  }
  return true;
}

} // namespace

std::vector<TRequiredText> RequiredTexts(std::string_view pattern) {
  return TPatternReader(pattern, false, 0).Read();
}

namespace {

bool ContainsByByte(std::string_view text, std::string_view needle, bool caseless) {
  const auto first = static_cast<unsigned char>(needle.front());
  for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if ((caseless ? Fold(c) : c) == first && EqualAt(text.data() + at, needle, caseless))
      return true;
  }
  return false;
}

#if defined(__SSE2__)
// The places of the 16 from place on whose byte, with caseBit set, is byte.
std::uint32_t Equal(const char* place, __m128i byte, __m128i caseBit) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(place));
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(bytes, caseBit), byte)));
}

// Candidates are the places where the first and the last byte of the needle both fit, 32 places
// at a time; only those are compared whole. The text must be at least 31 bytes longer than the
// needle.
bool ContainsByBlock(std::string_view text, std::string_view needle, bool caseless) {
  const auto caseBit = [caseless](char c) {
    return _mm_set1_epi8(caseless && IsAsciiLetter(static_cast<unsigned char>(c)) ? 0x20 : 0);
  };
  const __m128i first = _mm_set1_epi8(needle.front());
  const __m128i final = _mm_set1_epi8(needle.back());
  const __m128i firstCase = caseBit(needle.front());
  const __m128i finalCase = caseBit(needle.back());
  const std::size_t last = needle.size() - 1;
  const auto fits = [&](const char* place) {
    const auto half = [&](const char* at) {
      return Equal(at, first, firstCase) & Equal(at + last, final, finalCase);
    };
    return half(place) | half(place + 16) << 16;
  };
  const auto found = [&](const char* place, std::uint32_t places) {
    for (; places != 0; places &= places - 1) {
      if (EqualAt(place + std::countr_zero(places), needle, caseless))
        return true;
    }
    return false;
  };
  const std::size_t end = text.size() - last; // the places a match may start at
  std::size_t at = 0;
  for (; at + 32 <= end; at += 32) {
    const char* place = text.data() + at;
    const std::uint32_t places = fits(place);
    if (places != 0 && found(place, places))
      return true;
  }
  // The places left, in one block that overlaps the last one.
  if (at == end)
    return false;
  const std::size_t start = end - 32;
  return found(text.data() + at, fits(text.data() + start) >> (at - start));
}
#endif

} // namespace

bool ContainsRequired(std::string_view text, const TRequiredText& required) {
  const std::string_view needle = required.Text;
  if (needle.empty())
    return true;
  if (needle.size() > text.size())
    return false;
#if defined(__SSE2__)
  if (text.size() - needle.size() >= 31)
    return ContainsByBlock(text, needle, required.Caseless);
#endif
  return ContainsByByte(text, needle, required.Caseless);
}

} // namespace ornavel
