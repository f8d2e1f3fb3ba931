// Messages per second of debug output through the reader, from one writer process and from four
// at once, each the ornavel-debug command reading its messages (about 20 bytes) from a file and
// keeping its objects open. Each message costs the protocol one semaphore round trip between two
// processes, so the baseline, measured in the same run, is a bare ping-pong of two named
// semaphores between this process and a child. The three are measured in turns, --rounds times,
// and the best of each is reported.
//
// Run: build/release/bench/debugoutput_bench [--messages=200000] [--rounds=3]
// A smoke run: --messages=2000 --rounds=1
#include "TestSupport.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "sources/OutputDebugStringMonitorThreadUnit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ornavel {
namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

long Messages = 200000;
int Rounds = 3;

int Spawn(std::vector<std::string> arguments, const std::string& input,
          const std::vector<std::string>& environment) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!input.empty())
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> entries(environment);
  for (char** entry = environ; *entry != nullptr; ++entry)
    entries.emplace_back(*entry);
  std::vector<char*> envp;
  for (std::string& entry : entries)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0)
    throw std::runtime_error("cannot start " + arguments.front());
  return pid;
}

void ExpectSuccess(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("a writer did not deliver every message");
}

double PerSecond(long count, TClock::duration took) {
  return static_cast<double>(count) / std::chrono::duration<double>(took).count();
}

// The partner's side of the ping-pong: answers every ping with a pong.
int PingPongPartner(const std::string& ping, const std::string& pong, long count) {
  sem_t* pinged = sem_open(ping.c_str(), 0);
  sem_t* ponged = sem_open(pong.c_str(), 0);
  for (long i = 0; i < count; ++i) {
    sem_wait(pinged);
    sem_post(ponged);
  }
  return 0;
}

double PingPong(const std::string& suffix) {
  const std::string ping = "/ornavel-bench-ping" + suffix, pong = "/ornavel-bench-pong" + suffix;
  sem_t* pinged = sem_open(ping.c_str(), O_CREAT | O_EXCL, 0600, 0);
  sem_t* ponged = sem_open(pong.c_str(), O_CREAT | O_EXCL, 0600, 0);
  const pid_t partner =
      Spawn({"/proc/self/exe", "--partner", ping, pong, std::to_string(Messages)}, "", {});
  // The first round trip waits for the partner to start; it is not counted.
  sem_post(pinged);
  sem_wait(ponged);
  const auto start = TClock::now();
  for (long i = 1; i < Messages; ++i) {
    sem_post(pinged);
    sem_wait(ponged);
  }
  const auto took = TClock::now() - start;
  ExpectSuccess(partner);
  sem_close(pinged);
  sem_close(ponged);
  sem_unlink(ping.c_str());
  sem_unlink(pong.c_str());
  return PerSecond(Messages - 1, took);
}

// The lines the reader posted in this run.
std::atomic<long> Received{0};

double ThroughReader(int writers, const std::string& input, const std::string& suffix) {
  GetLog().Clear();
  Received = 0;
  std::vector<pid_t> started;
  const auto start = TClock::now();
  for (int i = 0; i < writers; ++i)
    started.push_back(Spawn({ORNAVEL_DEBUG_BINARY}, input, {"ORNAVEL_DEBUG_SUFFIX=" + suffix}));
  const long expected = Messages / writers * writers;
  while (Received < expected)
    std::this_thread::sleep_for(100us);
  const auto took = TClock::now() - start;
  for (pid_t pid : started)
    ExpectSuccess(pid);
  return PerSecond(expected, took);
}

void Run() {
  test::TTemporaryFolder folder;
  setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
  GetConfig().SetIncludePID(true);
  GetLog().SetOnLogItem([](TLogLevel, std::string_view) { ++Received; });
  const std::string suffix = "-ornavel-bench-" + std::to_string(getpid());
  // One file of messages per writer count: each writer sends its share.
  std::vector<std::string> inputs;
  for (int writers : {1, 4}) {
    inputs.push_back(folder.File("messages" + std::to_string(writers)));
    std::ofstream file(inputs.back());
    for (long i = 0; i < Messages / writers; ++i)
      file << "message number " << i << "\n";
  }
  TEventLoop loop;
  const auto reader = TThread::Create<TOutputDebugStringMonitorThread>(
      false, GetLog(), GetConfig(), TDebugObjectNames::WithSuffix(suffix));
  if (!test::ServeUntil(
          loop, [&] { return access(("/dev/shm/DBWIN_BUFFER" + suffix).c_str(), F_OK) == 0; }))
    throw std::runtime_error("the reader did not start");
  double pingPong = 0, one = 0, four = 0;
  for (int round = 0; round < Rounds; ++round) {
    pingPong = std::max(pingPong, PingPong(suffix));
    one = std::max(one, ThroughReader(1, inputs[0], suffix));
    four = std::max(four, ThroughReader(4, inputs[1], suffix));
  }
  reader->Terminate();
  reader->WaitFor();
  GetLog().SetOnLogItem(nullptr);
  std::printf("messages per run %ld, best of %d rounds\n", Messages, Rounds);
  std::printf("semaphore ping-pong, 2 processes   %9.0f round trips/s\n", pingPong);
  std::printf("through the reader, 1 writer       %9.0f messages/s  %.2f of ping-pong\n", one,
              one / pingPong);
  std::printf("through the reader, 4 writers      %9.0f messages/s  %.2f of ping-pong\n", four,
              four / pingPong);
  GetConfig().Save();
}

} // namespace
} // namespace ornavel

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--partner") == 0)
    return ornavel::PingPongPartner(argv[2], argv[3], std::atol(argv[4]));
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("--messages="))
      ornavel::Messages = std::max(10L, std::atol(argument.c_str() + 11));
    else if (argument.starts_with("--rounds="))
      ornavel::Rounds = std::max(1, std::atoi(argument.c_str() + 9));
    else {
      std::fprintf(stderr, "Usage: debugoutput_bench [--messages=N] [--rounds=N]\n");
      return 2;
    }
  }
  try {
    ornavel::Run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "debugoutput_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
