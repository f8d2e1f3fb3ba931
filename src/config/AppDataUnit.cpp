#include "AppDataUnit.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace ornavel {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Makes every missing level of the path; new folders are the owner's only.
void MakeFolders(const std::filesystem::path& folder) {
  if (folder.empty() || std::filesystem::is_directory(folder))
    return;
  MakeFolders(folder.parent_path());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::system_error(errno, std::generic_category(),
                            "Cannot create the folder " + folder.string());
}

} // namespace

std::string GetAppDataFolder() {
  std::string base = Environment("XDG_CONFIG_HOME");
  if (base.empty()) {
    const std::string home = Environment("HOME");
    if (home.empty())
      throw std::runtime_error("Cannot find the configuration folder: HOME is not set");
    base = IncludePath(home, ".config");
  }
  const std::string folder = IncludePath(base, "Ornavel");
  MakeFolders(folder);
  return folder;
}

std::string IncludePath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/')
    return folder + name;
  return folder + "/" + name;
}

} // namespace ornavel
