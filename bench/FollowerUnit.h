#pragma once

// What the benchmarks that run whole programs share.

#include "TestSupport.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ornavel::test {

// utime + stime of a running process, in seconds.
inline double CpuSeconds(int pid) {
  return static_cast<double>(test::ProcessCpuTicks(pid)) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A program whose standard output this process reads as fast as it comes, watching for one
// text at a time.
class TFollower {
public:
  using TClock = std::chrono::steady_clock;

  TFollower(std::vector<std::string> arguments, const std::string& configHome) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> environment{"XDG_CONFIG_HOME=" + configHome};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (!std::string_view(*entry).starts_with("XDG_CONFIG_HOME="))
        environment.emplace_back(*entry);
    }
    const auto pointers = [](std::vector<std::string>& texts) {
      std::vector<char*> list;
      for (auto& text : texts)
        list.push_back(text.data());
      list.push_back(nullptr);
      return list;
    };
    const int failed = posix_spawn(&FPid, arguments.front().c_str(), &actions, nullptr,
                                   pointers(arguments).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0)
      throw std::runtime_error("cannot start " + arguments.front());
    FReader = std::thread([this, descriptor = ends[0]] { Read(descriptor); });
  }

  ~TFollower() {
    ::kill(FPid, SIGTERM);
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FReader.join();
  }
  TFollower(const TFollower&) = delete;
  TFollower& operator=(const TFollower&) = delete;

  int Pid() const { return FPid; }

  // From now on, watches for text.
  void Expect(std::string text) {
    const std::lock_guard lock(FLock);
    FWanted = std::move(text);
    FFound.reset();
    FCarry.clear();
  }
  // When the text was read, or none within the timeout.
  std::optional<TClock::time_point> WaitFound(TClock::duration timeout) {
    std::unique_lock lock(FLock);
    FChanged.wait_for(lock, timeout, [this] { return FFound.has_value(); });
    return FFound;
  }

private:
  void Read(int descriptor) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
      const ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
      if (count <= 0)
        break;
      const auto now = TClock::now();
      const std::lock_guard lock(FLock);
      if (FWanted.empty() || FFound)
        continue;
      FCarry.append(buffer.data(), static_cast<std::size_t>(count));
      if (FCarry.find(FWanted) != std::string::npos) {
        FFound = now;
        FChanged.notify_all();
      } else if (FCarry.size() >= FWanted.size()) {
        FCarry.erase(0, FCarry.size() - FWanted.size() + 1);
      }
    }
    ::close(descriptor);
  }

  int FPid = -1;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::string FWanted;
  std::string FCarry;
  std::optional<TClock::time_point> FFound;
  std::thread FReader;
};

} // namespace ornavel::test
