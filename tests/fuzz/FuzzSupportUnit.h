#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace ornavel::fuzz {

// A fresh folder, in memory where the machine has /dev/shm: the targets write files every run.
inline std::string MakeFolder(const char* name) {
  const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                         ? "/dev/shm"
                                         : std::filesystem::temp_directory_path();
  std::string folder = (base / (std::string(name) + "-XXXXXX")).string();
  if (mkdtemp(folder.data()) == nullptr)
    std::abort();
  return folder;
}

} // namespace ornavel::fuzz
