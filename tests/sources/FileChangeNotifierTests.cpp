#include "TestSupport.h"
#include "sources/FileChangeNotifierUnit.h"

#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

int InotifyInstances() {
  int count = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    if (std::filesystem::read_symlink(entry.path(), ignored).string() == "anon_inode:inotify")
      ++count;
  }
  return count;
}

bool Signalled(const TWakeEvent& wake, int timeoutMs) {
  pollfd wait{wake.Descriptor(), POLLIN, 0};
  return ::poll(&wait, 1, timeoutMs) == 1;
}

// The system grants a user few inotify instances, so every monitor of the process shares one,
// which lives only while someone watches.
TEST(FileChangeNotifier, OneInstanceServesTheWholeProcessWhileItIsHeld) {
  test::TTemporaryFolder folder;
  const int before = InotifyInstances();
  {
    TWakeEvent first, second;
    TFileWatch folderWatch = TFileChangeNotifier::Shared()->Watch(folder.Path(), IN_CREATE, first);
    TFileWatch again = TFileChangeNotifier::Shared()->Watch(folder.Path(), IN_CREATE, second);
    ASSERT_TRUE(folderWatch.Valid());
    ASSERT_TRUE(again.Valid());
    EXPECT_EQ(InotifyInstances(), before + 1);
    test::WriteFile(folder.File("new.log"), "");
    EXPECT_TRUE(Signalled(first, 20000));
    EXPECT_TRUE(Signalled(second, 20000));
  }
  EXPECT_EQ(InotifyInstances(), before);
}

// Two monitors following the same file share the system's watch: one letting go must leave the
// other watching, and must never be woken again itself.
TEST(FileChangeNotifier, WatchOfAFileSharedByTwoOutlivesEitherWatcher) {
  test::TTemporaryFolder folder;
  const std::string file = folder.File("shared.log");
  test::WriteFile(file, "");
  auto notifier = TFileChangeNotifier::Shared();
  TWakeEvent leaving, staying;
  TFileWatch leavingWatch = notifier->Watch(file, IN_MODIFY, leaving);
  TFileWatch stayingWatch = notifier->Watch(file, IN_MODIFY, staying);
  leavingWatch.Reset();
  test::WriteFile(file, "changed\n");
  EXPECT_TRUE(Signalled(staying, 20000));
  EXPECT_FALSE(Signalled(leaving, 0)); // both would have been woken by the same event
  EXPECT_FALSE(notifier->Watch(folder.File("missing.log"), IN_MODIFY, leaving).Valid());
}

} // namespace
} // namespace ornavel
