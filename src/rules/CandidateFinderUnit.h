#pragma once

#include "RequiredTextUnit.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ornavel {

// Finds in one pass over a line which of many items may match it: those with one of their
// required texts in the line, and those it cannot tell (no texts, or beyond its budget). One
// automaton over all the texts, ASCII case folded, so that the cost of a line hardly grows with
// the number of items; a few texts are looked for sixteen places at a time instead, where the
// processor can. Built once, then read by any number of threads.
class TCandidateFinder {
public:
  // Automaton: the automaton even for a few texts, where the other way would be taken.
  enum class TWay { Fastest, Automaton };

  TCandidateFinder() = default;
  // texts[i] are item i's texts, of which every match holds one; empty where it has none.
  explicit TCandidateFinder(std::span<const std::span<const TRequiredText>> texts,
                            TWay way = TWay::Fastest);

  // Sets bit i (word i / 64, bit i % 64) for every item i that may match text, and no other.
  void Find(std::string_view text, std::vector<std::uint64_t>& candidates) const;
  // Whether a candidate bit of item comes from one of its texts found in the line.
  bool Filtered(std::size_t item) const { return (FFiltered[item / 64] >> (item % 64) & 1) != 0; }

private:
  // A text ending in a state: the item it stands for and, where the key is not all of it or
  // case counts, the text to compare once the key is found.
  struct TEntry {
    std::uint32_t Item;
    std::uint32_t KeyLength;
    bool Check;
    std::string Text;
    bool Caseless;
  };

  // Walks the line in pieces at once, then text[from, to) from the given row, over a table of
  // rows of TRow.
  template <class TRow>
  void FindIn(const TRow* next, std::string_view text,
              std::vector<std::uint64_t>& candidates) const;
  template <class TRow>
  void Walk(const TRow* next, std::string_view text, std::size_t from, std::size_t to,
            std::vector<std::uint64_t>& candidates, std::uint32_t row = 0) const;
  // Few texts, by the bytes at each place: for each of the first Width bytes of a text, a bit for
  // its group in the tables indexed by the byte's low and high four bits. A place where every
  // byte has its group's bit is compared with the group's texts.
  struct TNibbles {
    static constexpr std::size_t MaxWidth = 3;
    static constexpr std::size_t Groups = 8;
    std::size_t Width = 0;
    alignas(16) std::uint8_t Low[MaxWidth][16] = {};
    alignas(16) std::uint8_t High[MaxWidth][16] = {};
    std::vector<std::uint32_t> Members[Groups]; // entries by group
  };

  void MakeNibbles();
  void FindByNibbles(std::string_view text, std::vector<std::uint64_t>& candidates) const;
  // The places before the one answered, sixteen at a time; the rest, a few, one by one.
  std::size_t FindByBlocks(std::string_view text, std::vector<std::uint64_t>& candidates) const;
  void Compare(unsigned groups, std::string_view text, std::size_t start,
               std::vector<std::uint64_t>& candidates) const;
  // Marks the items of the texts that end at end in the state of that row.
  void Report(std::uint32_t row, std::string_view text, std::size_t end,
              std::vector<std::uint64_t>& candidates) const;
  // Whether text holds all of entry's text from start on.
  static bool Holds(const TEntry& entry, std::string_view text, std::size_t start);

  std::vector<std::uint64_t> FAlways;   // items that are always candidates
  std::vector<std::uint64_t> FFiltered; // items whose bit the automaton decides
  bool FAnyFiltered = false;
  std::uint32_t FClasses = 1;
  std::uint8_t FClassOf[256] = {};
  // Transitions by state and byte class; a state is its row's offset in the table. States with
  // entries, or with entries along their suffixes, come last, from FFirstReportState on, their
  // rows from FReportBit on, which no other row reaches.
  std::vector<std::uint32_t> FNext;
  // Rows of 16 bits where they reach, so that the table takes half the cache.
  std::vector<std::uint16_t> FNextShort;
  std::uint32_t FFirstReportState = 0;
  std::uint32_t FReportBit = 0;
  // Of state s: its entries, and the next shorter suffix state with entries.
  std::vector<std::uint32_t> FEntriesStart; // one more than states
  std::vector<std::uint32_t> FSuffixReport; // none: FNoState
  std::vector<TEntry> FEntries;
  std::unique_ptr<TNibbles> FNibbles; // none: the automaton
};

} // namespace ornavel
