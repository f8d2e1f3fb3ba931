#pragma once

#include "core/FileDescriptorUnit.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace ornavel::test {

// A program run by a test, with its standard output and error collected as they come.
class TChildProcess {
public:
  // environment: NAME=value entries added to (or replacing those of) this process's own. With
  // input, the program's standard input is a pipe that Input writes to; otherwise it is ours.
  // With readOutput false, standard output is a pipe nobody reads until ReadOutput.
  TChildProcess(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment, bool withInput = false,
                bool readOutput = true);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  int Pid() const { return FPid; }
  std::string Output() const;
  std::string Errors() const;
  // The lines of standard output so far, without their line ends.
  std::vector<std::string> OutputLines() const;
  // Waits until done(output, errors) holds, or the timeout; answers done's last answer.
  bool WaitForOutput(const std::function<bool(const std::string&, const std::string&)>& done,
                     std::chrono::milliseconds timeout);

  // Whether the program has not ended yet.
  bool Running();
  void Input(std::string_view text) const;
  // The program reads the end of its input.
  void CloseInput() { FInput.Reset(); }
  void ReadOutput();
  // The bytes waiting in the unread pipe.
  std::size_t UnreadOutputBytes() const;

  void Signal(int signal) const;
  // Waits for the program to end (killing it after timeout) and answers its exit status, or
  // 128 + the signal that ended it.
  int Wait(std::chrono::milliseconds timeout);

private:
  void Collect(int descriptor, std::string& into);

  TFileDescriptor FInput;
  int FPid = -1;
  TFileDescriptor FUnreadOutput; // until ReadOutput
  int FExitStatus = -1;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::string FOutput;
  std::string FErrors;
  std::vector<std::thread> FReaders;
};

} // namespace ornavel::test
