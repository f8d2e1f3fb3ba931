#pragma once

#include "BlockSupplyUnit.h"
#include "ColorUnit.h"
#include "DateTimeUnit.h"
#include "FormatUnit.h"
#include "SourceKindUnit.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ornavel {

class TSourceThread;

// Any byte is a valid level; only the log view looks at it.
enum class TLogLevel : std::uint8_t {
  Notice = 0,
  Warning = 1,
  Exception = 2,
  Debug = 3,
  LoadFailure = 4
};

// Whether the line is a trouble of the program's own, drawn red: a warning, a failure, or a
// settings or rules file that could not be read.
constexpr bool IsAlarming(TLogLevel level) {
  return level == TLogLevel::Warning || level == TLogLevel::Exception ||
         level == TLogLevel::LoadFailure;
}

struct TLogItem {
  TDateTime Time = 0;
  TLogLevel Level = TLogLevel::Notice;
  // The thread that posted the line, or none for the program's own messages; not owned, and
  // not to be followed once the line is stored.
  const TSourceThread* Source = nullptr;
  // The kind of the source, taken when the line is posted; none without a source.
  std::optional<TMonitorType> MonitorType;
  TColor Color = clWindowText;
  std::string Text;
  // Where the line came from, in its source's words: a file's path, a syslog host, a journal
  // identifier, a debug writer's process; empty for the program's own messages.
  std::string SourceName;
  // What the filter said decided it ("kept by rule 3 'Errors'"); empty when nothing did. The
  // filter's text must last as long as the log; an item read from the log points into the log.
  std::string_view Decision;
  // The name of the rule that decided it, when that rule alerts; kept by the filter as Decision.
  const std::string* Alert = nullptr;
};

// A stored line as the log holds it, for a reader that reads it in place: valid only while the
// log hands it over.
struct TLogItemView {
  TDateTime Time;
  TLogLevel Level;
  TColor Color;
  std::string_view Text;
  std::string_view SourceName;
};

// Decides whether a posted line is kept, and may give it a colour. It runs on the posting thread,
// outside the log's lock, on any number of threads at once.
class TLogFilter {
public:
  virtual ~TLogFilter() = default;
  // Reports the evaluation makes about itself go to faults; the log posts them once it holds
  // nothing.
  virtual bool ProcessItem(TLogItem& item, std::vector<std::string>& faults) const = 0;
  // Whether every line of that kind of source would be kept as it is, so that the lines of a post
  // need not be passed one by one.
  virtual bool KeepsAll(TMonitorType /*type*/) const { return false; }
};

// The most lines the log holds unless told otherwise, and the fewest it may be told.
inline constexpr std::size_t DefaultMaxLines = 1'000'000;
inline constexpr std::size_t MinMaxLines = 1'000;

// The central log: every line of the system is posted here from any thread, stamped with the
// time, passed through the rules, and stored when kept. It holds at most MaxLines lines: beyond
// them the oldest go, a chunk at a time. The store is read by index (0 is the oldest held) or by
// number (counted over every line stored since the log was made, so that a reader can tell which
// of the lines it knows are gone).
// A stored line that an alerting rule decided.
struct TLogAlert {
  std::string_view Rule; // the rule's name
  std::string_view Text;
  TColor Color;
  std::uint64_t Line; // its number in the log
};

class TLog {
public:
  using TLogItemEvent = std::function<void(TLogLevel level, std::string_view text)>;
  using TAlertEvent = std::function<void(const TLogAlert& alert)>;
  // The lines held: their numbers run from First to First + Count - 1.
  struct TExtent {
    std::uint64_t First = 0;
    std::size_t Count = 0;
  };

  // Without a filter every line is kept. The filter must outlive the log, or be detached first.
  explicit TLog(const TLogFilter* filter = nullptr);
  // Waits for posts in progress; from the moment it begins, Add does nothing.
  ~TLog();
  TLog(const TLog&) = delete;
  TLog& operator=(const TLog&) = delete;

  void AttachFilter(const TLogFilter* filter) { FFilter = filter; }
  // Whether destruction has begun.
  bool Closing() const { return (FPosts.load() & ClosingFlag) != 0; }

  void Add(const TSourceThread* source, TLogLevel level, std::string text);
  void AddLine(const TSourceThread* source, std::string text, std::string_view sourceName = {});
  // Lines a source read at one moment, one time stamp for all: each passes the filter on its own,
  // the kept ones are stored in order under one lock, and each raises OnLogItem. All come from
  // sourceName, or each from its own of sourceNames.
  void AddLines(const TSourceThread* source, std::span<const std::string_view> lines,
                std::string_view sourceName = {});
  void AddLines(const TSourceThread* source, std::span<const std::string_view> lines,
                std::span<const std::string_view> sourceNames);
  // A trouble that keeps the program from doing some of what it was asked: a source that cannot
  // begin, a settings or rules file that cannot be read. Posted as any line of that level, and
  // remembered, so that console mode can end with a status that says so.
  void AddFailure(TLogLevel level, std::string text);
  // The texts of the failures so far, the first few of them.
  std::vector<std::string> Failures() const;
  template <class... A>
  void AddLineFmt(const TSourceThread* source, std::string_view format, const A&... args) {
    Add(source, TLogLevel::Notice, Format(format, args...));
  }
  template <class... A>
  void AddFmt(const TSourceThread* source, TLogLevel level, std::string_view format,
              const A&... args) {
    Add(source, level, Format(format, args...));
  }

  std::size_t Count() const;
  TExtent Extent() const;
  // A copy of the item; fails for an index outside 0 .. Count() - 1.
  TLogItem GetItem(std::size_t index) const;
  // The item with that number, its text cut to at most maxText bytes without splitting a
  // UTF-8 character; none when it is gone or not yet stored.
  std::optional<TLogItem> FindItem(std::uint64_t number, std::size_t maxText = SIZE_MAX) const;
  // Whether a read goes before the posters waiting for the lock, as the window's do, or takes
  // its turn with them: a reader that reads all the time, as the console's writer does, must
  // not hold the sources up, nor spin while they post.
  enum class TReadTurn { BeforePosters, InTurn };
  // Copies the items from number from on (or from the oldest held, when that one is gone) into
  // items, reusing their strings, and answers how many; from becomes the first one's number.
  std::size_t CopyItems(std::uint64_t& from, std::span<TLogItem> items,
                        TReadTurn turn = TReadTurn::BeforePosters) const;
  // Hands the items from number from on (or from the oldest held), at most most of them, to read
  // in place, under one lock, and answers how many; from becomes the first one's number. A
  // reader of every line reads this way, without a copy of each; posting threads wait meanwhile.
  std::size_t ReadItems(std::uint64_t& from, std::size_t most, TReadTurn turn,
                        const std::function<void(const TLogItemView& item)>& read) const;
  // Hands the texts of the items held with numbers from first up to (not including) last to
  // read, under one lock: posting threads wait meanwhile, so callers read in short ranges. Unlike
  // the other reads it lets waiting posters go first.
  void
  ReadTexts(std::uint64_t first, std::uint64_t last,
            const std::function<void(std::uint64_t number, std::string_view text)>& read) const;
  // Removes every line; their numbers are not given again.
  void Clear();

  // Takes effect with the next line stored.
  void SetMaxLines(std::size_t lines);

  // Called on the posting thread, after the store's lock is released, for every stored item.
  void SetOnLogItem(TLogItemEvent handler);
  // Called likewise, after OnLogItem, for every stored item that an alerting rule decided.
  void SetOnAlert(TAlertEvent handler);

private:
  class TPostGuard;
  class TReadLock;
  class TWriteLock;
  class TItemArray;
  struct TChunk;
  struct TStoredItem;

  struct TKept {
    std::size_t Line; // its place among the lines posted
    TColor Color;
    std::string_view Decision;
    const std::string* Alert;
  };
  // Texts that many lines share, each held once for the log's life, a line holding its index;
  // 0 is none. Past the most a line can tell apart, later texts share the last index, which
  // reads as the overflow text.
  class TTextTable {
  public:
    explicit TTextTable(std::string overflow) : FOverflow(std::move(overflow)) {}
    std::uint16_t Intern(std::string_view text);
    const std::string& operator[](std::uint16_t index) const { return FTexts[index]; }

  private:
    const std::string FOverflow;
    // A deque, so that the index's keys stay where they are.
    std::deque<std::string> FTexts{std::string()};
    std::unordered_map<std::string_view, std::uint16_t> FIndex;
  };

  // The one way in for every line. names: none, one for all lines, or one for each.
  void Post(const TSourceThread* source, TLogLevel level, std::span<const std::string_view> lines,
            std::span<const std::string_view> names);
  void Store(const TLogItem& item, std::string_view text, std::uint16_t sourceName,
             std::uint16_t decision, std::vector<std::unique_ptr<TChunk>>& removed);
  void StoreKept(TLogItem& item, std::span<const std::string_view> lines,
                 std::span<const std::string_view> names, std::span<const TKept> kept);
  const TChunk& ChunkOf(std::uint64_t number) const;
  const TStoredItem& At(std::uint64_t number) const;
  void CopyOut(const TStoredItem& stored, TLogItem& item, std::size_t maxText) const;
  // Calls read(place, stored item) for at most most items from number from on, under the lock.
  template <class TRead>
  std::size_t ForEachStored(std::uint64_t& from, std::size_t most, TReadTurn turn,
                            const TRead& read) const;

  // The count of posts in progress, and whether destruction has begun, in one word: a post
  // leaves with one step that may let the destructor go on, and touches the log no more.
  static constexpr unsigned ClosingFlag = 1u << 31;
  std::atomic<const TLogFilter*> FFilter;
  std::atomic<unsigned> FPosts{0};

  mutable std::mutex FLock; // guards the store and the handler
  mutable std::atomic<int> FReadersWaiting{0};
  std::atomic<int> FWritersWaiting{0};
  TBlockSupply FSupply;
  // Oldest first; a chunk is removed whole, so that the cap costs the same for every line.
  std::deque<std::unique_ptr<TChunk>> FChunks;
  std::uint64_t FFirst = 0;
  std::atomic<std::size_t> FCount{0}; // the store's size, readable without the lock
  std::atomic<std::size_t> FMaxLines{DefaultMaxLines};
  std::shared_ptr<const TLogItemEvent> FOnLogItem;
  std::shared_ptr<const TAlertEvent> FOnAlert;
  // Guarded by FLock, as the store.
  TTextTable FSourceNames{"other sources"};
  TTextTable FDecisions{"kept by a rule"};
  mutable std::mutex FFailuresLock;
  std::vector<std::string> FFailures;
};

// The single log, made on first use, without a filter: the monitoring driver attaches the rules.
TLog& GetLog();
// Ends the single log at program end; later calls of GetLog fail.
void DestroyLog();

} // namespace ornavel
