#include "ChildProcessUnit.h"

#include "core/FileDescriptorUnit.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace ornavel::test {
namespace {

std::pair<TFileDescriptor, TFileDescriptor> MakePipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  return {TFileDescriptor(ends[0]), TFileDescriptor(ends[1])};
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& added) {
  std::map<std::string, std::string> entries;
  auto put = [&](const std::string& entry) { entries[entry.substr(0, entry.find('='))] = entry; };
  for (char** entry = environ; *entry != nullptr; ++entry)
    put(*entry);
  for (const std::string& entry : added)
    put(entry);
  std::vector<std::string> merged;
  for (const auto& [name, entry] : entries)
    merged.push_back(entry);
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

} // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& arguments,
                             const std::vector<std::string>& environment, bool withInput,
                             bool readOutput) {
  auto [outputRead, outputWrite] = MakePipe();
  auto [errorsRead, errorsWrite] = MakePipe();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  TFileDescriptor inputRead;
  if (withInput) {
    std::tie(inputRead, FInput) = MakePipe();
    posix_spawn_file_actions_adddup2(&actions, inputRead.Get(), STDIN_FILENO);
  }
  posix_spawn_file_actions_adddup2(&actions, outputWrite.Get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errorsWrite.Get(), STDERR_FILENO);
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = MergedEnvironment(environment);
  const int failed = posix_spawn(&FPid, argumentTexts.front().c_str(), &actions, nullptr,
                                 Pointers(argumentTexts).data(), Pointers(environmentTexts).data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0)
    throw std::runtime_error("cannot start " + arguments.front() + ": " + std::strerror(failed));
  FUnreadOutput = std::move(outputRead);
  if (readOutput)
    ReadOutput();
  FReaders.emplace_back(
      [this, descriptor = errorsRead.Release()] { Collect(descriptor, FErrors); });
}

TChildProcess::~TChildProcess() {
  Wait(std::chrono::milliseconds(0));
  for (std::thread& reader : FReaders)
    reader.join();
}

void TChildProcess::ReadOutput() {
  FReaders.emplace_back(
      [this, descriptor = FUnreadOutput.Release()] { Collect(descriptor, FOutput); });
}

std::size_t TChildProcess::UnreadOutputBytes() const {
  int bytes = 0;
  return FUnreadOutput.Valid() && ::ioctl(FUnreadOutput.Get(), FIONREAD, &bytes) == 0
             ? static_cast<std::size_t>(bytes)
             : 0;
}

void TChildProcess::Collect(int descriptor, std::string& into) {
  TFileDescriptor owned(descriptor);
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(owned.Get(), buffer, sizeof buffer);
    if (count <= 0)
      break;
    std::lock_guard lock(FLock);
    into.append(buffer, static_cast<std::size_t>(count));
    FChanged.notify_all();
  }
}

std::string TChildProcess::Output() const {
  std::lock_guard lock(FLock);
  return FOutput;
}

std::string TChildProcess::Errors() const {
  std::lock_guard lock(FLock);
  return FErrors;
}

std::vector<std::string> TChildProcess::OutputLines() const {
  std::vector<std::string> lines;
  const std::string output = Output();
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(output.substr(start, end - start));
  return lines;
}

bool TChildProcess::WaitForOutput(
    const std::function<bool(const std::string&, const std::string&)>& done,
    std::chrono::milliseconds timeout) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, timeout, [&] { return done(FOutput, FErrors); });
}

void TChildProcess::Input(std::string_view text) const {
  if (::write(FInput.Get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    throw std::runtime_error("cannot write to the program's input");
}

void TChildProcess::Signal(int signal) const {
  if (FExitStatus < 0)
    ::kill(FPid, signal);
}

bool TChildProcess::Running() {
  int status = 0;
  if (FExitStatus < 0 && waitpid(FPid, &status, WNOHANG) == FPid)
    FExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return FExitStatus < 0;
}

int TChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (FExitStatus >= 0)
    return FExitStatus;
  const auto giveUp = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(FPid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= giveUp) {
      ::kill(FPid, SIGKILL);
      waitpid(FPid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  FExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return FExitStatus;
}

} // namespace ornavel::test
