#pragma once

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
#include <string>
#include <string_view>
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
};

// Decides whether a posted line is kept, and may give it a colour. It runs on the posting thread,
// outside the log's lock, on any number of threads at once.
class TLogFilter {
public:
  virtual ~TLogFilter() = default;
  // Reports the evaluation makes about itself go to faults; the log posts them once it holds
  // nothing.
  virtual bool ProcessItem(TLogItem& item, std::vector<std::string>& faults) const = 0;
};

// The central log: every line of the system is posted here from any thread, stamped with the
// time, passed through the rules, and stored when kept. The store is read by index.
class TLog {
public:
  using TLogItemEvent = std::function<void(TLogLevel level, const std::string& text)>;

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
  void AddLine(const TSourceThread* source, std::string text) {
    Add(source, TLogLevel::Notice, std::move(text));
  }
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
  // A copy of the item; fails for an index outside 0 .. Count() - 1.
  TLogItem GetItem(std::size_t index) const;
  // Hands the texts of the items from first up to (not including) last, or the end, to read,
  // under one lock: posting threads wait meanwhile, so callers read in short ranges.
  void ReadTexts(std::size_t first, std::size_t last,
                 const std::function<void(std::size_t index, std::string_view text)>& read) const;
  void Clear();

  // Called on the posting thread, after the store's lock is released, for every stored item.
  void SetOnLogItem(TLogItemEvent handler);

private:
  class TPostGuard;
  class TReadLock;
  class TWriteLock;

  // The count of posts in progress, and whether destruction has begun, in one word: a post
  // leaves with one step that may let the destructor go on, and touches the log no more.
  static constexpr unsigned ClosingFlag = 1u << 31;
  std::atomic<const TLogFilter*> FFilter;
  std::atomic<unsigned> FPosts{0};

  mutable std::mutex FLock; // guards the store and the handler
  mutable std::atomic<int> FReadersWaiting{0};
  std::deque<TLogItem> FItems;
  std::atomic<std::size_t> FCount{0}; // the store's size, readable without the lock
  std::shared_ptr<const TLogItemEvent> FOnLogItem;
};

// The single log, made on first use, without a filter: the monitoring driver attaches the rules.
TLog& GetLog();
// Ends the single log at program end; later calls of GetLog fail.
void DestroyLog();

} // namespace ornavel
