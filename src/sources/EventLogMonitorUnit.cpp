#include "EventLogMonitorUnit.h"

#include "JournalUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// How often a log that cannot be read is opened again, so that a journal that appears is followed.
constexpr auto ReopenInterval = std::chrono::seconds(2);

std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

std::uint64_t RealtimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000U +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000U;
}

// One log: its reader while it has one, where to start when it is opened again, and whether its
// trouble has been reported.
class TJournalLog {
public:
  // quietWhenMissing: a log that has no file to read is not reported, only one in the way.
  TJournalLog(std::string_view name, TJournalScope scope, const std::string& folder,
              std::uint64_t startRealtime, std::size_t recentEntries, bool quietWhenMissing)
      : FName(name), FScope(scope), FFolder(folder), FQuietWhenMissing(quietWhenMissing),
        FStartRealtime(startRealtime), FRecentEntries(recentEntries) {}

  // Posts every entry written since the last pass, answering how many; opens the log first when
  // it is due.
  std::size_t Pass(const TSourceThread& source, TLog& log) {
    std::size_t posted = 0;
    std::vector<TEntry> gathered;
    try {
      if (!FFollowing && !TryFollow(log))
        return 0;
      if (FJournal->Process() && !FJournal->HasFiles()) {
        Vanished(log);
        return 0;
      }
      // Entries written while a batch is posted belong to this pass too.
      do {
        while (gathered.size() < PostedTogether && FJournal->Next())
          gathered.push_back(CurrentEntry());
        posted += gathered.size();
      } while (Post(source, log, gathered));
    } catch (const EJournalError& error) {
      posted += gathered.size();
      Post(source, log, gathered);
      Lost(log, error.Reason());
    }
    return posted;
  }

  int Descriptor() const { return FJournal ? FJournal->Descriptor() : -1; }

  // When to look again without a notification; none to wait for one alone.
  std::optional<TClock::time_point> Deadline() const {
    if (!FFollowing && RetryDue())
      return FRetryAt;
    const auto deadline = FJournal->Deadline();
    if (!deadline)
      return std::nullopt;
    return TClock::time_point(std::chrono::microseconds(*deadline));
  }

private:
  // Entries are posted a few hundred at a time, under one lock of the log and one clock reading,
  // yet soon enough that a flood shows as it comes.
  static constexpr std::size_t PostedTogether = 256;

  struct TEntry {
    std::string Text;
    std::string Source;
  };

  // Answers whether there was anything to post.
  bool Post(const TSourceThread& source, TLog& log, std::vector<TEntry>& gathered) {
    if (gathered.empty())
      return false;
    std::vector<std::string_view> lines, names;
    for (const TEntry& entry : gathered) {
      lines.push_back(entry.Text);
      names.push_back(entry.Source);
    }
    log.AddLines(&source, lines, names);
    gathered.clear();
    FReported = false;
    return true;
  }

  // Answers whether the log can be read now, positioning a reader that has just become usable.
  bool TryFollow(TLog& log) {
    if (FJournal)
      FJournal->Process(); // a folder that was empty may have gained files meanwhile
    bool opened = false;
    if (RetryDue() && TClock::now() >= FRetryAt) {
      FRetryAt = TClock::now() + ReopenInterval;
      FJournal.reset();
      FJournal.emplace(FScope, FFolder);
      opened = true;
    }
    if (!FJournal)
      return false; // it could not be opened, which was reported; tried again when due
    if (!FJournal->HasFiles()) {
      // Looked into once per opening: the folders are read again to say why.
      if (opened)
        Absent(log);
      return false;
    }
    Position();
    FFollowing = true;
    return true;
  }

  // A reader that watches its folder sees files come by itself; one over the machine's journals
  // does not see a journal folder made after it.
  bool RetryDue() const {
    return !FJournal || (!FJournal->HasFiles() && !FJournal->SeesNewFiles());
  }

  // At the start at the end, its recent entries before it; after a read failure at the end; a
  // log that could not be read from the start on, or whose files all went, from that moment, so
  // that nothing written since is passed over.
  void Position() {
    if (FResumeRealtime)
      FJournal->SeekRealtime(*FResumeRealtime);
    else
      FJournal->SeekEnd(FEverFollowed ? 0 : FRecentEntries);
    FResumeRealtime.reset();
    FEverFollowed = true;
  }

  void Absent(TLog& log) {
    const TJournalAbsence absence = FJournal->Absence();
    if (FQuietWhenMissing && absence.Kind == TJournalAbsence::TKind::NoFile)
      Unreadable(log, {});
    else
      Unreadable(log, absence.Reason);
  }

  // An empty reason reports nothing.
  void Unreadable(TLog& log, std::string_view reason) {
    if (!FEverFollowed && !FResumeRealtime)
      FResumeRealtime = FStartRealtime;
    if (!reason.empty())
      Report(log, reason);
  }

  void Lost(TLog& log, std::string_view reason) {
    Unreadable(log, reason);
    if (FFollowing)
      FRetryAt = TClock::now(); // a read failed: open again at once, at the end
    FJournal.reset();
    FFollowing = false;
  }

  // A folder removed with its files is not watched when it is made again: open it anew later.
  void Vanished(TLog& log) {
    FResumeRealtime = RealtimeNow();
    Report(log, FJournal->Absence().Reason);
    FJournal.reset();
    FFollowing = false;
  }

  void Report(TLog& log, std::string_view reason) {
    if (std::exchange(FReported, true))
      return;
    log.AddFmt(nullptr, TLogLevel::Warning, "The %s journal cannot be read: %s", FName, reason);
  }

  // Its source is the first of its identifier, command and unit that it has.
  TEntry CurrentEntry() const {
    const auto fields =
        FJournal->Fields({"SYSLOG_IDENTIFIER", "_COMM", "MESSAGE", "_SYSTEMD_UNIT"});
    TEntry entry{Format("(%s) %s ", FName,
                        TEventLogMonitorThread::EntryText(fields[0], fields[1], fields[2])),
                 {}};
    for (const auto& name : {fields[0], fields[1], fields[3]}) {
      if (name && entry.Source.empty())
        entry.Source = UpToNul(*name);
    }
    return entry;
  }

  const std::string_view FName;
  const TJournalScope FScope;
  const std::string FFolder;
  const bool FQuietWhenMissing;
  std::optional<TJournal> FJournal;
  bool FFollowing = false;
  bool FReported = false;
  bool FEverFollowed = false;
  std::optional<std::uint64_t> FResumeRealtime;
  const std::uint64_t FStartRealtime;
  const std::size_t FRecentEntries;
  TClock::time_point FRetryAt{};
};

struct TWait {
  TClock::time_point Deadline = TClock::time_point::max();
  std::vector<pollfd> Descriptors;
};

// busy: the last pass found entries. Then the next waits a millisecond for more to gather, as a
// writer that wakes a waiting reader for every entry it writes is slowed down by it. Otherwise it
// waits for the journals' descriptors or their earliest deadline, a minute away at most.
TWait NextWait(const std::vector<TJournalLog>& logs, bool busy) {
  TWait wait;
  if (busy) {
    wait.Deadline = TClock::now() + 1ms;
    return wait;
  }
  for (const TJournalLog& log : logs) {
    if (log.Descriptor() >= 0)
      wait.Descriptors.push_back({log.Descriptor(), POLLIN, 0});
    if (const auto deadline = log.Deadline())
      wait.Deadline = std::min({wait.Deadline, *deadline, TClock::now() + 60s});
  }
  return wait;
}

} // namespace

TEventLogMonitorThread::TEventLogMonitorThread(TLog& log, std::string folder,
                                               std::size_t recentEntries)
    : TSourceThread(log), FFolder(std::move(folder)), FRecentEntries(recentEntries) {}

std::string TEventLogMonitorThread::EntryText(std::optional<std::string_view> identifier,
                                              std::optional<std::string_view> command,
                                              std::optional<std::string_view> message) {
  const std::string_view text = UpToNul(message.value_or(""));
  for (const auto& name : {identifier, command}) {
    if (name && !UpToNul(*name).empty())
      return std::string(UpToNul(*name)).append(": ").append(text);
  }
  return std::string(text);
}

void TEventLogMonitorThread::Execute() {
  const std::uint64_t start = RealtimeNow();
  std::vector<TJournalLog> logs;
  logs.reserve(2);
  logs.emplace_back("System", TJournalScope::System, FFolder, start, FRecentEntries, false);
  // journald keeps no journal of root's own: root's entries are in the system journal. A folder
  // of collected journals may hold no user's journal at all, which is no trouble either.
  if (!FFolder.empty() || ::getuid() != 0)
    logs.emplace_back("User", TJournalScope::CurrentUser, FFolder, start, FRecentEntries,
                      !FFolder.empty());
  TWait wait;
  if (Terminated())
    return;
  do {
    std::size_t posted = 0;
    for (TJournalLog& journal : logs)
      posted += journal.Pass(*this, Log());
    wait = NextWait(logs, posted > 0);
  } while (WaitForWork(wait.Deadline, wait.Descriptors));
}

} // namespace ornavel
