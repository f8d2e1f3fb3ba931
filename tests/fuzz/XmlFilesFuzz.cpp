// Feeds arbitrary bytes as Config.xml and as Rules.xml through opening, every accessor, loading,
// evaluation and saving; then the input's lines as the values of every typed setting and of a
// rule's attributes, in files written the way the program writes them, checking what each
// accessor answers and what is reported. Build with -DORNAVEL_FUZZ=ON (clang); run:
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
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

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
  Tolerating([&] { config.JournalDirectory(); });
  config.ReadValue("MonitorFilenames.Filename", std::string());
  TStringList& files = config.MonitorFilenames();
  files.Add(" /var/log/new.log ");
  if (files.Count() > 1)
    files.Delete(0);
  config.SetIncludePID(false);
  config.WriteValue("Custom.Item", std::vector<std::string>{"a", "b"});
  config.Save();
}

// Up to eight values: the input's lines, without control characters (XML cannot carry them).
std::vector<std::string> ValuesOf(std::string_view bytes) {
  std::vector<std::string> values(1);
  for (char c : bytes) {
    if (c == '\n' && values.size() < 8)
      values.emplace_back();
    else if (static_cast<unsigned char>(c) >= 32)
      values.back() += c;
  }
  return values;
}

void Check(bool holds) {
  if (!holds)
    std::abort();
}

std::size_t Reports(std::size_t since) {
  return GetLog().Count() - since;
}

// Every typed setting holds one of the values: each accessor answers the value it can read or
// its default, and each value it cannot read is reported once, however often it is read.
void ExerciseTypedSettings(const std::string& folder, const std::vector<std::string>& values) {
  std::vector<const TSourceSetting*> settings;
  for (const TSourceKind& kind : SourceKinds) {
    for (const TSourceSetting* setting : {&kind.Switch, &kind.Option}) {
      if (setting->Exists())
        settings.push_back(setting);
    }
  }
  pugi::xml_document document;
  pugi::xml_node root = document.append_child("Config");
  std::size_t next = 0;
  const auto take = [&] { return values[next++ % values.size()]; };
  for (const TSourceSetting* setting : settings)
    root.append_child(std::string(setting->Key).c_str()).append_attribute("value") = take().c_str();
  const std::string port = take();
  const std::string format = take();
  root.append_child("SyslogPort").append_attribute("value") = port.c_str();
  root.append_child("DateStringFormat").append_attribute("value") = format.c_str();
  document.save_file((folder + "/Config.xml").c_str());

  TMainConfig config;
  config.Open(folder);
  Check(config.HasDocument());
  const std::size_t before = GetLog().Count();
  std::size_t unusable = 0;
  for (int pass = 0; pass < 2; ++pass) {
    next = 0;
    for (const TSourceSetting* setting : settings) {
      const auto read = TryTextToBool(take());
      unusable += pass == 0 && !read;
      Check(config.ReadSetting(*setting) == read.value_or(setting->Default));
    }
    const auto number = TryStrToInt(port);
    const bool portUsable = number && *number >= 1 && *number <= 65535;
    unusable += pass == 0 && !portUsable;
    Check(config.SyslogPort() == (portUsable ? *number : 514));
    Check(config.DisplayDateFormat() == format);
  }
  Check(Reports(before) == unusable);
}

// One rule whose attributes hold the values: it loads with what they say, or the one report
// names the file and the rule.
void ExerciseRuleAttributes(const std::string& folder, const std::vector<std::string>& values) {
  pugi::xml_document document;
  pugi::xml_node rule = document.append_child("Rules").append_child("Rule");
  std::size_t next = 0;
  for (const char* name : {"name", "color", "regexp", "active", "logline", "monitortypes"})
    rule.append_attribute(name) = values[next++ % values.size()].c_str();
  document.save_file((folder + "/Rules.xml").c_str());

  const std::size_t before = GetLog().Count();
  TRules rules;
  rules.Open(folder);
  if (rules.Count() == 1) {
    Check(Reports(before) == 0);
    Check(rules.GetRule(0).Active() == TextToBool(rule.attribute("active").value()));
  } else {
    Check(Reports(before) == 1);
    Check(GetLog().GetItem(before).Text.starts_with(folder + "/Rules.xml: rule 1 ("));
  }
}

void ExerciseRules(const std::string& folder) {
  TRules rules;
  rules.Open(folder);
  std::vector<std::string> faults;
  for (const char* line : {"disk error", "heartbeat ok", "", "<13>user.notice - x"}) {
    TLogItem item{0, TLogLevel::Notice, nullptr, mtSyslog, clWindowText, line, {}, {}, {}};
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
  const std::vector<std::string> values = ValuesOf(bytes);
  ExerciseTypedSettings(folder, values);
  ExerciseRuleAttributes(folder, values);
  GetLog().Clear(); // load reports pile up otherwise
  return 0;
}
