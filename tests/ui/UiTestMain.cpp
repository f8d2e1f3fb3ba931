#include "ConfigFolderUnit.h"

#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

// Widget tests draw off screen unless told otherwise, also while their names are listed.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ornavel::test::TOwnConfigFolder configFolder;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Ornavel");
  QApplication::setApplicationName("Ornavel");
  return RUN_ALL_TESTS();
}
