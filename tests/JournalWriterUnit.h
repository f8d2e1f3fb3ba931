#pragma once

#include "TestSupport.h"
#include "core/FileDescriptorUnit.h"
#include "sources/JournalUnit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace ornavel::test {

inline constexpr const char* JournalRemote = "/lib/systemd/systemd-journal-remote";

struct TJournalEntry {
  TJournalEntry(std::string message, std::optional<std::string> identifier = "ornavel-test",
                std::optional<std::string> command = std::nullopt)
      : Message(std::move(message)), Identifier(std::move(identifier)),
        Command(std::move(command)) {}

  std::string Message;
  std::optional<std::string> Identifier;
  std::optional<std::string> Command;
  // So many field names that the writer's file is full: it rotates it before the next entry.
  bool FillsTheFile = false;
  // Stamped by a host whose clock is this much behind.
  std::chrono::microseconds ClockBehind{0};
};

// Every field binary: a name, a line feed, the length as 64 bits little-endian, the bytes.
inline void AddExportField(std::string& text, std::string_view name, std::string_view value) {
  text.append(name).push_back('\n');
  std::uint64_t length = value.size();
  for (int i = 0; i < 8; ++i, length >>= 8)
    text.push_back(static_cast<char>(length & 0xFF));
  text.append(value).push_back('\n');
}

inline std::uint64_t Microseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000U +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000U;
}

// A boot ID of a writer's own: each writer stands for a machine of its own.
inline std::string NewBootId() {
  sd_id128_t id{};
  char text[SD_ID128_STRING_MAX] = "";
  if (sd_id128_randomize(&id) < 0)
    throw std::runtime_error("no random boot ID");
  return sd_id128_to_string(id, text);
}

// Entries in journal export format, each ending with a blank line, stamped as a journald of the
// given boot stamps them. Stamps strictly increasing across all writers, so that readers order
// the entries of several files as they were written.
inline std::string Export(const std::vector<TJournalEntry>& entries, const std::string& boot) {
  static std::uint64_t last = 0;
  static std::uint64_t lastMonotonic = 0;
  std::string text;
  for (const TJournalEntry& entry : entries) {
    last = std::max(Microseconds(CLOCK_REALTIME), last + 1);
    lastMonotonic = std::max(Microseconds(CLOCK_MONOTONIC), lastMonotonic + 1);
    text += "__REALTIME_TIMESTAMP=" +
            std::to_string(last - static_cast<std::uint64_t>(entry.ClockBehind.count())) +
            "\n__MONOTONIC_TIMESTAMP=" + std::to_string(lastMonotonic) + "\n";
    text += "_BOOT_ID=" + boot + "\n";
    if (entry.Identifier)
      AddExportField(text, "SYSLOG_IDENTIFIER", *entry.Identifier);
    if (entry.Command)
      AddExportField(text, "_COMM", *entry.Command);
    AddExportField(text, "MESSAGE", entry.Message);
    // A journal file rotates once its table of field names is three quarters full (333 places).
    for (int field = 0; entry.FillsTheFile && field < 300; ++field)
      AddExportField(text, "ORNAVEL_FILL_" + std::to_string(field), "x");
    text += "\n";
  }
  return text;
}

// Whether the library can read the file as a journal: journal-remote makes it before it writes
// its header.
inline bool IsReadableJournal(const std::string& path) {
  sd_journal* journal = nullptr;
  const char* paths[] = {path.c_str(), nullptr};
  if (sd_journal_open_files(&journal, paths, 0) < 0)
    return false;
  sd_journal_close(journal);
  return true;
}

// Runs a program with the given standard input (none: /dev/null) and descriptors handed over as
// the given numbers, its output discarded.
inline pid_t Spawn(const std::vector<std::string>& arguments, int input,
                   const std::vector<std::pair<int, int>>& handedOver = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input >= 0)
    posix_spawn_file_actions_adddup2(&actions, input, 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  for (const auto& [descriptor, number] : handedOver)
    posix_spawn_file_actions_adddup2(&actions, descriptor, number);
  std::vector<char*> pointers;
  for (const std::string& argument : arguments)
    pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  pid_t pid = -1;
  const int failed =
      posix_spawn(&pid, arguments[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0)
    throw std::runtime_error("cannot run " + arguments[0]);
  return pid;
}

// Waits for the program to end; answers its exit status, or 128 + the signal that ended it.
inline int WaitForExit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The journal file of a scope in a folder, as journald names them.
inline std::string JournalFile(const std::string& folder, TJournalScope scope) {
  return folder + (scope == TJournalScope::System
                       ? std::string("/system.journal")
                       : "/user-" + std::to_string(::getuid()) + ".journal");
}

// Writes entries into one journal file through systemd-journal-remote, from export format on its
// standard input, as a journald would write them.
class TJournalWriter {
public:
  // Makes the scope's journal file in the folder and returns once readers can open it.
  TJournalWriter(const std::string& folder, TJournalScope scope)
      : TJournalWriter(JournalFile(folder, scope)) {}
  // The same with a file of the given path, whose name must end in .journal.
  explicit TJournalWriter(const std::string& path) {
    std::signal(SIGPIPE, SIG_IGN); // a writer that died is seen in its exit status
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
      throw std::runtime_error("no pipe");
    const TFileDescriptor input(ends[0]);
    FInput = TFileDescriptor(ends[1]);
    FPid = Spawn({JournalRemote, "--output=" + path, "-"}, input.Get());
    const auto giveUp = std::chrono::steady_clock::now() + Patience;
    while (!IsReadableJournal(path)) {
      if (std::chrono::steady_clock::now() > giveUp)
        throw std::runtime_error("no journal file made at " + path);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~TJournalWriter() { Close(); }
  TJournalWriter(const TJournalWriter&) = delete;
  TJournalWriter& operator=(const TJournalWriter&) = delete;

  void Write(const std::vector<TJournalEntry>& entries) {
    test::Write(FInput, Export(entries, FBoot));
  }
  void WriteOne(const TJournalEntry& entry) { Write(std::vector<TJournalEntry>{entry}); }

  // Ends the input and waits until the writer has closed its file; answers its exit status.
  int Close() {
    if (FPid < 0)
      return FStatus;
    FInput.Reset();
    FStatus = WaitForExit(std::exchange(FPid, -1));
    return FStatus;
  }

private:
  TFileDescriptor FInput;
  pid_t FPid = -1;
  int FStatus = 0;
  const std::string FBoot = NewBootId();
};

// systemd-journal-remote collecting from other machines into a folder, one file per sending host
// (--split-mode=host) under its own names: remote-HOST.journal, HOST being the name or address
// of the connection's other end. It takes connections on a loopback socket handed over as socket
// activation does.
class TJournalCollector {
public:
  explicit TJournalCollector(const std::string& folder) {
    std::signal(SIGPIPE, SIG_IGN);
    // Never descriptor 3 itself, which it is handed over as.
    TFileDescriptor made(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    FListener = TFileDescriptor(::fcntl(made.Get(), F_DUPFD_CLOEXEC, 10));
    sockaddr_in address = Loopback("127.0.0.1");
    socklen_t length = sizeof address;
    if (::bind(FListener.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(FListener.Get(), 16) != 0 ||
        ::getsockname(FListener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no listening socket");
    FPort = address.sin_port;
    // The shell's process ID is the collector's, which checks that it was meant for it.
    FPid = Spawn({"/bin/sh", "-c", "LISTEN_PID=$$ LISTEN_FDS=1 exec \"$0\" \"$@\"", JournalRemote,
                  "--split-mode=host", "--output=" + folder + "/"},
                 -1, {{FListener.Get(), 3}});
  }
  ~TJournalCollector() {
    ::kill(FPid, SIGTERM);
    WaitForExit(FPid);
  }
  TJournalCollector(const TJournalCollector&) = delete;
  TJournalCollector& operator=(const TJournalCollector&) = delete;

  // A host that sends from one of the loopback addresses (127.0.0.0/8).
  class TSender {
  public:
    TSender(const TJournalCollector& collector, const char* from)
        : FSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
      sockaddr_in address = Loopback(from);
      sockaddr_in to = Loopback("127.0.0.1");
      to.sin_port = collector.FPort;
      if (::bind(FSocket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          ::connect(FSocket.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        throw std::runtime_error(std::string("cannot connect from ") + from);
    }
    void Write(const std::vector<TJournalEntry>& entries) {
      test::Write(FSocket, Export(entries, FBoot));
    }
    void WriteOne(const TJournalEntry& entry) { Write(std::vector<TJournalEntry>{entry}); }

  private:
    TFileDescriptor FSocket;
    const std::string FBoot = NewBootId();
  };

private:
  static sockaddr_in Loopback(const char* address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address, &result.sin_addr) != 1)
      throw std::runtime_error(std::string("not an address: ") + address);
    return result;
  }

  TFileDescriptor FListener;
  in_port_t FPort = 0;
  pid_t FPid = -1;
};

inline std::size_t CountEntries(const std::string& folder, TJournalScope scope) {
  TJournal journal(scope, folder);
  journal.SeekRealtime(0);
  std::size_t count = 0;
  while (journal.Next())
    ++count;
  return count;
}

// Waits until the folder's journal of the scope holds count entries; answers whether it did.
inline bool WaitForEntries(const std::string& folder, TJournalScope scope, std::size_t count) {
  const auto giveUp = std::chrono::steady_clock::now() + Patience;
  while (CountEntries(folder, scope) < count) {
    if (std::chrono::steady_clock::now() > giveUp)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

} // namespace ornavel::test
