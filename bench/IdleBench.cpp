// How quiet an idle `ornavel --console` is: the real program runs with a settings folder of its
// own while nothing happens, and over a window its wake-ups per second (the context switches of
// all its threads, from /proc/PID/task/*/status) and its CPU share of one core (utime + stime of
// /proc/PID/stat; the tasks' run time of /proc/PID/task/*/schedstat as the finer figure) are
// taken. Three settings: no sources; 64 idle followed files and syslog on a loopback port; the
// event log alone, over a folder of idle journals (JournalDirectory). The baseline is `tail -F`
// on one idle file, measured the same way.
//
// Run: build/release/bench/idle_bench [--duration=10]
// A smoke run: --duration=1
#include "ChildProcessUnit.h"
#include "JournalWriterUnit.h"
#include "TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ornavel {
namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using test::TChildProcess;

constexpr int IdleFiles = 64;
// After the program says it is up, its threads finish starting before the window opens.
constexpr auto Settle = 500ms;

double Seconds = 10;

struct TTaskCounts {
  std::uint64_t Switches = 0;
  std::uint64_t RunNs = 0;
};

// What the process has done up to one moment.
struct TSample {
  TClock::time_point Time;
  std::map<std::string, TTaskCounts> Tasks; // by thread id
  std::uint64_t Ticks = 0;                  // utime + stime, dead threads included
};

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::uint64_t Field(const std::string& status, const std::string& name) {
  const std::size_t at = status.find("\n" + name + ":");
  if (at == std::string::npos)
    throw std::runtime_error("no " + name + " in a task's status");
  return std::strtoull(status.c_str() + at + name.size() + 2, nullptr, 10);
}

// Answers nothing for a task that ended while it was being read.
std::optional<TTaskCounts> ReadTask(const std::filesystem::path& task) {
  const std::string status = ReadText(task / "status");
  const std::string schedstat = ReadText(task / "schedstat");
  if (status.empty() || schedstat.empty())
    return std::nullopt;
  return TTaskCounts{Field(status, "voluntary_ctxt_switches") +
                         Field(status, "nonvoluntary_ctxt_switches"),
                     std::strtoull(schedstat.c_str(), nullptr, 10)};
}

// Fields 14 and 15, counted after the command name, which may hold spaces and parentheses. A
// program that has ended has no figures to give.
TSample Take(int pid) {
  TSample sample;
  sample.Time = TClock::now();
  const std::string folder = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(folder)) {
    if (const auto counts = ReadTask(task.path()))
      sample.Tasks[task.path().filename().string()] = *counts;
  }
  sample.Ticks = test::ProcessCpuTicks(pid);
  return sample;
}

struct TFigures {
  double WakeupsPerSecond = 0;
  double CpuPercent = 0;     // from clock ticks
  double RunTimePercent = 0; // from the tasks' run time
  std::uint64_t Switches = 0;
  std::size_t TasksAtStart = 0;
  std::size_t TasksAtEnd = 0;
  // Tasks that ended within the window: what they did after the start is missing, so the figures
  // other than CpuPercent are then lower bounds.
  std::size_t TasksGone = 0;
};

// A task new at the end did all it counts within the window.
TFigures Compare(const TSample& start, const TSample& end) {
  TFigures figures;
  const double seconds = std::chrono::duration<double>(end.Time - start.Time).count();
  std::uint64_t switches = 0;
  std::uint64_t runNs = 0;
  for (const auto& [task, counts] : end.Tasks) {
    const auto before = start.Tasks.find(task);
    const TTaskCounts from = before == start.Tasks.end() ? TTaskCounts{} : before->second;
    switches += counts.Switches - from.Switches;
    runNs += counts.RunNs - from.RunNs;
  }
  for (const auto& [task, counts] : start.Tasks)
    figures.TasksGone += end.Tasks.contains(task) ? 0 : 1;
  figures.Switches = switches;
  figures.TasksAtStart = start.Tasks.size();
  figures.TasksAtEnd = end.Tasks.size();
  figures.WakeupsPerSecond = static_cast<double>(switches) / seconds;
  figures.CpuPercent = 100.0 * static_cast<double>(end.Ticks - start.Ticks) /
                       static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
  figures.RunTimePercent = 100.0 * static_cast<double>(runNs) / 1e9 / seconds;
  return figures;
}

bool ShowsLine(TChildProcess& program, const std::string& line) {
  return program.WaitForOutput(
      [&](const std::string& output, const std::string&) {
        return output.find(line + "\n") != std::string::npos;
      },
      test::Patience);
}

void WaitUntilHeld(int port) {
  const auto giveUp = TClock::now() + test::Patience;
  while (!test::UdpPortTaken(port)) {
    if (TClock::now() > giveUp)
      throw std::runtime_error("ornavel never listened on UDP port " + std::to_string(port));
    std::this_thread::sleep_for(10ms);
  }
}

// Measures a started program once it is up, then ends it with SIGTERM and waits for it.
TFigures MeasureIdle(TChildProcess& program, const std::string& name) {
  std::this_thread::sleep_for(Settle);
  const TSample start = Take(program.Pid());
  std::this_thread::sleep_for(std::chrono::duration<double>(Seconds));
  const TSample end = Take(program.Pid());
  program.Signal(SIGTERM);
  const int status = program.Wait(10s);
  if (status != 0 && status != 128 + SIGTERM)
    std::fprintf(stderr, "%s ended with status %d: %s\n", name.c_str(), status,
                 program.Errors().c_str());
  return Compare(start, end);
}

std::string ConfigXml(const std::vector<std::string>& files, int syslogPort,
                      const std::string& journalFolder = {}) {
  std::string config = "<?xml version=\"1.0\"?>\n<Config>\n  <MonitorFilenames>\n";
  for (const std::string& file : files)
    config += "    <Filename>" + file + "</Filename>\n";
  config += "  </MonitorFilenames>\n";
  if (syslogPort != 0) {
    config += "  <MonitorSyslog value=\"True\"/>\n";
    config += "  <SyslogPort value=\"" + std::to_string(syslogPort) + "\"/>\n";
  }
  if (!journalFolder.empty()) {
    config += "  <MonitorEventLog value=\"True\"/>\n";
    config += "  <JournalDirectory value=\"" + journalFolder + "\"/>\n";
  }
  return config + "</Config>\n";
}

TFigures MeasureOrnavel(int fileCount, bool syslog) {
  const test::TTemporaryFolder folder;
  std::vector<std::string> files;
  for (int i = 0; i < fileCount; ++i) {
    files.push_back(folder.File("idle" + std::to_string(i) + ".log"));
    test::WriteFile(files.back(), "");
  }
  const int port = syslog ? test::FreeUdpPort() : 0;
  std::filesystem::create_directories(folder.File("Ornavel"));
  test::WriteFile(folder.File("Ornavel/Config.xml"), ConfigXml(files, port));
  TChildProcess program({ORNAVEL_BINARY, "--console"}, {"XDG_CONFIG_HOME=" + folder.Path()});
  if (!ShowsLine(program, syslog ? "\tMonitoring syslog" : "\tStarting up.."))
    throw std::runtime_error("ornavel did not start: " + program.Errors());
  if (syslog)
    WaitUntilHeld(port);
  return MeasureIdle(program, "ornavel");
}

// The event log alone, over a System and a User journal that nobody writes to once the monitor has
// shown one entry.
TFigures MeasureEventLog() {
  const test::TTemporaryFolder folder;
  const std::string journals = folder.File("journal");
  std::filesystem::create_directories(journals);
  test::TJournalWriter system(journals, TJournalScope::System);
  const test::TJournalWriter user(journals, TJournalScope::CurrentUser);
  std::filesystem::create_directories(folder.File("Ornavel"));
  test::WriteFile(folder.File("Ornavel/Config.xml"), ConfigXml({}, 0, journals));
  TChildProcess program({ORNAVEL_BINARY, "--console"}, {"XDG_CONFIG_HOME=" + folder.Path()});
  const std::string shown = "\t(System) ornavel-test: ready \n";
  for (int attempt = 0; attempt < 200; ++attempt) {
    system.WriteOne(test::TJournalEntry("ready"));
    if (program.WaitForOutput(
            [&](const std::string& output, const std::string&) {
              return output.find(shown) != std::string::npos;
            },
            100ms))
      return MeasureIdle(program, "ornavel");
  }
  throw std::runtime_error("ornavel never followed the journal: " + program.Errors());
}

// Up once it has printed the file's one line.
TFigures MeasureTail() {
  const test::TTemporaryFolder folder;
  const std::string file = folder.File("idle.log");
  test::WriteFile(file, "ready\n");
  TChildProcess program({test::RequireOnPath("tail"), "-F", "-n", "1", file}, {});
  if (!ShowsLine(program, "ready"))
    throw std::runtime_error("tail -F did not start: " + program.Errors());
  return MeasureIdle(program, "tail -F");
}

// A baseline that did nothing at all in the window gives no ratio.
std::string Ratio(double value, double baseline) {
  if (baseline <= 0)
    return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.1fx", value / baseline);
  return text;
}

void PrintRow(const char* name, const TFigures& figures, const TFigures& tail) {
  std::printf("%-22s %9llu %9.1f%s %7s %7.3f %7.3f %7s %4zu -> %zu\n", name,
              static_cast<unsigned long long>(figures.Switches), figures.WakeupsPerSecond,
              figures.TasksGone > 0 ? "+" : " ",
              Ratio(figures.WakeupsPerSecond, tail.WakeupsPerSecond).c_str(), figures.CpuPercent,
              figures.RunTimePercent, Ratio(figures.RunTimePercent, tail.RunTimePercent).c_str(),
              figures.TasksAtStart, figures.TasksAtEnd);
}

const char* Verdict(bool met) {
  return met ? "met" : "NOT met";
}

void Report(const TFigures& none, const TFigures& busy, const TFigures& journal,
            const TFigures& tail) {
  std::printf("Idle for %.1f s each; CPU from clock ticks (%ld a second) and from run time\n",
              Seconds, sysconf(_SC_CLK_TCK));
  std::printf("%-22s %9s %10s %7s %7s %7s %7s %s\n", "", "switches", "wakeups/s", "x tail", "CPU %",
              "run %", "x tail", "threads");
  PrintRow("ornavel, no sources", none, tail);
  PrintRow("ornavel, 64 files+UDP", busy, tail);
  PrintRow("ornavel, event log", journal, tail);
  PrintRow("tail -F, one file", tail, tail);
  if (none.TasksGone + busy.TasksGone + journal.TasksGone + tail.TasksGone > 0)
    std::printf("+ threads ended within the window: a lower bound\n");
  if (tail.Switches == 0 || tail.RunTimePercent <= 0)
    std::printf("n/a: tail -F did not wake, or did not run, at all in the window\n");
  std::printf("No sources, at most 10 wake-ups/s and 0.1 %% of a core: %s\n",
              Verdict(none.WakeupsPerSecond <= 10 && none.CpuPercent <= 0.1));
  std::printf("64 idle files and syslog, at most 20 wake-ups/s: %s\n",
              Verdict(busy.WakeupsPerSecond <= 20));
  std::printf("Event log over idle journals, at most 10 wake-ups/s: %s\n",
              Verdict(journal.WakeupsPerSecond <= 10));
}

// Answers false on an argument it does not know.
bool ReadSettings(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!argument.starts_with("--duration=")) {
      std::fprintf(stderr, "unknown argument %s\nUsage: idle_bench [--duration=SECONDS]\n",
                   argv[i]);
      return false;
    }
    Seconds = std::stod(argument.substr(11));
  }
  return Seconds > 0;
}

} // namespace
} // namespace ornavel

int main(int argc, char** argv) {
  using namespace ornavel;
  if (!ReadSettings(argc, argv))
    return 2;
  try {
    const TFigures none = MeasureOrnavel(0, false);
    const TFigures busy = MeasureOrnavel(IdleFiles, true);
    const TFigures journal = MeasureEventLog();
    const TFigures tail = MeasureTail();
    Report(none, busy, journal, tail);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "idle_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
