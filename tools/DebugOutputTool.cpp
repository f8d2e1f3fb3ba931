// ornavel-debug [--pid N] [MESSAGE...]: sends each message, or each line of standard input, to a
// running Ornavel as debug output.

#include "writer/DebugProtocolUnit.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view Usage =
    "Usage: ornavel-debug [--pid N] [MESSAGE...]\n\n"
    "Sends each MESSAGE to a running Ornavel as debug output; with no MESSAGE, sends each line\n"
    "of standard input (make 2>&1 | ornavel-debug). The process id shown with each message is\n"
    "the caller's, or N.\n\n"
    "Exit status: 0 when every message was delivered, 1 when some were not, 2 for bad usage.\n";

struct TOptions {
  std::uint32_t Pid = static_cast<std::uint32_t>(::getppid());
  std::vector<std::string> Messages;
  bool FromInput = true;
  bool Help = false;
};

std::optional<std::uint32_t> ParsePid(std::string_view text) {
  std::uint32_t pid = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
  // No process has id 0, and the reader takes a buffer without one for no message at all.
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || pid == 0)
    return std::nullopt;
  return pid;
}

// No options when the usage is bad.
std::optional<TOptions> ParseArguments(int argc, char** argv) {
  TOptions options;
  int index = 1;
  for (; index < argc; ++index) {
    const std::string_view argument = argv[index];
    std::optional<std::string_view> pidText;
    if (argument == "--") {
      ++index;
      break;
    } else if (argument == "--help" || argument == "-h") {
      options.Help = true;
    } else if (argument == "--pid") {
      if (++index == argc)
        return std::nullopt;
      pidText = argv[index];
    } else if (argument.starts_with("--pid=")) {
      pidText = argument.substr(6);
    } else if (argument.starts_with("-") && argument != "-") {
      return std::nullopt;
    } else {
      break;
    }
    if (pidText) {
      const auto pid = ParsePid(*pidText);
      if (!pid)
        return std::nullopt;
      options.Pid = *pid;
    }
  }
  options.FromInput = index == argc;
  options.Messages.assign(argv + index, argv + argc);
  return options;
}

std::string Reason(int error) {
  switch (error) {
  case ENOENT:
    return "no Ornavel is reading debug output";
  case ETIMEDOUT:
    return "the reader did not take it within 2 seconds";
  case EACCES:
    return "the debug-output objects belong to another user";
  default:
    return std::strerror(error);
  }
}

// Sends messages and tells each reason for a failure once.
class TSender {
public:
  TSender(std::uint32_t pid, std::string suffix) : FPid(pid), FSuffix(std::move(suffix)) {}

  void Send(const std::string& message) {
    ++FSent;
    const int result = ornavel_debug_send(FSuffix.c_str(), FPid, message.c_str());
    if (result == 0)
      return;
    ++FFailed;
    if (FReported.insert(-result).second)
      std::cerr << "ornavel-debug: message not delivered: " << Reason(-result) << "\n";
  }

  int Finish() const {
    if (FFailed == 0)
      return 0;
    std::cerr << "ornavel-debug: " << FFailed << " of " << FSent << " messages not delivered\n";
    return 1;
  }

private:
  const std::uint32_t FPid;
  const std::string FSuffix;
  std::set<int> FReported;
  unsigned long FSent = 0;
  unsigned long FFailed = 0;
};

} // namespace

int main(int argc, char** argv) {
  const std::optional<TOptions> options = ParseArguments(argc, argv);
  if (!options || options->Help) {
    (options ? std::cout : std::cerr) << Usage;
    return options ? 0 : 2;
  }
  // Tests give the objects a suffix of their own, so that they never meet a real reader.
  const char* suffix = std::getenv("ORNAVEL_DEBUG_SUFFIX");
  TSender sender(options->Pid, suffix != nullptr ? suffix : "");
  if (options->FromInput) {
    for (std::string line; std::getline(std::cin, line);)
      sender.Send(line);
  } else {
    for (const std::string& message : options->Messages)
      sender.Send(message);
  }
  return sender.Finish();
}
