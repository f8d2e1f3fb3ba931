// A randomized, model-based test of the file monitor. A model writer performs a random sequence
// of steps on a followed file and keeps the lines the monitor owes; at the end every owed line
// must have been posted exactly once, each file's lines in their order, and nothing else.
//
// Steps: appends (whole lines, lines split over writes at any byte, lines longer than a read and
// than the 1 MiB piece, LF, CR LF and CR-only ends, zero runs in and between lines, space
// reserved as zeros and then filled), rotation by rename and create with late writes to the old
// file, copytruncate and truncation (behind a writer that appends, or one that goes on at its
// own offset and so leaves zeros), rewriting in place, deletion and re-creation, deletion of
// rotated files, and pauses.
//
// What is owed. Data destroyed before a monitor could read it cannot be required, so before
// every step that destroys or hides data (rotation, copytruncate, truncation, rewrite, deletion)
// the model waits until the monitor has caught up: every complete line owed so far is posted. And
// every file the model makes starts with a whole line, so that having caught up also means the
// monitor holds the file. Then:
// - a complete line is owed as its text without zero bytes (zeros are not text), trimmed, cut in
//   1 MiB pieces when longer, and not at all when blank;
// - the unfinished last line of a file that the monitor lets go (rotated away, or deleted) is
//   owed as a line of its own; at the end the model deletes the rotated files, so that none is
//   waited for until it has been idle;
// - the unfinished line of a file that is truncated or rewritten is not owed and must not come,
//   nor that of the followed file at the end.
// Every line carries a number of its own, so each posted line tells its file and place.
//
// Runs: seeds from ORNAVEL_MODEL_SEED (default 1) on, each a sequence of 300 steps, until
// ORNAVEL_MODEL_STEPS steps in all have run (default 3000) or, when ORNAVEL_MODEL_SECONDS is
// set, until that many seconds have passed. A failure reports the seed and the shortest failing
// sequence found by running it again with steps left out (for at most five minutes);
// ORNAVEL_MODEL_SEED=<seed> ORNAVEL_MODEL_STEPS=1 runs that seed alone.
#include "TestSupport.h"
#include "core/FileDescriptorUnit.h"
#include "core/LogUnit.h"
#include "sources/FileMonitorUnit.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t StepsPerSeed = 300;
// Zeros with text behind them hold the monitor about a second, so whatever leaves them (a zero
// run, space reserved and not quite filled, a writer going on at its offset after truncation) is
// rare: a few times in a short run, hundreds of times in a long one.
constexpr double ZeroChance = 0.006;
// The monitor posts longer lines in pieces of this size.
constexpr std::size_t PieceSize = 1 << 20;
// Late writes go to a rotated-away file only this long after the rotation, well within the time
// it is drained after its last change.
constexpr auto LateWriteWindow = 2s;
// Zeros are awaited about a second, so a monitor that has fallen behind may need a few.
constexpr auto ModelPatience = 10s;
constexpr auto ShrinkBudget = 5min;

enum class TStepKind {
  Append,
  Reserve,
  LateWrite,
  Pause,
  CatchUp,
  Rotate,
  CopyTruncate,
  Truncate,
  Rewrite,
  Delete,
  DeleteRotated
};

constexpr const char* StepNames[] = {"append",   "reserve", "late write",    "pause",
                                     "catch up", "rotate",  "copytruncate",  "truncate",
                                     "rewrite",  "delete",  "delete rotated"};

struct TStep {
  TStepKind Kind;
  // The step's own choices, so that leaving other steps out does not change them.
  std::uint32_t Seed;
};

std::vector<TStep> MakeSteps(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  // In the order of TStepKind.
  std::discrete_distribution<int> kind({50, 5, 10, 3, 3, 6, 3, 2, 3, 3, 2});
  std::vector<TStep> steps;
  for (std::size_t i = 0; i < StepsPerSeed; ++i)
    steps.push_back({static_cast<TStepKind>(kind(random)), static_cast<std::uint32_t>(random())});
  return steps;
}

std::string Trimmed(std::string_view line) {
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= 32)
    line.remove_prefix(1);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32)
    line.remove_suffix(1);
  return std::string(line);
}

std::string Shown(const std::string& text, std::size_t length = 60) {
  std::string shown = testing::PrintToString(text.substr(0, length));
  if (text.size() > length)
    shown += " (" + std::to_string(text.size()) + " bytes)";
  return shown;
}

class EModelFailure : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One file the monitor follows or has followed, as the model writer sees it.
struct TModelFile {
  int Number = 0;
  std::vector<std::string> Owed;
  // How many of Owed the monitor must have posted once it has caught up; the rest come when it
  // lets the file go.
  std::size_t Awaited = 0;
  std::size_t Posted = 0;
  // The unfinished line's text so far.
  std::string Pending;
};

// A program writing into a file.
struct TWriter {
  TFileDescriptor File;
  TModelFile* Model = nullptr;
};

class TModel {
public:
  TModel(const std::vector<TStep>& steps, bool notification, std::vector<std::string>* told)
      : FSteps(steps), FTold(told) {
    test::SourceLog().Clear();
    test::WriteFile(FName, "before the start\nhalf a line");
    TModelFile& first = NewFile();
    FCurrent.File = OpenWriter(FName, O_APPEND);
    FCurrent.Model = &first;
    FMonitor = TThread::Create<TFileMonitorThread>(true, test::SourceLog());
    FMonitor->SetFileName(FName);
    FMonitor->SetChangeNotification(notification);
    FMonitor->Resume();
  }

  ~TModel() {
    FMonitor->Terminate();
    FMonitor->WaitFor();
  }

  TModel(const TModel&) = delete;
  TModel& operator=(const TModel&) = delete;

  // Answers why the monitor did not post what it owed, or nothing.
  std::string Run() {
    try {
      for (FStep = 0; FStep < FSteps.size(); ++FStep) {
        ExpireLateWrites();
        if (FTold)
          FTold->push_back(std::to_string(FStep) + " " +
                           StepNames[static_cast<int>(FSteps[FStep].Kind)]);
        std::mt19937 random(FSteps[FStep].Seed);
        Do(FSteps[FStep].Kind, random);
      }
      Finish();
      return Check();
    } catch (const EModelFailure& failure) {
      return failure.what();
    }
  }

private:
  static TFileDescriptor OpenWriter(const std::string& path, int flags) {
    TFileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644));
    if (!file.Valid())
      throw std::runtime_error("cannot open " + path);
    return file;
  }

  static bool Chance(std::mt19937& random, double probability) {
    return std::uniform_real_distribution<double>(0, 1)(random) < probability;
  }

  static int Between(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  }

  // Adds to the description of the step being taken.
  void Tell(const std::string& what) {
    if (FTold && !FTold->empty())
      FTold->back() += " " + what;
  }

  TModelFile& NewFile() {
    FFiles.push_back(std::make_unique<TModelFile>());
    FFiles.back()->Number = static_cast<int>(FFiles.size()) - 1;
    return *FFiles.back();
  }

  void Owe(TModelFile& file, std::string_view raw, bool awaited) {
    std::string text = Trimmed(raw);
    if (text.empty())
      return;
    if (!FWhere.emplace(text, std::make_pair(&file, file.Owed.size())).second)
      throw std::logic_error("the model made the same line twice: " + Shown(text));
    file.Owed.push_back(std::move(text));
    if (awaited)
      file.Awaited = file.Owed.size();
  }

  void Feed(TModelFile& file, std::string_view bytes) {
    for (const char c : bytes) {
      if (c == '\r' || c == '\n') {
        Owe(file, file.Pending, true);
        file.Pending.clear();
      } else if (c != '\0') {
        file.Pending += c;
        if (file.Pending.size() >= PieceSize) {
          Owe(file, std::string_view(file.Pending).substr(0, PieceSize), true);
          file.Pending.erase(0, PieceSize);
        }
      }
    }
  }

  void LetGo(TModelFile& file) {
    Owe(file, file.Pending, false);
    file.Pending.clear();
  }

  void Put(TWriter& writer, std::string_view bytes) {
    test::Write(writer.File, bytes);
    Feed(*writer.Model, bytes);
  }

  // Writes in one to four pieces, cut anywhere.
  void PutInPieces(TWriter& writer, const std::string& bytes, std::mt19937& random) {
    std::vector<std::size_t> cuts{0, bytes.size()};
    for (int i = Between(random, 0, 3); i > 0; --i)
      cuts.push_back(std::uniform_int_distribution<std::size_t>(0, bytes.size())(random));
    std::sort(cuts.begin(), cuts.end());
    for (std::size_t i = 1; i < cuts.size(); ++i)
      Put(writer, std::string_view(bytes).substr(cuts[i - 1], cuts[i] - cuts[i - 1]));
  }

  std::string NewId() {
    std::string id = "L";
    return id.append(std::to_string(++FLastId));
  }

  std::string MakeLine(std::mt19937& random, bool zeros) {
    const int kind = Between(random, 0, 999);
    if (kind < 30) // blank
      return std::string(" \t\x01", static_cast<std::size_t>(Between(random, 0, 3)));
    std::string line = NewId();
    if (kind < 60) {
      // Longer than a read, or than a piece; numbered throughout, so that no two pieces match.
      const std::size_t length =
          kind < 32 ? PieceSize + static_cast<std::size_t>(Between(random, 1, 300000))
                    : static_cast<std::size_t>(Between(random, 65536, 200000));
      const std::string id = line;
      for (int k = 0; line.size() < length; ++k)
        line += " " + id + "." + std::to_string(k);
    } else {
      line += ' ';
      for (int i = Between(random, 0, 80); i > 0; --i) {
        const int c = Between(random, 32, 160);
        line += static_cast<char>(c == 127 ? ' ' : c);
      }
    }
    if (Chance(random, 0.1))
      line = " \t" + line + "\x01 ";
    if (zeros) {
      const std::size_t at = std::uniform_int_distribution<std::size_t>(0, line.size())(random);
      line.insert(at, std::string(static_cast<std::size_t>(Between(random, 1, 5)), '\0'));
    }
    return line;
  }

  static const char* LineEnd(std::mt19937& random) {
    const int kind = Between(random, 0, 19);
    return kind < 12 ? "\n" : kind < 17 ? "\r\n" : "\r";
  }

  // Whole lines, and at times the start of one more.
  std::string MakeLines(std::mt19937& random, int count, bool zeros) {
    std::string text;
    for (int i = 0; i < count; ++i) {
      const bool zeroed = zeros && Chance(random, 0.5);
      text += MakeLine(random, zeroed);
      text += LineEnd(random);
      if (zeroed && Chance(random, 0.3))
        text += std::string(static_cast<std::size_t>(Between(random, 1, 300)), '\0');
    }
    if (Chance(random, 0.3)) {
      text += NewId();
      text += std::string_view(" unfinished ")
                  .substr(0, static_cast<std::size_t>(Between(random, 0, 12)));
    }
    return text;
  }

  // Every file the model makes starts with a whole line: once that is posted, the monitor holds
  // the file.
  void Create(std::mt19937& random) {
    const bool appending = !Chance(random, ZeroChance);
    FCurrent.File = OpenWriter(FName, O_EXCL | (appending ? O_APPEND : 0));
    FCurrent.Model = &NewFile();
    Put(FCurrent, NewId() + " first\n");
    Tell("(file " + std::to_string(FCurrent.Model->Number) + " made, by a writer that " +
         (appending ? "appends)" : "writes on at its own offset)"));
  }

  bool Named() const { return FCurrent.File.Valid(); }

  void EnsureNamed(std::mt19937& random) {
    if (!Named())
      Create(random);
  }

  void TakePosted() {
    for (; FSeen < test::SourceLog().Count(); ++FSeen) {
      TLogItem item = test::SourceLog().GetItem(FSeen);
      if (item.Source != FMonitor.get())
        throw EModelFailure("a line not from the monitor: " + Shown(item.Text));
      FPosted.push_back(std::move(item.Text));
      FUnresolved.push_back(FPosted.size() - 1);
    }
    // A let-go line may come before the model has owed it.
    std::erase_if(FUnresolved, [&](std::size_t index) {
      const auto found = FWhere.find(FPosted[index]);
      if (found == FWhere.end())
        return false;
      ++found->second.first->Posted;
      return true;
    });
  }

  // Answers whether every file has posted what fits().
  bool WaitUntil(const std::function<bool(const TModelFile&)>& fits) {
    const auto giveUp = Clock::now() + ModelPatience;
    for (;;) {
      TakePosted();
      if (std::ranges::all_of(FFiles, [&](const auto& file) { return fits(*file); }))
        return true;
      if (Clock::now() > giveUp)
        return false;
      std::this_thread::sleep_for(1ms);
    }
  }

  void CatchUp() {
    if (!WaitUntil([](const TModelFile& file) { return file.Posted >= file.Awaited; }))
      throw EModelFailure("the monitor did not catch up before step " + std::to_string(FStep) +
                          ": " + Check());
  }

  void CloseOld() {
    if (!FOld.File.Valid())
      return;
    FOld.File.Reset();
    LetGo(*FOld.Model);
  }

  void ExpireLateWrites() {
    if (FOld.File.Valid() && Clock::now() - FRotatedAt > LateWriteWindow)
      CloseOld();
  }

  void Do(TStepKind kind, std::mt19937& random) {
    switch (kind) {
    case TStepKind::Append: {
      EnsureNamed(random);
      const bool zeros = Chance(random, ZeroChance / 10);
      const std::string text = MakeLines(random, Between(random, 0, 5), zeros);
      Tell(Shown(text, 200));
      PutInPieces(FCurrent, text, random);
      break;
    }
    case TStepKind::Reserve: {
      // Made full of zeros first, then filled in, at times not quite.
      EnsureNamed(random);
      const std::string fill = MakeLines(random, Between(random, 1, 3), false);
      const std::size_t reserved =
          fill.size() +
          (Chance(random, ZeroChance) ? static_cast<std::size_t>(Between(random, 1, 9)) : 0);
      test::Write(FCurrent.File, std::string(reserved, '\0'));
      const off_t at = ::lseek(FCurrent.File.Get(), 0, SEEK_CUR) - static_cast<off_t>(reserved);
      const TFileDescriptor filler = OpenWriter(FName, 0);
      if (::pwrite(filler.Get(), fill.data(), fill.size(), at) != static_cast<ssize_t>(fill.size()))
        throw std::runtime_error("short write");
      Feed(*FCurrent.Model, fill);
      Tell(std::to_string(reserved) + " zeros, filled with " + Shown(fill, 200));
      break;
    }
    case TStepKind::LateWrite:
      if (FOld.File.Valid()) {
        const std::string text = MakeLines(random, Between(random, 0, 3), false);
        Tell("to file " + std::to_string(FOld.Model->Number) + ": " + Shown(text, 200));
        PutInPieces(FOld, text, random);
      }
      break;
    case TStepKind::Pause: {
      const int ms = Between(random, 0, 10);
      Tell(std::to_string(ms) + " ms");
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      break;
    }
    case TStepKind::CatchUp:
      CatchUp();
      break;
    case TStepKind::Rotate: {
      if (!Named())
        break;
      CatchUp();
      CloseOld();
      const std::string rotated = FName + "." + std::to_string(FStep);
      Tell("to " + std::filesystem::path(rotated).filename().string());
      std::filesystem::rename(FName, rotated);
      FRotated.emplace_back(rotated, FCurrent.Model);
      FOld = std::move(FCurrent);
      FRotatedAt = Clock::now();
      Create(random);
      break;
    }
    case TStepKind::CopyTruncate:
    case TStepKind::Truncate:
      if (!Named())
        break;
      CatchUp();
      if (kind == TStepKind::CopyTruncate)
        std::filesystem::copy_file(FName, FName + ".copy" + std::to_string(FStep));
      std::filesystem::resize_file(FName, 0);
      FCurrent.Model->Pending.clear();
      break;
    case TStepKind::Rewrite: {
      // As a shell's > redirect: the file is emptied and written again by a writer that goes on.
      if (!Named())
        break;
      CatchUp();
      FCurrent.File = OpenWriter(FName, O_TRUNC | (Chance(random, ZeroChance) ? 0 : O_APPEND));
      FCurrent.Model->Pending.clear();
      const std::string text = MakeLines(random, Between(random, 1, 4), false);
      Tell("with " + Shown(text, 200));
      PutInPieces(FCurrent, text, random);
      break;
    }
    case TStepKind::Delete:
      if (!Named())
        break;
      CatchUp();
      Tell("file " + std::to_string(FCurrent.Model->Number));
      FCurrent.File.Reset();
      std::filesystem::remove(FName);
      LetGo(*FCurrent.Model);
      if (Chance(random, 0.5))
        Create(random);
      break;
    case TStepKind::DeleteRotated: {
      if (FRotated.empty())
        break;
      const auto chosen =
          FRotated.begin() + Between(random, 0, static_cast<int>(FRotated.size()) - 1);
      Tell(std::filesystem::path(chosen->first).filename().string());
      if (FOld.File.Valid() && FOld.Model == chosen->second)
        CloseOld();
      std::filesystem::remove(chosen->first);
      FRotated.erase(chosen);
      break;
    }
    }
  }

  // The rotated files are deleted, so that the monitor lets them go at once.
  void Finish() {
    FStep = FSteps.size();
    CloseOld();
    for (const auto& rotated : FRotated)
      std::filesystem::remove(rotated.first);
    WaitUntil([](const TModelFile& file) { return file.Posted >= file.Owed.size(); });
    std::this_thread::sleep_for(100ms); // time to post a line too many
    TakePosted();
  }

  // The posted lines against the owed ones: each file's in order, every one once.
  std::string Check() {
    std::map<const TModelFile*, std::size_t> next;
    for (const std::string& text : FPosted) {
      const auto found = FWhere.find(text);
      if (found == FWhere.end())
        return "posted a line never owed: " + Shown(text);
      const auto [file, index] = found->second;
      std::size_t& expected = next[file];
      if (index < expected)
        return "posted twice: " + Shown(text);
      if (index > expected)
        return "file " + std::to_string(file->Number) + ": posted " + Shown(text) + " before " +
               Shown(file->Owed[expected]);
      ++expected;
    }
    for (const auto& file : FFiles) {
      const std::size_t posted = next[file.get()];
      if (posted < file->Owed.size())
        return "file " + std::to_string(file->Number) + ": " +
               std::to_string(file->Owed.size() - posted) + " lines not posted, from " +
               Shown(file->Owed[posted]);
    }
    return "";
  }

  const std::vector<TStep>& FSteps;
  std::vector<std::string>* FTold;
  std::size_t FStep = 0;
  test::TTemporaryFolder FFolder;
  const std::string FName = FFolder.File("app.log");
  std::shared_ptr<TFileMonitorThread> FMonitor;
  std::vector<std::unique_ptr<TModelFile>> FFiles;
  std::unordered_map<std::string, std::pair<TModelFile*, std::size_t>> FWhere;
  std::uint64_t FLastId = 0;
  TWriter FCurrent;
  TWriter FOld;
  Clock::time_point FRotatedAt;
  std::vector<std::pair<std::string, TModelFile*>> FRotated;
  std::size_t FSeen = 0;
  std::vector<std::string> FPosted;
  std::vector<std::size_t> FUnresolved;
};

// A quarter of the seeds poll instead of waiting for notifications.
bool Notified(std::uint64_t seed) {
  return seed % 4 != 3;
}

std::string RunSteps(const std::vector<TStep>& steps, std::uint64_t seed,
                     std::vector<std::string>* told = nullptr) {
  TModel model(steps, Notified(seed), told);
  return model.Run();
}

// Leaves out ever smaller runs of steps while the sequence still fails.
std::vector<TStep> Shrunk(std::vector<TStep> steps, std::uint64_t seed) {
  const auto giveUp = Clock::now() + ShrinkBudget;
  for (std::size_t chunk = steps.size() / 2; chunk >= 1 && Clock::now() < giveUp;) {
    bool shorter = false;
    for (std::size_t first = 0; first < steps.size() && Clock::now() < giveUp;) {
      std::vector<TStep> candidate = steps;
      candidate.erase(candidate.begin() + static_cast<std::ptrdiff_t>(first),
                      candidate.begin() +
                          static_cast<std::ptrdiff_t>(std::min(first + chunk, steps.size())));
      if (!RunSteps(candidate, seed).empty()) {
        steps = std::move(candidate);
        shorter = true;
      } else {
        first += chunk;
      }
    }
    if (!shorter)
      chunk /= 2;
  }
  return steps;
}

std::uint64_t Setting(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::stoull(value) : fallback;
}

TEST(FileMonitorModel, EveryCompleteLineWrittenIsPostedOnceInOrderPerFile) {
  const std::uint64_t firstSeed = Setting("ORNAVEL_MODEL_SEED", 1);
  const std::uint64_t steps = Setting("ORNAVEL_MODEL_STEPS", 3000);
  const auto seconds = std::chrono::seconds(Setting("ORNAVEL_MODEL_SECONDS", 0));
  const auto start = Clock::now();
  std::uint64_t seed = firstSeed;
  std::uint64_t run = 0;
  while (seconds.count() > 0 ? Clock::now() - start < seconds : run < steps) {
    const std::vector<TStep> sequence = MakeSteps(seed);
    const std::string failure = RunSteps(sequence, seed);
    if (!failure.empty()) {
      const std::vector<TStep> shortest = Shrunk(sequence, seed);
      std::vector<std::string> told;
      const std::string again = RunSteps(shortest, seed, &told);
      std::string listed;
      for (const std::string& step : told)
        listed += "  " + step + "\n";
      FAIL() << "seed " << seed << " (" << (Notified(seed) ? "notified" : "polling")
             << "): " << failure << "\nshortest failing sequence found, " << shortest.size()
             << " of " << sequence.size() << " steps ("
             << (again.empty() ? "passed when told" : again) << "):\n"
             << listed;
    }
    run += sequence.size();
    ++seed;
  }
  std::cout << "model: seeds " << firstSeed << " to " << seed - 1 << ", " << run << " steps, "
            << std::chrono::duration<double>(Clock::now() - start).count() << " s\n";
}

} // namespace
} // namespace ornavel
