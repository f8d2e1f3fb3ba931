#pragma once

#include "TestSupport.h"
#include "core/FileDescriptorUnit.h"
#include "sources/JournalUnit.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
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
};

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
  TJournalWriter(const std::string& folder, TJournalScope scope) {
    std::signal(SIGPIPE, SIG_IGN); // a writer that died is seen in its exit status
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
      throw std::runtime_error("no pipe");
    TFileDescriptor input(ends[0]);
    FInput = TFileDescriptor(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.Get(), 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string output = "--output=" + JournalFile(folder, scope);
    const char* arguments[] = {JournalRemote, output.c_str(), "-", nullptr};
    const int failed = posix_spawn(&FPid, JournalRemote, &actions, nullptr,
                                   const_cast<char* const*>(arguments), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
      throw std::runtime_error(std::string("cannot run ") + JournalRemote);
    const auto giveUp = std::chrono::steady_clock::now() + Patience;
    while (!TJournal(scope, folder).HasFiles()) {
      if (std::chrono::steady_clock::now() > giveUp)
        throw std::runtime_error("no journal file made in " + folder);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~TJournalWriter() { Close(); }
  TJournalWriter(const TJournalWriter&) = delete;
  TJournalWriter& operator=(const TJournalWriter&) = delete;

  void Write(const std::vector<TJournalEntry>& entries) {
    std::string text;
    for (const TJournalEntry& entry : entries)
      text += Export(entry);
    test::Write(FInput, text);
  }
  void WriteOne(const TJournalEntry& entry) { Write(std::vector<TJournalEntry>{entry}); }

  // Ends the input and waits until the writer has closed its file; answers its exit status.
  int Close() {
    if (FPid < 0)
      return FStatus;
    FInput.Reset();
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return FStatus;
  }

private:
  // Every field binary: a name, a line feed, the length as 64 bits little-endian, the bytes.
  static void AddField(std::string& text, std::string_view name, std::string_view value) {
    text.append(name).push_back('\n');
    std::uint64_t length = value.size();
    for (int i = 0; i < 8; ++i, length >>= 8)
      text.push_back(static_cast<char>(length & 0xFF));
    text.append(value).push_back('\n');
  }

  // Stamps strictly increasing, so that readers order the entries as they were written.
  std::string Export(const TJournalEntry& entry) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::uint64_t realtime = static_cast<std::uint64_t>(now.tv_sec) * 1000000U +
                                   static_cast<std::uint64_t>(now.tv_nsec) / 1000U;
    FRealtime = std::max(realtime, FRealtime + 1);
    std::string text = "__REALTIME_TIMESTAMP=" + std::to_string(FRealtime) + "\n";
    if (entry.Identifier)
      AddField(text, "SYSLOG_IDENTIFIER", *entry.Identifier);
    if (entry.Command)
      AddField(text, "_COMM", *entry.Command);
    AddField(text, "MESSAGE", entry.Message);
    return text + "\n";
  }

  TFileDescriptor FInput;
  pid_t FPid = -1;
  int FStatus = 0;
  inline static std::uint64_t FRealtime = 0; // shared: entries of two files order among each other
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
