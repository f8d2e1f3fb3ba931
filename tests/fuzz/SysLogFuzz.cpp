// Feeds arbitrary bytes as syslog datagrams, from arbitrary sender address text, through the
// listener's handler and the rules. Input: one byte of switches (bit 0: IncludePeerIP), one byte
// giving the length of the address text (modulo 32), the address text, then the datagram.
// Build with -DORNAVEL_FUZZ=ON (clang); run:
//   build/fuzz/tests/fuzz/syslog_fuzz -max_len=4200 -max_total_time=600 tests/fuzz/syslog-corpus
#include "FuzzSupportUnit.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "rules/RulesUnit.h"
#include "sources/SysLogMonitorUnit.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>

namespace ornavel {
namespace {

constexpr std::size_t AddressLengthLimit = 32;
// The log keeps every kept line; cleared now and then so that memory stays bounded.
constexpr std::size_t LogItemLimit = 10000;

struct TFuzzRule {
  const char* Pattern;
  bool LogLine;
  TMonitorTypes Types;
};

// Some rules for syslog lines only, one for every kind and one for files, which must never
// touch a syslog line.
constexpr TFuzzRule FuzzRules[] = {
    {"error|fail", true, {mtSyslog}},
    {"(?i)^\\(?[0-9.]*\\)? ?local[0-9]+\\.debug", false, {mtSyslog}},
    {"kern\\.(emerg|alert|crit)", true, {mtSyslog}},
    {"\\d{3,}", true, TMonitorTypes::All()},
    {"", false, {mtFile}},
};

void AddRules() {
  TRules& rules = GetRules();
  GetLog().AttachFilter(&rules);
  for (const TFuzzRule& entry : FuzzRules) {
    auto rule = std::make_unique<TRule>();
    rule->SetRegExp(entry.Pattern);
    rule->SetLogLine(entry.LogLine);
    rule->SetMonitorTypes(entry.Types);
    rule->SetActive(true);
    rules.Add(std::move(rule));
  }
}

// Whether text is the listener's report of bad data from the sender, or from the senders beyond
// those it counts apart: the first at once, then counts.
bool IsBadDataReport(std::string_view text, const std::string& address) {
  for (const std::string& sender : {address, std::string("other senders")}) {
    const std::string report = "Got bad data from " + sender;
    if (text == report)
      return true;
    if (!text.starts_with(report + " ") || !text.ends_with(" more times"))
      continue;
    const std::string_view count =
        text.substr(report.size() + 1, text.size() - report.size() - 1 - 11);
    if (!count.empty() && count.find_first_not_of("0123456789") == std::string_view::npos)
      return true;
  }
  return false;
}

// What the listener may post: single lines of its own, prefixed by the sender when asked for,
// and its reports of bad data.
void CheckNewItems(std::size_t first, const TThread& monitor, const std::string& address,
                   bool includePeerIP) {
  const std::string prefix = "(" + address + ") ";
  for (std::size_t i = first; i < GetLog().Count(); ++i) {
    const TLogItem item = GetLog().GetItem(i);
    if (item.Source == &monitor) {
      std::string_view text(item.Text);
      if (includePeerIP) {
        if (!text.starts_with(prefix))
          std::abort();
        text.remove_prefix(prefix.size()); // the address text may hold anything
      }
      if (text.find_first_of("\r\n") != std::string_view::npos ||
          text.find(" - ") == std::string_view::npos)
        std::abort();
    } else if (!IsBadDataReport(item.Text, address) &&
               !(item.Level == TLogLevel::Warning && item.Text.starts_with("Rule "))) {
      std::abort(); // neither the listener's report nor a rule switched off
    }
  }
}

} // namespace
} // namespace ornavel

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("XDG_CONFIG_HOME", ornavel::fuzz::MakeFolder("ornavel-syslog-fuzz").c_str(), 1);
  ornavel::AddRules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ornavel;
  static const auto monitor =
      TThread::Create<TSysLogMonitorThread>(true, GetLog(), GetConfig());
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.size() < 2)
    return -1;
  const bool includePeerIP = (bytes[0] & 1) != 0;
  const std::size_t addressLength =
      std::min(static_cast<std::size_t>(static_cast<unsigned char>(bytes[1])) % AddressLengthLimit,
               bytes.size() - 2);
  const std::string address(bytes.substr(2, addressLength));
  const std::string_view datagram = bytes.substr(2 + addressLength);

  if (GetConfig().IncludePeerIP() != includePeerIP)
    GetConfig().SetIncludePeerIP(includePeerIP);
  if (GetLog().Count() > LogItemLimit)
    GetLog().Clear();
  const std::size_t first = GetLog().Count();
  monitor->DatagramReceived(datagram, address);
  CheckNewItems(first, *monitor, address, includePeerIP);
  return 0;
}
