#include "TestSupport.h"
#include "core/LogUnit.h"
#include "sources/FilePatternUnit.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// The lines the sources posted, the program's own rows left out.
Lines Posted() {
  Lines lines;
  for (std::size_t i = 0; i < test::SourceLog().Count(); ++i) {
    const TLogItem item = test::SourceLog().GetItem(i);
    if (item.Source != nullptr)
      lines.push_back(item.Text);
  }
  return lines;
}

// Below the monitors' 10 s safety net: a change they were not told of fails the test.
constexpr auto CatchUpPatience = 5s;

bool Eventually(const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + CatchUpPatience;
  while (!done() && std::chrono::steady_clock::now() < giveUp)
    std::this_thread::sleep_for(1ms);
  return done();
}

// A random life of a folder tree under the pattern ROOT/*/app*.log: folders and files are made,
// written, rotated out of the pattern's reach (app.log to app.log.1) and made again, deleted
// alone or with their folder, beside files that do not match. Every line written to a matching file
// once it is followed (those there at the start from their end, the others from their start)
// must come exactly once, and no other. Data destroyed before it could be read cannot be owed: the
// model waits for the lines owed so far before it rotates or deletes.
class FilePatternModel {
public:
  explicit FilePatternModel(unsigned seed) : FRandom(seed) {
    test::SourceLog().Clear();
    Append("a", "app.log", false); // there at the start: not owed
    Append("a", "notes.txt", false);
    FThread = TThread::Create<TFilePatternThread>(true, test::SourceLog());
    FThread->SetPattern(FRoot.Path() + "/*/app*.log");
    FThread->Resume();
  }

  void Run(int steps) {
    for (int step = 0; step < steps; ++step) {
      const std::string folder = Pick(FolderNames), file = Pick(FileNames);
      const std::string path = FRoot.File(folder + "/" + file);
      switch (FRandom() % 20) {
      case 0:
      case 1:
      case 5:
        CatchUp();
        if (std::filesystem::exists(path))
          std::filesystem::rename(path, path + ".1");
        break;
      case 2:
      case 3:
      case 6:
        CatchUp();
        std::filesystem::remove(path);
        break;
      case 4:
        CatchUp();
        std::filesystem::remove_all(FRoot.File(folder));
        break;
      default:
        Append(folder, file, file != "notes.txt");
      }
    }
  }

  void Check() {
    CatchUp();
    std::this_thread::sleep_for(100ms); // time to post what must not come
    Lines posted = Posted(), owed = FOwed;
    std::ranges::sort(posted);
    std::ranges::sort(owed);
    EXPECT_EQ(posted, owed);
  }

private:
  static constexpr std::array<const char*, 3> FolderNames{"a", "b", "c"};
  static constexpr std::array<const char*, 3> FileNames{"app.log", "app-2.log", "notes.txt"};

  std::string Pick(const std::array<const char*, 3>& names) { return names[FRandom() % 3]; }

  void Append(const std::string& folder, const std::string& file, bool owed) {
    std::filesystem::create_directories(FRoot.File(folder));
    const std::string line = "line " + std::to_string(FWritten++) + " of " + folder + "/" + file;
    test::Append(FRoot.File(folder + "/" + file), line + "\n");
    if (owed)
      FOwed.push_back(line);
  }

  void CatchUp() {
    ASSERT_TRUE(Eventually([&] { return Posted().size() >= FOwed.size(); }))
        << Posted().size() << " of " << FOwed.size() << " lines";
  }

  std::mt19937 FRandom;
  test::TTemporaryFolder FRoot;
  std::shared_ptr<TFilePatternThread> FThread;
  Lines FOwed;
  int FWritten = 0;
};

TEST(FilePattern, EveryLineOfEveryMatchingFileComesOnce) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(seed);
    FilePatternModel model(seed);
    model.Run(200);
    model.Check();
  }
}

// A name that is a file as it stands is that file, pattern characters and all; the others are
// patterns.
TEST(FilePattern, ANameOfAnExistingFileIsNoPattern) {
  test::TTemporaryFolder folder;
  const std::string literal = folder.File("odd[1].log");
  test::WriteFile(literal, "");
  EXPECT_FALSE(TFilePatternThread::IsPattern(literal));
  EXPECT_TRUE(TFilePatternThread::IsPattern(folder.File("odd[2].log")));
  EXPECT_TRUE(TFilePatternThread::IsPattern(folder.File("*.log")));
  EXPECT_FALSE(TFilePatternThread::IsPattern(folder.File("plain.log")));
}

} // namespace
} // namespace ornavel
