#include "ConsoleUnit.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "sources/SourcesUnit.h"
#ifdef ORNAVEL_GUI
#include "WindowUnit.h"
#endif

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

// "text files and syslog over UDP": what this build can follow, and nothing it cannot.
std::string FollowedSources() {
  const ornavel::TMonitorTypes available =
      ornavel::MakeSourceFactory(ornavel::GetLog(), ornavel::GetConfig()).AvailableTypes();
  std::vector<std::string_view> followed;
  for (const ornavel::TSourceKind& kind : ornavel::SourceKinds) {
    if (available.Contains(kind.Type))
      followed.push_back(kind.Description);
  }
  std::string text;
  for (std::size_t i = 0; i < followed.size(); ++i) {
    if (i > 0)
      text += i + 1 == followed.size() ? " and " : ", ";
    text += followed[i];
  }
  return text;
}

std::string Usage() {
  return "Usage: ornavel [--console [--source] | -platform NAME] [-n LINES] [FILE...]\n"
         "       ornavel --help | --version\n\n"
         "Ornavel follows " +
         FollowedSources() +
         ",\nfilters every line through your rules, and shows the kept lines.\n\n"
         "  FILE        also follow this file, for this run only (besides the settings' files);\n"
         "              a pattern such as '/var/log/nginx/*.log' follows every file it matches\n"
         "  -n LINES    show the last LINES lines of each file and journal at the start\n"
         "  --console   run without a window; every kept line is printed to standard output\n"
         "  --source    in the console, print where each line came from between its time and\n"
         "              its text (a file, a syslog host, a journal identifier, a process)\n"
         "  -platform NAME\n"
         "              show the window on Qt's platform NAME (xcb: X11 or XWayland; wayland)\n"
         "  --help      show this text\n"
         "  --version   show the version\n";
}

std::optional<std::size_t> LineCount(std::string_view text) {
  std::size_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return count;
}

struct TCommandLine {
  std::string_view Option; // --console, --help, --version or nothing
  std::vector<std::string> Files;
  std::string Platform;                   // -platform NAME, as Qt's own programs take it
  std::optional<std::size_t> RecentLines; // -n LINES, as tail takes it
  bool WithSource = false;
  bool Valid = true;
};

// Files are taken as absolute paths, so that one listed in the settings is followed once.
TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine line;
  bool optionsEnded = false;
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == "-platform" || argument == "--platform")) {
      line.Valid = line.Valid && index + 1 < argc && *argv[index + 1] != '\0';
      if (index + 1 < argc)
        line.Platform = argv[++index];
    } else if (!optionsEnded && argument == "-n") {
      line.RecentLines = index + 1 < argc ? LineCount(argv[++index]) : std::nullopt;
      line.Valid = line.Valid && line.RecentLines;
    } else if (!optionsEnded && argument == "--source") {
      line.WithSource = true;
    } else if (!optionsEnded && argument.starts_with('-') && argument != "-") {
      const bool known = argument == "--console" || argument == "--help" || argument == "--version";
      line.Valid = line.Valid && known && line.Option.empty();
      line.Option = argument;
    } else if (argument.empty()) {
      line.Valid = false;
    } else {
      line.Files.push_back(std::filesystem::absolute(argument).lexically_normal().string());
    }
  }
  const bool alone = line.Option == "--help" || line.Option == "--version";
  line.Valid = line.Valid && !(alone && !line.Files.empty()) &&
               !(line.Option == "--console" && !line.Platform.empty());
  return line;
}

// The window where there is a display to show it on, the console otherwise.
int RunDefault([[maybe_unused]] char** argv, const TCommandLine& line) {
  const std::vector<std::string>& files = line.Files;
#ifdef ORNAVEL_GUI
  ornavel::TSessionDisplays session = ornavel::SessionDisplays();
  if (!line.Platform.empty())
    session.UserPlatform = line.Platform;
  const ornavel::TWindowPlatform platform =
      ornavel::ChooseWindowPlatform(session, ornavel::InstalledDisplayProbe(session));
  if (platform.Problem.empty())
    return ornavel::RunWindow(argv[0], platform.Platform, files);
  std::cerr << platform.Problem << ": running in console mode (stop with Ctrl+C).\n";
#else
  if (!line.Platform.empty())
    throw std::runtime_error("-platform " + line.Platform + ": this build has no window");
  std::cerr << "This build has no window: running in console mode (stop with Ctrl+C).\n";
#endif
  return ornavel::RunConsole(files, line.WithSource);
}

} // namespace

int main(int argc, char** argv) {
  const TCommandLine line = ParseCommandLine(argc, argv);
  const std::string_view option = line.Option;
  if (!line.Valid) {
    std::cerr << Usage();
    return 2;
  }
  if (option == "--help") {
    std::cout << Usage();
    return 0;
  }
  if (option == "--version") {
    std::cout << "Ornavel " ORNAVEL_VERSION "\n";
    return 0;
  }
  if (line.RecentLines)
    ornavel::TMainConfig::SetInitialLinesForThisRun(*line.RecentLines);
  try {
    return option.empty() ? RunDefault(argv, line)
                          : ornavel::RunConsole(line.Files, line.WithSource);
  } catch (const std::exception& failure) {
    std::cerr << "Ornavel: " << failure.what() << "\n";
    return 1;
  }
}
