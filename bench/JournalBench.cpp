// How fast and how soon the event log follows a journal file that systemd-journal-remote writes.
// Throughput: entries are poured into the System journal as fast as journal-remote takes them,
// followed once by a bare reader of the journal library that only counts (the baseline: how fast
// the file can be written and read at all) and once by the event-log monitor posting into the
// central log; each round runs from the first write to the last entry seen, and the monitor's
// lines are checked to come once each, in order. Latency: one entry at a time, 5 ms apart, from
// the write into journal-remote's input to the line stored (or, for the bare reader, the entry
// read), woken by the journal's change notification; the median and the 90th percentile.
// Beside journalctl: the real `ornavel --console` and `journalctl -f -o cat -n 0 -D FOLDER`, in
// turns, each follow a folder while the entries are poured into a file journal-remote writes
// there (--journal-file, remote.journal by default, as --output names it); the time from the last
// write into journal-remote's input to the last entry printed, and the CPU each used from the
// first write to its last line.
//
// Run: build/release/bench/journal_bench [--entries=200000] [--rounds=3] [--samples=300]
//        [--journal-file=remote.journal] [--ornavel=PATH]
#include "FollowerUnit.h"
#include "JournalWriterUnit.h"
#include "TestSupport.h"
#include "core/LogUnit.h"
#include "sources/EventLogMonitorUnit.h"
#include "sources/JournalUnit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <systemd/sd-journal.h>
#include <thread>
#include <vector>

namespace ornavel {
namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using test::TJournalEntry;
using test::TJournalWriter;

std::size_t Entries = 200000;
int Rounds = 3;
int Samples = 300;
std::string JournalFileName = "remote.journal";
std::string OrnavelBinary = ORNAVEL_BINARY;

// 100 bytes with the entry's number first.
std::string Message(std::size_t number) {
  std::string text = "entry " + std::to_string(number) + " ";
  text.resize(100, 'x');
  return text;
}

std::uint64_t Number(std::string_view text) {
  const std::size_t at = text.find("entry ");
  return at == std::string_view::npos ? UINT64_MAX
                                      : std::strtoull(text.data() + at + 6, nullptr, 10);
}

// Serves the loop until done() holds or the time is up; done() is looked at every millisecond,
// as the readers change what it looks at without a hand-off.
bool ServeUntil(TEventLoop& loop, const std::function<bool()>& done, TClock::duration limit) {
  const auto giveUp = TClock::now() + limit;
  while (!done() && TClock::now() < giveUp)
    loop.ServeUntil(done, TClock::now() + 1ms);
  return done();
}

double Seconds(TClock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// A System and a User journal in a folder of their own, written by journal-remote.
struct TJournals {
  test::TTemporaryFolder Folder;
  TJournalWriter System{Folder.Path(), TJournalScope::System};
  TJournalWriter User{Folder.Path(), TJournalScope::CurrentUser};

  void Pour(std::size_t first, std::size_t count) {
    constexpr std::size_t Batch = 500;
    for (std::size_t at = first; at < first + count; at += Batch) {
      std::vector<TJournalEntry> batch;
      for (std::size_t i = at; i < std::min(at + Batch, first + count); ++i)
        batch.emplace_back(Message(i), "bench");
      System.Write(batch);
    }
  }
};

// What follows the journal: the moment it saw an entry, by its number.
using TSeen = std::function<void(std::uint64_t number, TClock::time_point when)>;

// Counts entries as they come, reading none of their fields, woken by the journal's notification,
// until stopped. The library reads the folder's system*.journal by itself.
class TBareReader {
public:
  TBareReader(const std::string& folder, TSeen seen) : FSeen(std::move(seen)) {
    Check(sd_journal_open_directory(&FJournal, folder.c_str(), SD_JOURNAL_SYSTEM));
    FDescriptor = Check(sd_journal_get_fd(FJournal));
    Check(sd_journal_seek_tail(FJournal));
    if (Check(sd_journal_previous(FJournal)) == 0)
      Check(sd_journal_seek_head(FJournal));
    FThread = std::thread([this] { Run(); });
  }
  ~TBareReader() {
    FStop = true;
    FThread.join();
    sd_journal_close(FJournal);
  }

private:
  static int Check(int result) {
    if (result < 0)
      throw std::runtime_error(std::string("journal library: ") + std::strerror(-result));
    return result;
  }

  void Run() {
    while (!FStop) {
      sd_journal_process(FJournal);
      // Entries come in the order written, so their count numbers them.
      while (sd_journal_next(FJournal) > 0)
        FSeen(FCount++, TClock::now());
      pollfd watched{FDescriptor, POLLIN, 0};
      ::poll(&watched, 1, 100);
    }
  }

  sd_journal* FJournal = nullptr;
  int FDescriptor = -1;
  TSeen FSeen;
  std::uint64_t FCount = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// The event-log monitor over the folder, its lines reported as they are stored.
class TMonitorReader {
public:
  TMonitorReader(TEventLoop& loop, TJournals& journals, TSeen seen) {
    GetLog().SetOnLogItem([this, seen](TLogLevel, std::string_view text) {
      if (text.find(": ready ") != std::string::npos)
        FReady = true;
      else
        seen(Number(text), TClock::now());
    });
    FMonitor = TThread::Create<TEventLogMonitorThread>(false, GetLog(), journals.Folder.Path());
    // Following once an entry written after the start is shown.
    while (!FReady) {
      journals.System.WriteOne(TJournalEntry("ready", "bench"));
      ServeUntil(
          loop, [&] { return FReady.load(); }, 50ms);
    }
  }
  ~TMonitorReader() {
    FMonitor->Terminate();
    FMonitor->WaitFor();
    GetLog().SetOnLogItem(nullptr);
    GetLog().Clear();
  }

private:
  std::atomic<bool> FReady{false};
  std::shared_ptr<TEventLogMonitorThread> FMonitor;
};

struct TRound {
  double EntriesPerSecond = 0;
  std::size_t Lost = 0;
  std::size_t OutOfOrder = 0;
};

// Pours the entries and waits for the last; follow starts what reads them with a seen callback.
template <class F>
TRound Throughput(TEventLoop& loop, F follow) {
  TJournals journals;
  std::atomic<std::size_t> count{0};
  std::atomic<std::size_t> outOfOrder{0};
  std::atomic<std::uint64_t> next{0};
  std::atomic<TClock::rep> last{0};
  auto reader = follow(journals, [&](std::uint64_t number, TClock::time_point when) {
    if (number != next.exchange(number + 1))
      ++outOfOrder;
    ++count;
    last = when.time_since_epoch().count();
  });
  const auto start = TClock::now();
  journals.Pour(0, Entries);
  ServeUntil(
      loop, [&] { return count >= Entries; }, 60s);
  const TClock::time_point end{TClock::duration(last.load())};
  const std::size_t seen = count;
  return {seen / Seconds(end - start), Entries > seen ? Entries - seen : 0, outOfOrder};
}

// The median and the 90th percentile, in milliseconds.
std::pair<double, double> Latency(TEventLoop& loop, auto follow) {
  TJournals journals;
  std::atomic<TClock::rep> seenAt{0};
  std::atomic<std::uint64_t> seenNumber{UINT64_MAX};
  auto reader = follow(journals, [&](std::uint64_t number, TClock::time_point when) {
    seenAt = when.time_since_epoch().count();
    seenNumber = number;
  });
  std::vector<double> milliseconds;
  for (int sample = 0; sample < Samples; ++sample) {
    // Apart, as entries come to a journal at rest: a reader is not kept busy by the last one.
    std::this_thread::sleep_for(5ms);
    const auto written = TClock::now();
    journals.Pour(static_cast<std::size_t>(sample), 1);
    if (!ServeUntil(
            loop, [&] { return seenNumber == static_cast<std::uint64_t>(sample); }, 10s))
      throw std::runtime_error("entry " + std::to_string(sample) + " was never seen");
    milliseconds.push_back(std::chrono::duration<double, std::milli>(
                               TClock::duration(seenAt.load()) - written.time_since_epoch())
                               .count());
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  return {milliseconds[milliseconds.size() / 2], milliseconds[milliseconds.size() * 9 / 10]};
}

struct TFollowed {
  double AfterWriter = 0; // seconds from the last write to the last entry printed
  double Total = 0;       // seconds from the first write
  double Cpu = 0;
};

// One follower over a folder of its own while the entries are poured; ornavel or journalctl.
TFollowed Follow(bool ornavel) {
  const test::TTemporaryFolder folder;
  const std::string journals = folder.File("journal");
  std::filesystem::create_directories(journals);
  std::filesystem::create_directories(folder.File("config/Ornavel"));
  test::WriteFile(folder.File("config/Ornavel/Config.xml"),
                  "<?xml version=\"1.0\"?>\n<Config>\n  <MonitorEventLog value=\"True\"/>\n"
                  "  <JournalDirectory value=\"" +
                      journals + "\"/>\n</Config>\n");
  TJournalWriter writer(journals + "/" + JournalFileName);
  // journalctl -f refuses a journal without entries: it follows the last boot in it.
  writer.WriteOne(TJournalEntry("before the start", "bench"));
  if (!test::WaitForEntries(journals, TJournalScope::System, 1))
    throw std::runtime_error("no entry written");
  test::TFollower follower(ornavel
                               ? std::vector<std::string>{OrnavelBinary, "--console"}
                               : std::vector<std::string>{test::RequireOnPath("journalctl"), "-f",
                                                          "-o", "cat", "-n", "0", "-D", journals},
                           folder.File("config"));
  // Following once an entry written after the start is printed.
  const auto giveUp = TClock::now() + 20s;
  for (int probe = 0;; ++probe) {
    const std::string text = "probe " + std::to_string(probe);
    follower.Expect(text);
    writer.WriteOne(TJournalEntry(text, "bench"));
    if (follower.WaitFound(50ms))
      break;
    if (TClock::now() > giveUp)
      throw std::runtime_error((ornavel ? "ornavel" : "journalctl") +
                               std::string(" never printed an entry"));
  }
  follower.Expect(Message(Entries - 1));
  const double cpu = test::CpuSeconds(follower.Pid());
  const auto start = TClock::now();
  constexpr std::size_t Batch = 500;
  for (std::size_t at = 0; at < Entries; at += Batch) {
    std::vector<TJournalEntry> batch;
    for (std::size_t i = at; i < std::min(at + Batch, Entries); ++i)
      batch.emplace_back(Message(i), "bench");
    writer.Write(batch);
  }
  const auto written = TClock::now();
  const auto shown = follower.WaitFound(120s);
  if (!shown)
    throw std::runtime_error("the last entry was never printed");
  const TFollowed followed{Seconds(*shown - written), Seconds(*shown - start),
                           test::CpuSeconds(follower.Pid()) - cpu};
  if (writer.Close() != 0)
    throw std::runtime_error("systemd-journal-remote failed");
  return followed;
}

// The medians over the rounds, each round running both in turns.
void BesideJournalctl() {
  if (test::FindOnPath("journalctl").empty()) {
    std::printf("journalctl not found: no comparison with it\n");
    return;
  }
  std::vector<TFollowed> ours, theirs;
  std::vector<double> cpuRatios;
  for (int round = 0; round < Rounds; ++round) {
    theirs.push_back(Follow(false));
    ours.push_back(Follow(true));
    cpuRatios.push_back(ours.back().Cpu / theirs.back().Cpu);
  }
  const auto median = [](std::vector<TFollowed> figures, double TFollowed::*field) {
    std::sort(figures.begin(), figures.end(),
              [&](const TFollowed& a, const TFollowed& b) { return a.*field < b.*field; });
    return figures[figures.size() / 2].*field;
  };
  std::sort(cpuRatios.begin(), cpuRatios.end());
  std::printf("Beside journalctl: %zu entries into %s, followed in turns; medians of %d rounds\n",
              Entries, JournalFileName.c_str(), Rounds);
  std::printf("  %-34s %17s %9s %7s\n", "", "last after writes", "total s", "CPU s");
  for (const auto& [name, figures] :
       {std::pair{"journalctl -f -o cat -n 0 -D", &theirs}, std::pair{"ornavel --console", &ours}})
    std::printf("  %-34s %15.3f s %9.3f %7.2f\n", name, median(*figures, &TFollowed::AfterWriter),
                median(*figures, &TFollowed::Total), median(*figures, &TFollowed::Cpu));
  std::printf("  ornavel's CPU / journalctl's, median of the rounds: %.2fx\n",
              cpuRatios[cpuRatios.size() / 2]);
}

bool ReadSettings(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("--entries="))
      Entries = std::stoul(argument.substr(10));
    else if (argument.starts_with("--rounds="))
      Rounds = std::stoi(argument.substr(9));
    else if (argument.starts_with("--samples="))
      Samples = std::stoi(argument.substr(10));
    else if (argument.starts_with("--journal-file=") && argument.ends_with(".journal"))
      JournalFileName = argument.substr(15);
    else if (argument.starts_with("--ornavel="))
      OrnavelBinary = argument.substr(10);
    else {
      std::fprintf(stderr, "Usage: journal_bench [--entries=N] [--rounds=N] [--samples=N] "
                           "[--journal-file=NAME.journal] [--ornavel=PATH]\n");
      return false;
    }
  }
  return Entries > 0 && Rounds > 0 && Samples > 0;
}

int Run() {
  TEventLoop loop;
  auto bare = [](TJournals& journals, TSeen seen) {
    return std::make_unique<TBareReader>(journals.Folder.Path(), std::move(seen));
  };
  auto monitor = [&loop](TJournals& journals, TSeen seen) {
    return std::make_unique<TMonitorReader>(loop, journals, std::move(seen));
  };
  std::printf("%zu entries of 100 bytes a round, %d rounds, each way in turns\n", Entries, Rounds);
  std::printf("%-8s %14s %14s %6s %12s\n", "round", "bare entries/s", "ornavel /s", "ratio",
              "lost/unorder");
  bool sound = true;
  std::vector<double> ratios;
  for (int round = 1; round <= Rounds; ++round) {
    const TRound base = Throughput(loop, bare);
    const TRound ours = Throughput(loop, monitor);
    ratios.push_back(ours.EntriesPerSecond / base.EntriesPerSecond);
    sound = sound && ours.Lost == 0 && ours.OutOfOrder == 0;
    std::printf("%-8d %14.0f %14.0f %5.2fx %6zu/%zu\n", round, base.EntriesPerSecond,
                ours.EntriesPerSecond, ratios.back(), ours.Lost, ours.OutOfOrder);
  }
  std::sort(ratios.begin(), ratios.end());
  const auto [bareMedian, bare90] = Latency(loop, bare);
  const auto [oursMedian, ours90] = Latency(loop, monitor);
  std::printf("Latency over %d entries, write to seen (bare) or stored (ornavel), ms:\n", Samples);
  std::printf("  bare reader  median %.3f  90%% %.3f\n", bareMedian, bare90);
  std::printf("  ornavel      median %.3f  90%% %.3f (%.1fx the bare reader)\n", oursMedian, ours90,
              oursMedian / bareMedian);
  std::printf(
      "Median throughput ratio %.2fx; none lost or out of order: %s; median latency <= 5 ms: "
      "%s\n",
      ratios[ratios.size() / 2], sound ? "yes" : "NO", oursMedian <= 5 ? "yes" : "NO");
  BesideJournalctl();
  return sound ? 0 : 1;
}

} // namespace
} // namespace ornavel

// The log's rules come from a configuration folder of the run's own, never the user's.
int main(int argc, char** argv) {
  if (!ornavel::ReadSettings(argc, argv))
    return 2;
  const ornavel::test::TTemporaryFolder settings;
  setenv("XDG_CONFIG_HOME", settings.Path().c_str(), 1);
  try {
    return ornavel::Run();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "journal_bench: %s\n", failure.what());
    return 1;
  }
}
