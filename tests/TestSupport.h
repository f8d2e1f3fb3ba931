#pragma once

#include "core/FileDescriptorUnit.h"
#include "core/LogUnit.h"
#include "core/ThreadUnit.h"
#include "core/UserInterfaceThreadUnit.h"

#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ornavel::test {

// Long enough never to be reached by a working program; it only keeps a broken one from hanging.
inline constexpr auto Patience = std::chrono::seconds(20);

// Serves the user-interface loop until done() holds; answers false if it never did. done() is
// looked at every millisecond too, for conditions that other threads change without a hand-off.
inline bool ServeUntil(TEventLoop& loop, const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + Patience;
  while (std::chrono::steady_clock::now() < giveUp) {
    if (loop.ServeUntil(done, std::chrono::steady_clock::now() + std::chrono::milliseconds(1)))
      return true;
  }
  return done();
}

// Like TEvent, but neither serves nor wakes the user-interface thread, so that a test can watch
// that thread without doing its work or waking it.
class TQuietEvent {
public:
  void Set() {
    std::lock_guard lock(FLock);
    FSet = true;
    FChanged.notify_all();
  }
  // Answers whether the event was set in time.
  bool WaitFor() {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, Patience, [this] { return FSet; });
  }

private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FSet = false;
};

// Stands in front of a user-interface thread for its lifetime and tells when work has been handed
// over to it, so that a test can wait until a hand-off is queued. Then it puts that thread back.
class TPostWatcher final : public TUserInterfaceThread {
public:
  explicit TPostWatcher(TUserInterfaceThread& watched) : FWatched(watched) {
    InstallUserInterfaceThread(this);
  }
  ~TPostWatcher() override {
    UninstallUserInterfaceThread(this);
    InstallUserInterfaceThread(&FWatched);
  }
  TPostWatcher(const TPostWatcher&) = delete;
  TPostWatcher& operator=(const TPostWatcher&) = delete;

  // Answers whether work reached the watched thread's queue in time.
  bool WaitForPost() { return FPosted.WaitFor(); }

  bool IsCurrentThread() const override { return FWatched.IsCurrentThread(); }
  void Post(std::function<void()> work) override {
    FWatched.Post(std::move(work));
    FPosted.Set();
  }
  bool ServeUntil(const std::function<bool()>& done, TDeadline deadline = {}) override {
    return FWatched.ServeUntil(done, deadline);
  }
  void Wake() override { FWatched.Wake(); }

private:
  TUserInterfaceThread& FWatched;
  TQuietEvent FPosted;
};

// A test name made of a case's text: its letters and digits, numbered to stay unique.
inline std::string CaseName(std::size_t index, std::string_view text) {
  std::string name = "Case" + std::to_string(index) + "_";
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      name += c;
  }
  return name;
}

// A folder of its own for one test, removed with everything in it afterwards.
class TTemporaryFolder {
public:
  TTemporaryFolder() {
    FPath = (std::filesystem::temp_directory_path() / "ornavel-XXXXXX").string();
    if (mkdtemp(FPath.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder");
  }
  ~TTemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTemporaryFolder(const TTemporaryFolder&) = delete;
  TTemporaryFolder& operator=(const TTemporaryFolder&) = delete;

  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, std::string_view text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Lines joined with CR LF, each ended by one: how the program writes its files.
inline std::string CrLf(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

// A writer's end of a file, made when missing; every write goes to the file's end.
inline TFileDescriptor OpenToAppend(const std::string& path) {
  TFileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!file.Valid())
    throw std::runtime_error("cannot open " + path);
  return file;
}

inline void Write(const TFileDescriptor& file, std::string_view text) {
  if (::write(file.Get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    throw std::runtime_error("short write");
}

// Appends the way a logging program does: opening the file by its name for every write.
inline void Append(const std::string& path, std::string_view text) {
  Write(OpenToAppend(path), text);
}

// A UDP port that no socket on this machine holds right now.
inline int FreeUdpPort() {
  TFileDescriptor probe(::socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(probe.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no free UDP port");
  return ntohs(address.sin_port);
}

// Whether some program has bound the UDP port, read from the kernel's table: a probe that bound
// the port itself could take it from under a program that is about to listen on it.
inline bool UdpPortTaken(int port) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line); // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot;
    std::string local;
    fields >> slot >> local;
    const auto colon = local.find(':');
    if (colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
      return true;
  }
  return false;
}

// Stands in for a full disk: while it lives, the process may write no file beyond a few bytes.
class TFullDisk {
public:
  TFullDisk() {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &FPrevious);
    rlimit tiny = FPrevious;
    tiny.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tiny);
  }
  ~TFullDisk() { setrlimit(RLIMIT_FSIZE, &FPrevious); }
  TFullDisk(const TFullDisk&) = delete;
  TFullDisk& operator=(const TFullDisk&) = delete;

private:
  rlimit FPrevious{};
};

// The log that sources under test post to: their own, not the program's single one.
inline TLog& SourceLog() {
  static TLog log;
  return log;
}

// A source of any kind whose body does nothing; lines are posted in its name by others.
class TKindSource final : public TSourceThread {
public:
  explicit TKindSource(TMonitorType type) : TSourceThread(UnusedLog()), FType(type) {}
  TMonitorType MonitorType() const override { return FType; }

protected:
  void Execute() override {}

private:
  static TLog& UnusedLog() {
    static TLog log;
    return log;
  }

  const TMonitorType FType;
};

inline std::shared_ptr<TSourceThread> MakeSourceOf(TMonitorType type) {
  return TThread::Create<TKindSource>(true, type);
}

// A thread running a given body.
class TLambdaThread final : public TThread {
public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> body) : FBody(std::move(body)) {}

protected:
  void Execute() override { FBody(*this); }

private:
  std::function<void(TLambdaThread&)> FBody;
};

inline std::shared_ptr<TLambdaThread> MakeThread(std::function<void(TLambdaThread&)> body,
                                                 bool suspended = true) {
  return TThread::Create<TLambdaThread>(suspended, std::move(body));
}

// A body that runs until it is told to terminate.
inline void RunUntilTerminated(TLambdaThread& self) {
  while (!self.Terminated())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The full path of the executable program name on PATH, or empty when there is none.
inline std::string FindOnPath(const std::string& name) {
  std::istringstream path(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "");
  for (std::string folder; std::getline(path, folder, ':');) {
    const std::string candidate = folder + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

// The same for a program that must be there.
inline std::string RequireOnPath(const std::string& name) {
  std::string found = FindOnPath(name);
  if (found.empty())
    throw std::runtime_error(name + " not found on PATH");
  return found;
}

// The CPU time a process has used so far (user and system), in clock ticks; fails when it has
// ended.
inline std::uint64_t ProcessCpuTicks(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string state;
  fields >> state;
  if (state == "Z" || state == "X")
    throw std::runtime_error("process " + std::to_string(pid) + " ended before it was measured");
  std::string skipped;
  for (int field = 4; field < 14; ++field)
    fields >> skipped;
  std::uint64_t user = 0;
  std::uint64_t system = 0;
  fields >> user >> system;
  if (!fields)
    throw std::runtime_error("cannot read the CPU time of process " + std::to_string(pid));
  return user + system;
}

} // namespace ornavel::test
