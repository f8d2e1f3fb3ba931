#pragma once

#include "ColorUnit.h"
#include "DateTimeUnit.h"
#include "EventUnit.h"
#include "FormatUnit.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace ornavel {

class TRules;
class TThread;

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
  // The thread that posted the line, or none for the program's own messages. Only the rules
  // look at it, while the line is being added; it is not owned.
  const TThread* Source = nullptr;
  TColor Color = clWindowText;
  std::string Text;
};

// The central log: every line of the system is posted here from any thread, stamped with the
// time, passed through the rules, and stored when kept. The store is read by index.
class TLog {
public:
  using TLogItemEvent = std::function<void(TLogLevel level, const std::string& text)>;

  // Without rules every line is kept; the single log gets them while it is being created.
  explicit TLog(TRules* rules = nullptr);
  // Waits for posts in progress; from the moment it begins, Add does nothing.
  ~TLog();
  TLog(const TLog&) = delete;
  TLog& operator=(const TLog&) = delete;

  void AttachRules(TRules* rules) { FRules = rules; }
  // Whether destruction has begun.
  bool Closing() const { return FClosing; }

  void Add(const TThread* source, TLogLevel level, std::string text);
  void AddLine(const TThread* source, std::string text) {
    Add(source, TLogLevel::Notice, std::move(text));
  }
  template <class... A>
  void AddLineFmt(const TThread* source, std::string_view format, const A&... args) {
    Add(source, TLogLevel::Notice, Format(format, args...));
  }
  template <class... A>
  void AddFmt(const TThread* source, TLogLevel level, std::string_view format, const A&... args) {
    Add(source, level, Format(format, args...));
  }

  std::size_t Count() const;
  // A copy of the item; fails for an index outside 0 .. Count() - 1.
  TLogItem GetItem(std::size_t index) const;
  void Clear();

  // Called on the posting thread, after the store's lock is released, for every stored item.
  void SetOnLogItem(TLogItemEvent handler);

private:
  class TPostGuard;
  class TReadLock;
  class TWriteLock;

  std::atomic<TRules*> FRules;
  std::atomic<bool> FClosing{false};
  std::atomic<int> FPostsInProgress{0};
  TEvent FPostsDrained;

  mutable std::mutex FLock; // guards the store and the handler
  mutable std::atomic<int> FReadersWaiting{0};
  std::deque<TLogItem> FItems;
  std::atomic<std::size_t> FCount{0}; // the store's size, readable without the lock
  std::shared_ptr<const TLogItemEvent> FOnLogItem;
};

// The single log, made on first use together with the rules.
TLog& GetLog();
// Ends the single log at program end; later calls of GetLog fail.
void DestroyLog();

} // namespace ornavel
