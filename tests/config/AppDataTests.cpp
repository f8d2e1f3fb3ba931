#include "TestSupport.h"
#include "config/AppDataUnit.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// Restores the environment variables a test changes.
class AppDataFolder : public testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
      const char* value = std::getenv(name);
      Saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : Saved) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
  test::TTemporaryFolder Folder;
};

TEST_F(AppDataFolder, ComesFromXdgConfigHomeAndIsMadeOwnerOnly) {
  const std::string base = Folder.File("config/deeper");
  setenv("XDG_CONFIG_HOME", base.c_str(), 1);
  EXPECT_EQ(GetAppDataFolder(), base + "/Ornavel");
  struct stat status {};
  ASSERT_EQ(::stat((base + "/Ornavel").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  EXPECT_EQ(GetAppDataFolder(), base + "/Ornavel"); // there already: fine
}

TEST_F(AppDataFolder, FallsBackToHomeWhenXdgConfigHomeIsEmptyOrUnset) {
  setenv("HOME", Folder.Path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(GetAppDataFolder(), Folder.File(".config/Ornavel"));
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(GetAppDataFolder(), Folder.File(".config/Ornavel"));
  unsetenv("HOME");
  EXPECT_THROW(GetAppDataFolder(), std::runtime_error);
}

TEST_F(AppDataFolder, FolderThatCannotBeMadeIsAnError) {
  test::WriteFile(Folder.File("file"), "not a folder");
  setenv("XDG_CONFIG_HOME", Folder.File("file").c_str(), 1);
  EXPECT_THROW(GetAppDataFolder(), std::system_error);
}

TEST(IncludePath, AddsOneSeparator) {
  EXPECT_EQ(IncludePath("/a", "b"), "/a/b");
  EXPECT_EQ(IncludePath("/a/", "b"), "/a/b");
}

} // namespace
} // namespace ornavel
