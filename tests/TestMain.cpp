#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

// Every test process gets a configuration folder of its own, so no test reads or writes the
// user's settings and rules, and tests running side by side do not meet.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string folder = (std::filesystem::temp_directory_path() / "ornavel-test-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr)
    return 2;
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return result;
}
