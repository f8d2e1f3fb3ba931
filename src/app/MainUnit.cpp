#include "ConsoleUnit.h"
#include "sources/SourcesUnit.h"
#ifdef ORNAVEL_GUI
#include "WindowUnit.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// "text files and syslog over UDP": what this build can follow, and nothing it cannot.
std::string FollowedSources() {
  const ornavel::TMonitorTypes available = ornavel::MakeSourceFactory().AvailableTypes();
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
  return "Usage: ornavel [--console | --help | --version]\n\n"
         "Ornavel follows " +
         FollowedSources() +
         ",\nfilters every line through your rules, and shows the kept lines.\n\n"
         "  --console   run without a window; every kept line is printed to standard output\n"
         "  --help      show this text\n"
         "  --version   show the version\n";
}

#ifdef ORNAVEL_GUI
bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      return true;
  }
  return false;
}
#endif

// The window where there is a display to show it on, the console otherwise.
int RunDefault([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef ORNAVEL_GUI
  if (HasDisplay())
    return ornavel::RunWindow(argc, argv);
  std::cerr << "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running in console mode "
               "(stop with Ctrl+C).\n";
#else
  std::cerr << "This build has no window: running in console mode (stop with Ctrl+C).\n";
#endif
  return ornavel::RunConsole();
}

} // namespace

int main(int argc, char** argv) {
  const std::string_view option = argc > 1 ? argv[1] : "";
  if (argc > 2 ||
      (!option.empty() && option != "--console" && option != "--help" && option != "--version")) {
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
  try {
    return option.empty() ? RunDefault(argc, argv) : ornavel::RunConsole();
  } catch (const std::exception& failure) {
    std::cerr << "Ornavel: " << failure.what() << "\n";
    return 1;
  }
}
