#include "SourcesUnit.h"

#include "FileMonitorUnit.h"
#include "SysLogMonitorUnit.h"
#include "config/ConfigUnit.h"

namespace ornavel {

TSourceFactory MakeSourceFactory() {
  TSourceFactory factory;
  factory.FileMonitor = [](const std::string& fileName) -> std::shared_ptr<TSourceThread> {
    auto monitor = TThread::Create<TFileMonitorThread>(true);
    monitor->SetFileName(fileName);
    return monitor;
  };
  factory.SysLog = []() -> std::shared_ptr<TSourceThread> {
    return TThread::Create<TSysLogMonitorThread>(true, GetConfig().SyslogPort());
  };
  return factory;
}

} // namespace ornavel
