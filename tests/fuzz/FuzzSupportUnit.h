#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace ornavel::fuzz {

// A fresh folder, in memory where the machine has /dev/shm: the targets write files every run.
inline std::string MakeFolder(const char* name) {
  const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                         ? "/dev/shm"
                                         : std::filesystem::temp_directory_path();
  std::string folder = (base / (std::string(name) + "-XXXXXX")).string();
  if (mkdtemp(folder.data()) == nullptr)
    std::abort();
  // libFuzzer ends by exit(), past every destructor of the harness: remove the folders then.
  static std::vector<std::string> made;
  if (made.empty())
    std::atexit([] {
      for (const std::string& each : made)
        std::filesystem::remove_all(each);
    });
  made.push_back(folder);
  return folder;
}

} // namespace ornavel::fuzz
