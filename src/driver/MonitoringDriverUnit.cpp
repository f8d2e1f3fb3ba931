#include "MonitoringDriverUnit.h"

#include "config/ConfigUnit.h"
#include "core/ThreadManagerUnit.h"
#include "rules/RulesUnit.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace ornavel {

TMonitorTypes TSourceFactory::AvailableTypes() const {
  TMonitorTypes types;
  for (const TSourceKind& kind : SourceKinds) {
    if (Available(kind.Type))
      types.Include(kind.Type);
  }
  return types;
}

TMonitoringDriver::TMonitoringDriver(TSourceFactory factory) : FFactory(std::move(factory)) {}

void TMonitoringDriver::CreateThreadManager() {
  FThreadManager = &GetThreadManager();
  FThreadManager->SetOnAllStopped([this](TThread&) { StartMonitoring(); });
}

void TMonitoringDriver::CreateLog(TLog::TLogItemEvent onLogItem) {
  FLog = &GetLog();
  FLog->AttachFilter(&GetRules());
  FLog->SetOnLogItem(std::move(onLogItem));
  FLog->AddLine(nullptr, "Starting up..");
}

void TMonitoringDriver::OpenSettings() {
  FConfig = &GetConfig();
  if (FLog != nullptr)
    FLog->SetMaxLines(FConfig->MaxLines());
}

void TMonitoringDriver::StartUp(TLog::TLogItemEvent onLogItem) {
  CreateThreadManager();
  CreateLog(std::move(onLogItem));
  OpenSettings();
  StartMonitoring();
}

void TMonitoringDriver::StartMonitoring() {
  FSourcesStarted = 0;
  for (const TSourceKind& kind : SourceKinds) {
    if (kind.OnePerListedFile)
      StartListedFiles(kind);
    else if (FConfig->ReadSetting(kind.Switch) && ReportedAvailable(kind))
      StartSource(kind, {});
  }
}

void TMonitoringDriver::StartListedFiles(const TSourceKind& kind) {
  const TStringList& listed = FConfig->MonitorFilenames();
  std::vector<std::string> fileNames;
  for (std::size_t index = 0; index < listed.Count(); ++index)
    fileNames.push_back(listed[index]);
  for (const std::string& extra : FExtraFiles) {
    if (std::find(fileNames.begin(), fileNames.end(), extra) == fileNames.end())
      fileNames.push_back(extra);
  }
  if (fileNames.empty() || !ReportedAvailable(kind))
    return;
  for (const std::string& fileName : fileNames)
    StartSource(kind, fileName);
}

// A kind that is asked for but not built says so, instead of starting nothing without a word.
bool TMonitoringDriver::ReportedAvailable(const TSourceKind& kind) {
  if (FFactory.Available(kind.Type))
    return true;
  FLog->AddFmt(nullptr, TLogLevel::Warning, "%s is not available in this build", kind.Name);
  return false;
}

// A file is announced before its monitor looks for it, which may say it is not there yet. Other
// sources are announced once made, so that what they take is taken when the announcement shows:
// a syslog port is bound by then.
void TMonitoringDriver::StartSource(const TSourceKind& kind, const std::string& fileName) {
  if (kind.OnePerListedFile)
    FLog->AddLineFmt(nullptr, kind.Announcement, fileName);
  std::shared_ptr<TSourceThread> source = FFactory.Maker(kind.Type)(fileName);
  if (!kind.OnePerListedFile)
    FLog->AddLine(nullptr, std::string(kind.Announcement));
  FThreadManager->AddThread(source);
  source->Resume();
  FSourcesStarted += fileName.find_first_of("*?[") == std::string::npos ? 1 : 2;
}

void TMonitoringDriver::RestartMonitoring() {
  FThreadManager->RequestRestart();
}

void TMonitoringDriver::StopMonitoring() {
  if (FThreadManager == nullptr)
    return;
  FThreadManager->Terminate();
  FThreadManager->WaitFor();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TMonitoringDriver::DestroySingleObjects() {
  DestroyLog();
  DestroyRules();
  DestroyConfig();
}

} // namespace ornavel
