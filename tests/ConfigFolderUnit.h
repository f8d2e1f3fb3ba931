#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace ornavel::test {

// Every test process gets a configuration folder of its own, so no test reads or writes the
// user's settings, rules or window placement, and tests running side by side do not meet.
class TOwnConfigFolder {
public:
  TOwnConfigFolder() {
    FFolder = (std::filesystem::temp_directory_path() / "ornavel-test-XXXXXX").string();
    if (mkdtemp(FFolder.data()) == nullptr)
      throw std::runtime_error("cannot make a configuration folder");
    setenv("XDG_CONFIG_HOME", FFolder.c_str(), 1);
  }
  ~TOwnConfigFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  TOwnConfigFolder(const TOwnConfigFolder&) = delete;
  TOwnConfigFolder& operator=(const TOwnConfigFolder&) = delete;

private:
  std::string FFolder;
};

} // namespace ornavel::test
