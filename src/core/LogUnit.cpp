#include "LogUnit.h"

#include "SingleInstanceUnit.h"
#include "TextUnit.h"
#include "ThreadUnit.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <type_traits>

namespace ornavel {
namespace {

// Where the last post to leave a closing log tells its destructor. It lies outside every log,
// since the log may be gone as soon as that post has left it.
std::mutex gDrainLock;
std::condition_variable gDrained;

constexpr std::uint8_t NoMonitorType = 0xFF;
constexpr std::size_t FirstBlockSize = 4096;
constexpr std::size_t LargestBlockSize = 65536;
constexpr std::size_t LargestChunkCapacity = 4096;
// Blocks of the sizes a large log takes over and over are made ready ahead of a flood.
constexpr std::size_t BlocksReadyAhead = 6;

// Small enough that removing one keeps nearly all the lines, large enough to cost little.
std::size_t ChunkCapacity(std::size_t maxLines) {
  return std::clamp<std::size_t>(maxLines / 16, 64, LargestChunkCapacity);
}

// Numbers in front of a text take seven bits a byte, low bits first.
std::size_t NumberBytes(std::size_t number) {
  std::size_t bytes = 1;
  for (; number >= 0x80; number >>= 7)
    ++bytes;
  return bytes;
}

char* WriteNumber(char* next, std::size_t number) {
  for (; number >= 0x80; number >>= 7)
    *next++ = static_cast<char>((number & 0x7F) | 0x80);
  *next++ = static_cast<char>(number);
  return next;
}

std::size_t ReadNumber(const char*& next) {
  std::size_t number = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*next++);
    number |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0)
      return number;
  }
}

} // namespace

// One line as held: its text lies in its chunk's blocks, the index of its decision and its
// length in front of it, so that a 100-byte line costs the text and some 34 bytes.
struct TLog::TStoredItem {
  TDateTime Time;
  const TSourceThread* Source;
  const char* Text;
  TColor Color;
  TLogLevel Level;
  std::uint8_t MonitorType;
  std::uint16_t SourceName;

  std::string_view View() const {
    const char* next = Text;
    ReadNumber(next); // the decision
    const std::size_t length = ReadNumber(next);
    return {next, length};
  }
  std::uint16_t Decision() const {
    const char* next = Text;
    return static_cast<std::uint16_t>(ReadNumber(next));
  }
};

// The items of a chunk, in one block of the chunk's capacity that never grows.
class TLog::TItemArray {
public:
  TItemArray(std::unique_ptr<char[]> block, std::size_t capacity)
      : FBlock(std::move(block)), FItems(reinterpret_cast<TStoredItem*>(FBlock.get())),
        FCapacity(capacity) {
    static_assert(std::is_trivially_destructible_v<TStoredItem>);
    static_assert(alignof(TStoredItem) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  }

  std::size_t Size() const { return FSize; }
  std::size_t Capacity() const { return FCapacity; }
  const TStoredItem& operator[](std::size_t index) const { return FItems[index]; }
  void Add(const TStoredItem& item) { std::construct_at(FItems + FSize++, item); }

private:
  std::unique_ptr<char[]> FBlock;
  TStoredItem* FItems;
  std::size_t FCapacity;
  std::size_t FSize = 0;
};

// Consecutive lines and their texts, removed together.
struct TLog::TChunk {
  TChunk(std::uint64_t first, std::size_t capacity, TBlockSupply& supply)
      : First(first), Items(supply.Take(capacity * sizeof(TStoredItem)), capacity), Supply(supply) {
  }

  bool Full() const { return Items.Size() == Items.Capacity(); }

  const char* Keep(std::string_view text, std::uint16_t decision) {
    const std::size_t needed = NumberBytes(decision) + NumberBytes(text.size()) + text.size();
    char* place = nullptr;
    if (needed > FirstBlockSize / 2) {
      Blocks.push_back(std::make_unique_for_overwrite<char[]>(needed));
      place = Blocks.back().get();
    } else {
      if (Current == nullptr || CurrentSize - Used < needed) {
        CurrentSize =
            Current == nullptr ? FirstBlockSize : std::min(CurrentSize * 2, LargestBlockSize);
        Blocks.push_back(Supply.Take(CurrentSize));
        Current = Blocks.back().get();
        Used = 0;
      }
      place = Current + Used;
      Used += needed;
    }
    char* next = WriteNumber(WriteNumber(place, decision), text.size());
    if (!text.empty())
      std::memcpy(next, text.data(), text.size());
    return place;
  }

  // The rest of the last block will hold no line: its pages, made ready ahead, go back.
  void GiveBackSpare() const {
    if (Current != nullptr)
      TBlockSupply::GiveBack(Current + Used, Current + CurrentSize);
  }

  std::uint64_t First;
  TItemArray Items;
  TBlockSupply& Supply;
  std::vector<std::unique_ptr<char[]>> Blocks;
  char* Current = nullptr;
  std::size_t CurrentSize = 0;
  std::size_t Used = 0;
};

// Counts a post in progress so that destruction can wait for it, and tells whether the post
// may go ahead at all.
class TLog::TPostGuard {
public:
  explicit TPostGuard(TLog& log) : FLog(log) {
    FAdmitted = (FLog.FPosts.fetch_add(1) & ClosingFlag) == 0;
  }
  ~TPostGuard() {
    // The post's last touch of the log: from here on its destructor may free it.
    if (FLog.FPosts.fetch_sub(1) == (ClosingFlag | 1)) {
      { const std::lock_guard lock(gDrainLock); }
      gDrained.notify_all();
    }
  }
  TPostGuard(const TPostGuard&) = delete;
  TPostGuard& operator=(const TPostGuard&) = delete;

  bool Admitted() const { return FAdmitted; }

private:
  TLog& FLog;
  bool FAdmitted = false;
};

// Sources post far more often than the window reads; a reader announces itself so that
// posters step aside and it never starves behind them.
class TLog::TReadLock {
public:
  explicit TReadLock(const TLog& log) : FLog(log) {
    FLog.FReadersWaiting.fetch_add(1);
    FLog.FLock.lock();
    FLog.FReadersWaiting.fetch_sub(1);
  }
  ~TReadLock() { FLog.FLock.unlock(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

private:
  const TLog& FLog;
};

class TLog::TWriteLock {
public:
  explicit TWriteLock(TLog& log) : FLog(log) {
    FLog.FWritersWaiting.fetch_add(1);
    while (FLog.FReadersWaiting.load(std::memory_order_relaxed) != 0)
      std::this_thread::yield();
    FLog.FLock.lock();
    FLog.FWritersWaiting.fetch_sub(1);
  }
  ~TWriteLock() { FLog.FLock.unlock(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

private:
  TLog& FLog;
};

TLog::TLog(const TLogFilter* filter)
    : FFilter(filter),
      FSupply({LargestBlockSize, LargestChunkCapacity * sizeof(TStoredItem)}, BlocksReadyAhead) {}

TLog::~TLog() {
  FPosts.fetch_or(ClosingFlag);
  std::unique_lock lock(gDrainLock);
  gDrained.wait(lock, [this] { return FPosts.load() == ClosingFlag; });
}

void TLog::Add(const TSourceThread* source, TLogLevel level, std::string text) {
  const std::string_view line = text;
  Post(source, level, {&line, 1}, {});
}

void TLog::AddFailure(TLogLevel level, std::string text) {
  {
    const std::lock_guard lock(FFailuresLock);
    if (FFailures.size() < 16) // a failure repeated at every restart need not grow without end
      FFailures.push_back(text);
  }
  Add(nullptr, level, std::move(text));
}

std::vector<std::string> TLog::Failures() const {
  const std::lock_guard lock(FFailuresLock);
  return FFailures;
}

void TLog::AddLine(const TSourceThread* source, std::string text, std::string_view sourceName) {
  const std::string_view line = text;
  Post(source, TLogLevel::Notice, {&line, 1}, {&sourceName, 1});
}

void TLog::AddLines(const TSourceThread* source, std::span<const std::string_view> lines,
                    std::string_view sourceName) {
  Post(source, TLogLevel::Notice, lines, {&sourceName, 1});
}

void TLog::AddLines(const TSourceThread* source, std::span<const std::string_view> lines,
                    std::span<const std::string_view> sourceNames) {
  if (sourceNames.size() != lines.size())
    throw std::logic_error("A source name is needed for each line");
  Post(source, TLogLevel::Notice, lines, sourceNames);
}

namespace {

std::string_view NameOf(std::span<const std::string_view> names, std::size_t line) {
  if (names.empty())
    return {};
  return names[names.size() == 1 ? 0 : line];
}

} // namespace

void TLog::Post(const TSourceThread* source, TLogLevel level,
                std::span<const std::string_view> lines, std::span<const std::string_view> names) {
  TPostGuard guard(*this);
  if (!guard.Admitted() || lines.empty())
    return;
  std::optional<TMonitorType> type;
  if (source != nullptr)
    type = source->MonitorType();
  TLogItem item{Now(), level, source, type, clWindowText, {}, std::string(NameOf(names, 0)),
                {},    {}};
  std::vector<TKept> kept;
  kept.reserve(lines.size());
  std::vector<std::string> faults;
  const TLogFilter* filter = FFilter;
  if (filter != nullptr && type && filter->KeepsAll(*type))
    filter = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (filter != nullptr) {
      item.Text.assign(lines[i]);
      if (names.size() > 1) // one name for all was given once
        item.SourceName.assign(names[i]);
      item.Color = clWindowText;
      item.Decision = {};
      item.Alert = nullptr;
      if (!filter->ProcessItem(item, faults))
        continue;
    }
    kept.push_back({i, item.Color, item.Decision, item.Alert});
  }
  StoreKept(item, lines, names, kept);
  // Reports of rules switched off by this evaluation, made now that it holds nothing.
  for (auto& fault : faults)
    Add(nullptr, TLogLevel::Warning, std::move(fault));
}

void TLog::StoreKept(TLogItem& item, std::span<const std::string_view> lines,
                     std::span<const std::string_view> names, std::span<const TKept> kept) {
  if (kept.empty())
    return;
  std::shared_ptr<const TLogItemEvent> handler;
  std::shared_ptr<const TAlertEvent> alertHandler;
  std::vector<TLogAlert> alerts;
  std::vector<std::unique_ptr<TChunk>> removed; // freed after the lock is released
  {
    const TWriteLock lock(*this);
    if (Closing())
      return;
    handler = FOnLogItem;
    alertHandler = FOnAlert;
    // Most posts come from one source: its name is looked up once.
    std::optional<std::uint16_t> shared;
    if (names.size() < 2)
      shared = FSourceNames.Intern(NameOf(names, 0));
    // Lines in a row mostly share their decision, the filter's same text: looked up once.
    std::string_view lastDecision;
    std::uint16_t decided = 0;
    for (const TKept& line : kept) {
      if (line.Decision.data() != lastDecision.data() ||
          line.Decision.size() != lastDecision.size()) {
        lastDecision = line.Decision;
        decided = FDecisions.Intern(line.Decision);
      }
      item.Color = line.Color;
      if (line.Alert != nullptr && alertHandler)
        alerts.push_back({*line.Alert, lines[line.Line], line.Color, FFirst + FCount.load()});
      Store(item, lines[line.Line], shared ? *shared : FSourceNames.Intern(names[line.Line]),
            decided, removed);
    }
  }
  for (const TKept& line : kept) {
    if (!handler || Closing())
      break;
    (*handler)(item.Level, lines[line.Line]);
  }
  for (const TLogAlert& alert : alerts) {
    if (Closing())
      break;
    (*alertHandler)(alert);
  }
}

// Past the most texts a line can tell apart, the texts that come later share the last index.
std::uint16_t TLog::TTextTable::Intern(std::string_view text) {
  if (text.empty())
    return 0;
  if (const auto found = FIndex.find(text); found != FIndex.end())
    return found->second;
  constexpr std::size_t Last = UINT16_MAX;
  if (FTexts.size() > Last)
    return Last;
  FTexts.emplace_back(FTexts.size() == Last ? FOverflow : text);
  const auto index = static_cast<std::uint16_t>(FTexts.size() - 1);
  FIndex.emplace(FTexts.back(), index);
  return index;
}

void TLog::Store(const TLogItem& item, std::string_view text, std::uint16_t sourceName,
                 std::uint16_t decision, std::vector<std::unique_ptr<TChunk>>& removed) {
  static_assert(sizeof(TStoredItem) == 32);
  const std::size_t maxLines = FMaxLines.load(std::memory_order_relaxed);
  std::size_t count = FCount.load(std::memory_order_relaxed);
  // A chunk begun under a larger cap is closed, so that the new cap can remove it.
  const std::size_t capacity = ChunkCapacity(maxLines);
  if (FChunks.empty() || FChunks.back()->Full() || FChunks.back()->Items.Capacity() > capacity)
    FChunks.push_back(std::make_unique<TChunk>(FFirst + count, capacity, FSupply));
  TChunk& chunk = *FChunks.back();
  const std::uint8_t type =
      item.MonitorType ? static_cast<std::uint8_t>(*item.MonitorType) : NoMonitorType;
  chunk.Items.Add({item.Time, item.Source, chunk.Keep(text, decision), item.Color, item.Level, type,
                   sourceName});
  if (chunk.Full())
    chunk.GiveBackSpare();
  ++count;
  while (count > maxLines && FChunks.size() > 1) {
    removed.push_back(std::move(FChunks.front()));
    FChunks.pop_front();
    FFirst += removed.back()->Items.Size();
    count -= removed.back()->Items.Size();
  }
  FCount.store(count, std::memory_order_release);
}

const TLog::TChunk& TLog::ChunkOf(std::uint64_t number) const {
  auto chunk = std::upper_bound(
      FChunks.begin(), FChunks.end(), number,
      [](std::uint64_t wanted, const std::unique_ptr<TChunk>& c) { return wanted < c->First; });
  return **std::prev(chunk);
}

const TLog::TStoredItem& TLog::At(std::uint64_t number) const {
  const TChunk& chunk = ChunkOf(number);
  return chunk.Items[static_cast<std::size_t>(number - chunk.First)];
}

void TLog::CopyOut(const TStoredItem& stored, TLogItem& item, std::size_t maxText) const {
  item.Time = stored.Time;
  item.Level = stored.Level;
  item.Source = stored.Source;
  item.MonitorType = std::nullopt;
  if (stored.MonitorType != NoMonitorType)
    item.MonitorType = static_cast<TMonitorType>(stored.MonitorType);
  item.Color = stored.Color;
  item.SourceName = FSourceNames[stored.SourceName];
  item.Decision = FDecisions[stored.Decision()];
  item.Text.assign(Utf8Prefix(stored.View(), maxText));
}

std::size_t TLog::Count() const {
  return FCount.load(std::memory_order_acquire);
}

TLog::TExtent TLog::Extent() const {
  const TReadLock lock(*this);
  return {FFirst, FCount.load(std::memory_order_relaxed)};
}

TLogItem TLog::GetItem(std::size_t index) const {
  const TReadLock lock(*this);
  if (index >= FCount.load(std::memory_order_relaxed))
    throw std::out_of_range(Format("List index out of bounds (%u)", index));
  TLogItem item;
  CopyOut(At(FFirst + index), item, SIZE_MAX);
  return item;
}

std::optional<TLogItem> TLog::FindItem(std::uint64_t number, std::size_t maxText) const {
  const TReadLock lock(*this);
  if (number < FFirst || number - FFirst >= FCount.load(std::memory_order_relaxed))
    return std::nullopt;
  TLogItem item;
  CopyOut(At(number), item, maxText);
  return item;
}

template <class TRead>
std::size_t TLog::ForEachStored(std::uint64_t& from, std::size_t most, TReadTurn turn,
                                const TRead& read) const {
  std::unique_lock<std::mutex> lock;
  std::optional<TReadLock> announced;
  if (turn == TReadTurn::InTurn) {
    lock = std::unique_lock(FLock);
  } else {
    announced.emplace(*this);
  }
  from = std::max(from, FFirst);
  const std::uint64_t end = FFirst + FCount.load(std::memory_order_relaxed);
  const std::size_t count =
      from >= end ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(most, end - from));
  // Chunk by chunk: looking each item up on its own would cost a search every time.
  for (std::size_t done = 0; done < count;) {
    const TChunk& chunk = ChunkOf(from + done);
    auto index = static_cast<std::size_t>(from + done - chunk.First);
    for (; done < count && index < chunk.Items.Size(); ++done, ++index)
      read(done, chunk.Items[index]);
  }
  return count;
}

std::size_t TLog::CopyItems(std::uint64_t& from, std::span<TLogItem> items, TReadTurn turn) const {
  return ForEachStored(from, items.size(), turn, [&](std::size_t done, const TStoredItem& stored) {
    CopyOut(stored, items[done], SIZE_MAX);
  });
}

std::size_t TLog::ReadItems(std::uint64_t& from, std::size_t most, TReadTurn turn,
                            const std::function<void(const TLogItemView&)>& read) const {
  return ForEachStored(from, most, turn, [&](std::size_t, const TStoredItem& stored) {
    read({stored.Time, stored.Level, stored.Color, stored.View(), FSourceNames[stored.SourceName]});
  });
}

// A long search reads range after range: announced like the window's reads, it would keep the
// posters out for all of it. It lets waiting posters go first instead, for a while at most, so
// that a flood cannot stop it either.
void TLog::ReadTexts(std::uint64_t first, std::uint64_t last,
                     const std::function<void(std::uint64_t, std::string_view)>& read) const {
  const auto patience = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
  while (FWritersWaiting.load(std::memory_order_relaxed) != 0 &&
         std::chrono::steady_clock::now() < patience)
    std::this_thread::yield();
  const std::lock_guard lock(FLock);
  last = std::min<std::uint64_t>(last, FFirst + FCount.load(std::memory_order_relaxed));
  for (std::uint64_t number = std::max(first, FFirst); number < last; ++number)
    read(number, At(number).View());
}

void TLog::Clear() {
  std::deque<std::unique_ptr<TChunk>> cleared; // freed after the lock is released
  const TWriteLock lock(*this);
  cleared.swap(FChunks);
  FFirst += FCount.load(std::memory_order_relaxed);
  FCount.store(0, std::memory_order_release);
}

void TLog::SetMaxLines(std::size_t lines) {
  FMaxLines = std::max<std::size_t>(lines, 1);
}

void TLog::SetOnLogItem(TLogItemEvent handler) {
  auto shared = handler ? std::make_shared<const TLogItemEvent>(std::move(handler)) : nullptr;
  std::lock_guard lock(FLock);
  FOnLogItem = std::move(shared);
}

void TLog::SetOnAlert(TAlertEvent handler) {
  auto shared = handler ? std::make_shared<const TAlertEvent>(std::move(handler)) : nullptr;
  std::lock_guard lock(FLock);
  FOnAlert = std::move(shared);
}

namespace {

TSingleInstance<TLog>& LogInstance() {
  static TSingleInstance<TLog> instance("central log");
  return instance;
}

} // namespace

TLog& GetLog() {
  return LogInstance().Get([] { return std::make_unique<TLog>(); });
}

void DestroyLog() {
  LogInstance().Destroy();
}

} // namespace ornavel
