#include "CandidateFinderUnit.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <limits>
#include <numeric>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace ornavel {
namespace {

constexpr std::uint32_t NoState = std::numeric_limits<std::uint32_t>::max();
// The automaton's bound: at most this many states (its table at most 16 MiB); the items beyond
// it are always candidates. Keys are the texts' first bytes, few so that the table stays small
// enough for the nearest cache; the rest is compared on a find.
constexpr std::size_t MaxStates = 16 * 1024;
constexpr std::size_t MaxKey = 8;
// A line is walked in this many pieces at once, each from MaxKey - 1 bytes before its start so
// that no key across a boundary is missed: one walk waits on each step's look-up, several
// interleaved keep the processor busy.
constexpr std::size_t Walks = 4;
constexpr std::size_t ShortestSplit = 32;

unsigned char Fold(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c;
}

unsigned char Unfold(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c & ~0x20) : c;
}

// Up to this many texts are looked for by their bytes' halves rather than by the automaton.
constexpr std::size_t MaxNibbleTexts = 16;

bool BlocksAvailable();

void SetBit(std::vector<std::uint64_t>& bits, std::size_t item) {
  bits[item / 64] |= std::uint64_t{1} << (item % 64);
}

} // namespace

TCandidateFinder::TCandidateFinder(std::span<const std::span<const TRequiredText>> texts, TWay way)
    : FAlways((texts.size() + 63) / 64), FFiltered(FAlways.size()) {
  // Which items the budget takes, in order, whole or not at all.
  std::size_t budget = MaxStates - 1;
  for (std::size_t item = 0; item < texts.size(); ++item) {
    std::size_t keys = 0;
    for (const TRequiredText& text : texts[item])
      keys += text.Text.empty() ? MaxStates : std::min(text.Text.size(), MaxKey);
    if (texts[item].empty() || keys > budget) {
      SetBit(FAlways, item);
      continue;
    }
    budget -= keys;
    SetBit(FFiltered, item);
    for (const TRequiredText& text : texts[item]) {
      std::string compared = text.Text;
      if (text.Caseless) {
        for (char& c : compared)
          c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
      }
      const auto keyLength = static_cast<std::uint32_t>(std::min(text.Text.size(), MaxKey));
      FEntries.push_back({static_cast<std::uint32_t>(item), keyLength,
                          !text.Caseless || text.Text.size() > MaxKey, std::move(compared),
                          text.Caseless});
    }
  }
  FAnyFiltered = !FEntries.empty();
  if (!FAnyFiltered)
    return;

  // Bytes no key holds share class 0; a letter's cases share one class.
  bool used[256] = {};
  for (const TEntry& entry : FEntries) {
    for (std::size_t i = 0; i < entry.KeyLength; ++i)
      used[Fold(static_cast<unsigned char>(entry.Text[i]))] = true;
  }
  std::uint8_t classOfFolded[256] = {};
  for (int byte = 0; byte < 256; ++byte) {
    if (used[byte])
      classOfFolded[byte] = static_cast<std::uint8_t>(FClasses++);
  }
  for (int byte = 0; byte < 256; ++byte)
    FClassOf[byte] = classOfFolded[Fold(static_cast<unsigned char>(byte))];

  // The trie of the keys, then its missing transitions filled breadth first from the longest
  // proper suffix's, as Aho and Corasick do.
  const std::uint32_t classes = FClasses;
  std::vector<std::uint32_t> next(classes, NoState);
  std::vector<std::vector<std::uint32_t>> ending(1);
  for (std::uint32_t index = 0; index < FEntries.size(); ++index) {
    const TEntry& entry = FEntries[index];
    std::uint32_t state = 0;
    for (std::size_t i = 0; i < entry.KeyLength; ++i) {
      std::uint32_t& to =
          next[state * classes + FClassOf[static_cast<unsigned char>(entry.Text[i])]];
      if (to == NoState) {
        to = static_cast<std::uint32_t>(ending.size());
        ending.emplace_back();
        next.resize(next.size() + classes, NoState);
      }
      state = next[state * classes + FClassOf[static_cast<unsigned char>(entry.Text[i])]];
    }
    ending[state].push_back(index);
  }
  const std::size_t states = ending.size();
  std::vector<std::uint32_t> failure(states, 0), report(states, NoState), order{0};
  order.reserve(states);
  for (std::size_t at = 0; at < order.size(); ++at) {
    const std::uint32_t state = order[at];
    for (std::uint32_t c = 0; c < classes; ++c) {
      std::uint32_t& to = next[state * classes + c];
      const std::uint32_t fallback = state == 0 ? 0 : next[failure[state] * classes + c];
      if (to == NoState) {
        to = fallback;
        continue;
      }
      failure[to] = fallback;
      report[to] = ending[fallback].empty() ? report[fallback] : fallback;
      order.push_back(to);
    }
  }

  // Renumbered so that the states with something to report come last, their rows from a power of
  // two on past the others': one bit of a row tells whether it reports, and four walks are tested
  // at once. The rows between are never reached.
  const auto reports = [&](std::uint32_t state) {
    return !ending[state].empty() || report[state] != NoState;
  };
  std::stable_partition(order.begin(), order.end(), [&](std::uint32_t s) { return !reports(s); });
  std::vector<std::uint32_t> renumbered(states);
  for (std::uint32_t place = 0; place < states; ++place)
    renumbered[order[place]] = place;
  FFirstReportState =
      static_cast<std::uint32_t>(std::find_if(order.begin(), order.end(), reports) - order.begin());
  FReportBit = std::bit_ceil(std::max<std::size_t>(
      {FFirstReportState * classes, (states - FFirstReportState) * classes, 1}));
  const auto rowOf = [&](std::uint32_t place) {
    return place < FFirstReportState ? place * classes
                                     : FReportBit + (place - FFirstReportState) * classes;
  };
  FNext.resize(rowOf(static_cast<std::uint32_t>(states - 1)) + classes);
  FSuffixReport.resize(states);
  std::vector<TEntry> entries;
  entries.reserve(FEntries.size());
  FEntriesStart.reserve(states + 1);
  for (std::uint32_t place = 0; place < states; ++place) {
    const std::uint32_t old = order[place];
    for (std::uint32_t c = 0; c < classes; ++c)
      FNext[rowOf(place) + c] = rowOf(renumbered[next[old * classes + c]]);
    FSuffixReport[place] = report[old] == NoState ? NoState : renumbered[report[old]];
    FEntriesStart.push_back(static_cast<std::uint32_t>(entries.size()));
    for (std::uint32_t index : ending[old])
      entries.push_back(std::move(FEntries[index]));
  }
  FEntriesStart.push_back(static_cast<std::uint32_t>(entries.size()));
  FEntries = std::move(entries);
  if (FNext.size() <= std::numeric_limits<std::uint16_t>::max() + std::size_t{1}) {
    FNextShort.assign(FNext.begin(), FNext.end());
    FNext.clear();
  }
  if (way == TWay::Fastest && FEntries.size() <= MaxNibbleTexts && BlocksAvailable())
    MakeNibbles();
}

// Texts of one byte would send nearly every place to a comparison: those stay with the automaton,
// as do all where the processor cannot look at sixteen places at a time.
void TCandidateFinder::MakeNibbles() {
  auto nibbles = std::make_unique<TNibbles>();
  nibbles->Width = TNibbles::MaxWidth;
  for (const TEntry& entry : FEntries)
    nibbles->Width = std::min(nibbles->Width, entry.Text.size());
  if (nibbles->Width < 2)
    return;
  // Texts that begin alike share a group, so that the groups' bits stay few.
  std::vector<std::uint32_t> order(FEntries.size());
  std::iota(order.begin(), order.end(), 0);
  std::ranges::sort(order, {}, [&](std::uint32_t entry) { return FEntries[entry].Text; });
  for (std::size_t place = 0; place < order.size(); ++place) {
    const std::size_t group = place * TNibbles::Groups / order.size();
    const TEntry& entry = FEntries[order[place]];
    nibbles->Members[group].push_back(order[place]);
    const auto bit = static_cast<std::uint8_t>(1u << group);
    for (std::size_t at = 0; at < TNibbles::MaxWidth; ++at) {
      // Past the width every byte passes.
      if (at >= nibbles->Width) {
        std::ranges::fill(nibbles->Low[at], bit | nibbles->Low[at][0]);
        std::ranges::fill(nibbles->High[at], bit | nibbles->High[at][0]);
        continue;
      }
      const auto byte = static_cast<unsigned char>(entry.Text[at]);
      for (const unsigned char each : {byte, entry.Caseless ? Unfold(byte) : byte}) {
        nibbles->Low[at][each & 15] |= bit;
        nibbles->High[at][each >> 4] |= bit;
      }
    }
  }
  FNibbles = std::move(nibbles);
}

void TCandidateFinder::Find(std::string_view text, std::vector<std::uint64_t>& candidates) const {
  candidates.assign(FAlways.begin(), FAlways.end());
  if (!FAnyFiltered)
    return;
  if (FNibbles)
    FindByNibbles(text, candidates);
  else if (FNext.empty())
    FindIn(FNextShort.data(), text, candidates);
  else
    FindIn(FNext.data(), text, candidates);
}

template <class TRow>
void TCandidateFinder::FindIn(const TRow* next, std::string_view text,
                              std::vector<std::uint64_t>& candidates) const {
  if (text.size() < ShortestSplit) {
    Walk(next, text, 0, text.size(), candidates);
    return;
  }
  // Walks of one length, each overlapping the one before by MaxKey - 1 bytes; the last may be a
  // few bytes shorter. Each walk's row is a variable of its own, so that it stays in a register.
  static_assert(Walks == 4);
  constexpr std::size_t Overlap = MaxKey - 1;
  const std::size_t length = (text.size() + (Walks - 1) * Overlap + Walks - 1) / Walks;
  const std::size_t step = length - Overlap;
  const std::size_t together = text.size() - (Walks - 1) * step; // the last walk's length
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char *b0 = bytes, *b1 = bytes + step, *b2 = bytes + 2 * step,
                      *b3 = bytes + 3 * step;
  const std::uint32_t reportBit = FReportBit;
  std::uint32_t r0 = 0, r1 = 0, r2 = 0, r3 = 0;
  for (std::size_t i = 0; i < together; ++i) {
    r0 = next[r0 + FClassOf[b0[i]]];
    r1 = next[r1 + FClassOf[b1[i]]];
    r2 = next[r2 + FClassOf[b2[i]]];
    r3 = next[r3 + FClassOf[b3[i]]];
    if (((r0 | r1 | r2 | r3) & reportBit) != 0) [[unlikely]] {
      const std::uint32_t rows[Walks] = {r0, r1, r2, r3};
      for (std::size_t walk = 0; walk < Walks; ++walk) {
        if ((rows[walk] & reportBit) != 0)
          Report(rows[walk], text, walk * step + i + 1, candidates);
      }
    }
  }
  const std::uint32_t rows[Walks - 1] = {r0, r1, r2};
  for (std::size_t walk = 0; walk + 1 < Walks; ++walk)
    Walk(next, text, walk * step + together, walk * step + length, candidates, rows[walk]);
}

template <class TRow>
void TCandidateFinder::Walk(const TRow* next, std::string_view text, std::size_t from,
                            std::size_t to, std::vector<std::uint64_t>& candidates,
                            std::uint32_t row) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = from; i < to; ++i) {
    row = next[row + FClassOf[bytes[i]]];
    if ((row & FReportBit) != 0) [[unlikely]]
      Report(row, text, i + 1, candidates);
  }
}

void TCandidateFinder::FindByNibbles(std::string_view text,
                                     std::vector<std::uint64_t>& candidates) const {
  const TNibbles& nibbles = *FNibbles;
  if (text.size() < nibbles.Width)
    return;
  std::size_t start = FindByBlocks(text, candidates);
  for (; start + nibbles.Width <= text.size(); ++start) {
    unsigned groups = 0xFF;
    for (std::size_t at = 0; at < nibbles.Width; ++at) {
      const auto byte = static_cast<unsigned char>(text[start + at]);
      groups &= nibbles.Low[at][byte & 15] & nibbles.High[at][byte >> 4];
    }
    if (groups != 0)
      Compare(groups, text, start, candidates);
  }
}

#if defined(__x86_64__) || defined(__i386__)
namespace {

struct TBlockTables {
  __m128i Low[3];
  __m128i High[3];
};

// The groups whose byte can be the one at each of the sixteen places from p on.
__attribute__((target("ssse3"))) inline __m128i GroupsOf(const char* p, __m128i low, __m128i high) {
  const __m128i lowBits = _mm_set1_epi8(0x0F);
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(bytes, lowBits)),
                       _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(bytes, 4), lowBits)));
}

// The groups of the texts whose first bytes can begin at each of the sixteen places from p on.
__attribute__((target("ssse3"))) inline __m128i BlockGroups(const char* p,
                                                            const TBlockTables& tables) {
  static_assert(std::size(TBlockTables{}.Low) == 3);
  return _mm_and_si128(_mm_and_si128(GroupsOf(p, tables.Low[0], tables.High[0]),
                                     GroupsOf(p + 1, tables.Low[1], tables.High[1])),
                       GroupsOf(p + 2, tables.Low[2], tables.High[2]));
}

} // namespace

__attribute__((target("ssse3"))) std::size_t
TCandidateFinder::FindByBlocks(std::string_view text,
                               std::vector<std::uint64_t>& candidates) const {
  static_assert(TNibbles::MaxWidth == 3);
  constexpr std::size_t Reach = 16 + TNibbles::MaxWidth - 1; // the bytes a block reads
  if (text.size() < Reach)
    return 0;
  TBlockTables tables;
  for (std::size_t at = 0; at < TNibbles::MaxWidth; ++at) {
    tables.Low[at] = _mm_load_si128(reinterpret_cast<const __m128i*>(FNibbles->Low[at]));
    tables.High[at] = _mm_load_si128(reinterpret_cast<const __m128i*>(FNibbles->High[at]));
  }
  // Compares the places of a block that are among places and where groups has a bit.
  const auto compare = [&](__m128i groups, std::size_t start, unsigned places) {
    places &= static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(groups, _mm_setzero_si128())) ^
                                    0xFFFF);
    if (places == 0) [[likely]]
      return;
    alignas(16) std::uint8_t found[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(found), groups);
    for (; places != 0; places &= places - 1) {
      const auto place = static_cast<std::size_t>(std::countr_zero(places));
      Compare(found[place], text, start + place, candidates);
    }
  };
  std::size_t start = 0;
  for (; start + Reach <= text.size(); start += 16)
    compare(BlockGroups(text.data() + start, tables), start, 0xFFFF);
  // The rest in one more block that ends at the line's end, its places looked at already left out.
  const std::size_t last = text.size() - Reach;
  compare(BlockGroups(text.data() + last, tables), last, 0xFFFFu << (start - last) & 0xFFFF);
  return last + 16;
}

namespace {
bool BlocksAvailable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") != 0;
}
} // namespace
#else
std::size_t TCandidateFinder::FindByBlocks(std::string_view, std::vector<std::uint64_t>&) const {
  return 0;
}

namespace {
bool BlocksAvailable() {
  return false;
}
} // namespace
#endif

void TCandidateFinder::Compare(unsigned groups, std::string_view text, std::size_t start,
                               std::vector<std::uint64_t>& candidates) const {
  for (; groups != 0; groups &= groups - 1) {
    for (const std::uint32_t index : FNibbles->Members[std::countr_zero(groups)]) {
      const TEntry& entry = FEntries[index];
      std::uint64_t& word = candidates[entry.Item / 64];
      const std::uint64_t bit = std::uint64_t{1} << (entry.Item % 64);
      if ((word & bit) == 0 && Holds(entry, text, start))
        word |= bit;
    }
  }
}

void TCandidateFinder::Report(std::uint32_t row, std::string_view text, std::size_t end,
                              std::vector<std::uint64_t>& candidates) const {
  for (std::uint32_t state = FFirstReportState + (row - FReportBit) / FClasses; state != NoState;
       state = FSuffixReport[state]) {
    for (std::uint32_t index = FEntriesStart[state]; index < FEntriesStart[state + 1]; ++index) {
      const TEntry& entry = FEntries[index];
      std::uint64_t& word = candidates[entry.Item / 64];
      const std::uint64_t bit = std::uint64_t{1} << (entry.Item % 64);
      if ((word & bit) == 0 && (!entry.Check || Holds(entry, text, end - entry.KeyLength)))
        word |= bit;
    }
  }
}

bool TCandidateFinder::Holds(const TEntry& entry, std::string_view text, std::size_t start) {
  if (entry.Text.size() > text.size() - start)
    return false;
  const char* at = text.data() + start;
  if (!entry.Caseless)
    return std::memcmp(at, entry.Text.data(), entry.Text.size()) == 0;
  for (std::size_t i = 0; i < entry.Text.size(); ++i) {
    if (Fold(static_cast<unsigned char>(at[i])) != static_cast<unsigned char>(entry.Text[i]))
      return false;
  }
  return true;
}

} // namespace ornavel
