#include "ConfigFolderUnit.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ornavel::test::TOwnConfigFolder configFolder;
  return RUN_ALL_TESTS();
}
