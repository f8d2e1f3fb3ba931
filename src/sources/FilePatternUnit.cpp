#include "FilePatternUnit.h"

#include "core/LogUnit.h"
#include "sources/FileMonitorUnit.h"

#include <filesystem>
#include <glob.h>
#include <sys/inotify.h>
#include <sys/stat.h>

namespace ornavel {
namespace {

constexpr std::uint32_t FolderEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
// Only a change the notifications missed waits this long.
constexpr int SafetyNetMs = 10000;
// How often a folder that is not there yet, or cannot be watched, is looked for.
constexpr int LookAgainMs = 250;

bool HasPatternCharacter(const std::string& text) {
  return text.find_first_of("*?[") != std::string::npos;
}

class TGlob {
public:
  explicit TGlob(const std::string& pattern) {
    FFound = ::glob(pattern.c_str(), 0, nullptr, &FGlob) == 0;
  }
  ~TGlob() { ::globfree(&FGlob); }
  TGlob(const TGlob&) = delete;
  TGlob& operator=(const TGlob&) = delete;

  // In the order of the names, files or folders as asked.
  std::vector<std::string> Names(bool folders) const {
    std::vector<std::string> names;
    for (std::size_t index = 0; FFound && index < FGlob.gl_pathc; ++index) {
      std::error_code gone; // one gone meanwhile is left out
      const auto type = std::filesystem::status(FGlob.gl_pathv[index], gone).type();
      if (!gone && (type == std::filesystem::file_type::directory) == folders)
        names.emplace_back(FGlob.gl_pathv[index]);
    }
    return names;
  }

private:
  glob_t FGlob{};
  bool FFound = false;
};

// The folders in which a new entry can make a new match, as patterns: the last folder on the way
// without a pattern character, and every level below it down to the files' own.
std::vector<std::string> FolderLevels(const std::string& pattern) {
  const std::filesystem::path folder = std::filesystem::path(pattern).parent_path();
  std::vector<std::string> levels;
  std::filesystem::path prefix;
  for (const std::filesystem::path& part : folder) {
    if (levels.empty() && HasPatternCharacter(part.string()))
      levels.push_back(prefix.empty() ? "." : prefix.string());
    prefix /= part;
    if (!levels.empty())
      levels.push_back(prefix.string());
  }
  if (levels.empty())
    levels.push_back(folder.empty() ? "." : folder.string());
  return levels;
}

} // namespace

TFilePatternThread::TFilePatternThread(TLog& log) : TSourceThread(log) {}

TFilePatternThread::~TFilePatternThread() {
  StopFollowing();
}

bool TFilePatternThread::IsPattern(const std::string& name) {
  struct stat status {};
  return HasPatternCharacter(name) && ::lstat(name.c_str(), &status) != 0;
}

void TFilePatternThread::SetPattern(const std::string& pattern, std::size_t recentLines) {
  FPattern = pattern;
  FRecentLines = recentLines;
  PickUp(false);
}

void TFilePatternThread::Execute() {
  try {
    FNotifier = TFileChangeNotifier::Shared();
    if (!Terminated()) {
      do {
        // Watched first: a file made meanwhile is then either matched now or notified.
        WatchFolders();
        PickUp(true);
        for (const auto& [name, monitor] : FFollowed) {
          if (monitor)
            monitor->Resume();
        }
      } while (WaitForChange());
    }
  } catch (const std::exception& failure) {
    Log().AddFmt(nullptr, TLogLevel::Warning, "Stopped following %s: %s", FPattern, failure.what());
  }
  StopFollowing();
  FFolderWatches.clear();
}

void TFilePatternThread::PickUp(bool appeared) {
  for (const std::string& name : TGlob(FPattern).Names(false)) {
    if (!FFollowed.contains(name))
      Follow(name, appeared);
  }
}

// A file that cannot be read is said once and not tried again.
void TFilePatternThread::Follow(const std::string& fileName, bool appeared) {
  Log().AddLineFmt(nullptr, SourceKindOf(mtFile).Announcement, fileName);
  std::shared_ptr<TFileMonitorThread> monitor = TThread::Create<TFileMonitorThread>(true, Log());
  try {
    monitor->SetFileName(fileName);
    if (appeared)
      monitor->ReadFromStart();
    else
      monitor->SetRecentLines(FRecentLines);
  } catch (const std::exception& failure) {
    Log().Add(nullptr, TLogLevel::Warning, failure.what());
    monitor.reset();
  }
  FFollowed.emplace(fileName, std::move(monitor));
}

// Watched anew at every look: a folder made again, even with the old one's inode number, is
// another folder.
void TFilePatternThread::WatchFolders() {
  std::vector<TFileWatch> watches;
  bool complete = static_cast<bool>(FNotifier);
  const std::vector<std::string> levels = FolderLevels(FPattern);
  for (std::size_t level = 0; level < levels.size() && FNotifier; ++level) {
    const std::vector<std::string> folders = TGlob(levels[level]).Names(true);
    complete = complete && !(level == 0 && folders.empty());
    for (const std::string& folder : folders) {
      watches.push_back(FNotifier->Watch(folder, FolderEvents, WakeEvent()));
      complete = complete && watches.back().Valid();
    }
  }
  FFolderWatches = std::move(watches);
  FFoldersWatched = complete;
}

bool TFilePatternThread::WaitForChange() {
  return WaitForWork(TClock::now() +
                     std::chrono::milliseconds(FFoldersWatched ? SafetyNetMs : LookAgainMs));
}

void TFilePatternThread::StopFollowing() noexcept {
  for (const auto& [name, monitor] : FFollowed) {
    if (monitor)
      monitor->Terminate();
  }
  for (const auto& [name, monitor] : FFollowed) {
    if (monitor)
      monitor->WaitFor();
  }
  FFollowed.clear();
}

} // namespace ornavel
