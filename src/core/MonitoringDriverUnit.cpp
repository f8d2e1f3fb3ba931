#include "MonitoringDriverUnit.h"

#include "ThreadManagerUnit.h"
#include "config/ConfigUnit.h"
#include "rules/RulesUnit.h"

#include <chrono>
#include <exception>
#include <thread>

namespace ornavel {

TMonitoringDriver::TMonitoringDriver(TSourceFactory factory) : FFactory(std::move(factory)) {}

void TMonitoringDriver::CreateThreadManager() {
  FThreadManager = &GetThreadManager();
  FThreadManager->SetOnAllStopped([this](TThread&) { StartMonitoring(); });
}

void TMonitoringDriver::CreateLog(TLog::TLogItemEvent onLogItem) {
  FLog = &GetLog();
  FLog->SetOnLogItem(std::move(onLogItem));
  FLog->AddLine(nullptr, "Starting up..");
}

void TMonitoringDriver::OpenSettings() {
  FConfig = &GetConfig();
}

void TMonitoringDriver::StartUp(TLog::TLogItemEvent onLogItem) {
  CreateThreadManager();
  CreateLog(std::move(onLogItem));
  OpenSettings();
  StartMonitoring();
}

void TMonitoringDriver::StartMonitoring() {
  const TStringList& fileNames = FConfig->MonitorFilenames();
  for (std::size_t index = 0; index < fileNames.Count(); ++index) {
    const std::string fileName = fileNames[index];
    FLog->AddLineFmt(nullptr, "Monitoring %s", fileName);
    if (FFactory.FileMonitor)
      StartSource(nullptr, [&] { return FFactory.FileMonitor(fileName); });
  }
  if (FConfig->MonitorSyslog())
    StartSource("Monitoring syslog", FFactory.SysLog);
  if (FConfig->MonitorEventLog())
    StartSource("Monitoring event log", FFactory.EventLog);
  if (FConfig->OutputDebugString())
    StartSource("Monitoring OutputDebugString", FFactory.OutputDebugString);
}

void TMonitoringDriver::StartSource(const char* announcement,
                                    const std::function<std::shared_ptr<TSourceThread>()>& make) {
  if (!make)
    return;
  if (announcement != nullptr)
    FLog->AddLine(nullptr, announcement);
  std::shared_ptr<TSourceThread> source = make();
  FThreadManager->AddThread(source);
  source->Resume();
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
