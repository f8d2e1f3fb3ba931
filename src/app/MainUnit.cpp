#include "ConsoleUnit.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string_view>

namespace {

constexpr std::string_view Usage = R"(Usage: ornavel [--console | --help | --version]

Ornavel follows text files, syslog over UDP, the system journal and local programs'
debug output, filters every line through your rules, and shows the kept lines.

  --console   run without a window; every kept line is printed to standard output
  --help      show this text
  --version   show the version
)";

} // namespace

int main(int argc, char** argv) {
  const std::string_view option = argc > 1 ? argv[1] : "";
  if (argc > 2 ||
      (!option.empty() && option != "--console" && option != "--help" && option != "--version")) {
    std::cerr << Usage;
    return 2;
  }
  if (option == "--help") {
    std::cout << Usage;
    return 0;
  }
  if (option == "--version") {
    std::cout << "Ornavel " ORNAVEL_VERSION "\n";
    return 0;
  }
  if (option.empty())
    std::cerr << "Ornavel has no window yet; running in console mode (stop with Ctrl+C).\n";
  try {
    return ornavel::RunConsole();
  } catch (const std::exception& failure) {
    std::cerr << "Ornavel: " << failure.what() << "\n";
    return 1;
  }
}
