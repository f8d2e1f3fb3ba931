// Feeds arbitrary bytes as Config.xml and as Rules.xml through opening, every accessor, loading,
// evaluation and saving. Build with -DORNAVEL_FUZZ=ON (clang); run:
//   build/fuzz/tests/fuzz/xml_files_fuzz -max_total_time=600 tests/fuzz/corpus
#include "FuzzSupportUnit.h"
#include "config/ConfigUnit.h"
#include "core/DateTimeUnit.h"
#include "core/LogUnit.h"
#include "core/TextUnit.h"
#include "rules/RulesUnit.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace ornavel {
namespace {

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Conversion failures of hand-edited values are expected; anything else is a finding.
template <class F>
void Tolerating(F&& read) {
  try {
    read();
  } catch (const EConvertError&) {
  }
}

void ExerciseConfig(const std::string& folder) {
  TMainConfig config;
  config.Open(folder);
  Tolerating(
      [&] { FormatDateTime(config.DateStringFormat(), EncodeDateTime(2024, 3, 5, 14, 7, 9)); });
  Tolerating([&] { config.MonitorSyslog(); });
  Tolerating([&] { config.MonitorEventLog(); });
  Tolerating([&] { config.OutputDebugString(); });
  Tolerating([&] { config.IncludePeerIP(); });
  Tolerating([&] { config.IncludePID(); });
  Tolerating([&] { config.SyslogPort(); });
  config.ReadValue("MonitorFilenames.Filename", std::string());
  TStringList& files = config.MonitorFilenames();
  files.Add(" /var/log/new.log ");
  if (files.Count() > 1)
    files.Delete(0);
  config.SetIncludePID(false);
  config.WriteValue("Custom.Item", std::vector<std::string>{"a", "b"});
  config.Save();
}

void ExerciseRules(const std::string& folder) {
  TRules rules;
  rules.Open(folder);
  std::vector<std::string> faults;
  for (const char* line : {"disk error", "heartbeat ok", "", "<13>user.notice - x"}) {
    TLogItem item{0, TLogLevel::Notice, nullptr, mtSyslog, clWindowText, line};
    rules.ProcessItem(item, faults);
  }
  if (rules.Count() > 1) {
    rules.GetRule(rules.Count() - 1).SetPriority(0);
    rules.Sort();
  }
  try {
    rules.Save();
  } catch (const std::runtime_error&) {
    // An unreadable file is not overwritten: refusing is the answer.
  }
}

} // namespace
} // namespace ornavel

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The single log (and its rules) live in a folder of their own, apart from the fuzzed files.
  setenv("XDG_CONFIG_HOME", ornavel::fuzz::MakeFolder("ornavel-fuzz-home").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ornavel;
  static const std::string folder = fuzz::MakeFolder("ornavel-fuzz");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  WriteFile(folder + "/Config.xml", bytes);
  WriteFile(folder + "/Rules.xml", bytes);
  ExerciseConfig(folder);
  ExerciseRules(folder);
  GetLog().Clear(); // load reports pile up otherwise
  return 0;
}
