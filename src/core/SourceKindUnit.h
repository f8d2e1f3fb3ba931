#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace ornavel {

// The kind of source a line comes from; the ordinals are fixed (they are bit numbers in a set,
// and rows of SourceKinds).
enum TMonitorType : std::uint8_t { mtFile = 0, mtSyslog = 1, mtEventLog = 2, mtDebugString = 3 };

// A boolean setting in Config.xml that belongs to a kind of source, and its check box on the
// settings dialog's General tab. A setting without a key does not exist.
struct TSourceSetting {
  std::string_view Key;
  bool Default = false;
  std::string_view BoxName;
  std::string_view Caption;

  constexpr bool Exists() const { return !Key.empty(); }
};

// Everything the program says about one kind of source, so that every place that lists the
// kinds loops over this table instead of naming them.
struct TSourceKind {
  TMonitorType Type;
  // The subject of a sentence about the source: "%s is not available in this build".
  std::string_view Name;
  // The member's name in the monitortypes attribute of Rules.xml.
  std::string_view RulesText;
  // In the rule editor's sentence ("files, syslog, eventlog or OutputDebugString") and its
  // question ("...apply on lines coming from files?").
  std::string_view SentenceText;
  // What the program follows, for its help text.
  std::string_view Description;
  // The line posted when the source starts; for a source per listed file, a format that takes
  // the file's name.
  std::string_view Announcement;
  // One source per entry of the file list, instead of one source behind a switch.
  bool OnePerListedFile = false;
  TSourceSetting Switch;
  // A setting the source reads for every line, shown under its switch.
  TSourceSetting Option;
};

inline constexpr std::array<TSourceKind, 4> SourceKinds{{
    {mtFile, "File monitoring", "mtFile", "files", "text files", "Monitoring %s", true, {}, {}},
    {mtSyslog,
     "Syslog",
     "mtSyslog",
     "syslog",
     "syslog over UDP",
     "Monitoring syslog",
     false,
     {"MonitorSyslog", false, "MonitorSysLogCheckBox", "Monitor syslog entries"},
     {"IncludePeerIP", true, "IncludePeerIPCheckBox", "Include peer IP for syslog entries"}},
    {mtEventLog,
     "Event log",
     "mtEventLog",
     "eventlog",
     "the system journal",
     "Monitoring event log",
     false,
     {"MonitorEventLog", false, "MonitorEventLogCheckBox", "Monitor eventlog entries"},
     {}},
    {mtDebugString,
     "OutputDebugString",
     "mtDebugString",
     "OutputDebugString",
     "local programs' debug output",
     "Monitoring OutputDebugString",
     false,
     {"OutputDebugString", false, "MonitorOutputDebugStringCheckBox",
      "Monitor OutputDebugString entries"},
     {"IncludePID", true, "IncludePIDCheckBox", "Include PID for OutputDebugStringEntries"}},
}};

constexpr bool SourceKindsInTypeOrder() {
  for (std::size_t row = 0; row < SourceKinds.size(); ++row) {
    if (SourceKinds[row].Type != row)
      return false;
  }
  return true;
}
static_assert(SourceKindsInTypeOrder(), "each kind's row is its monitor type's ordinal");
static_assert(SourceKinds.size() <= 8, "a set of monitor types is one byte");

constexpr const TSourceKind& SourceKindOf(TMonitorType type) {
  return SourceKinds.at(type);
}

// A set of monitor types in one byte, bit n standing for ordinal n.
class TMonitorTypes {
public:
  constexpr TMonitorTypes() = default;
  constexpr TMonitorTypes(std::initializer_list<TMonitorType> types) {
    for (TMonitorType type : types)
      Include(type);
  }

  static constexpr TMonitorTypes All() {
    TMonitorTypes types;
    for (const TSourceKind& kind : SourceKinds)
      types.Include(kind.Type);
    return types;
  }
  // Bits that stand for no kind are left out.
  static constexpr TMonitorTypes FromBits(std::uint8_t bits) {
    TMonitorTypes types;
    types.FBits = bits & All().FBits;
    return types;
  }

  constexpr std::uint8_t Bits() const { return FBits; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr bool Contains(TMonitorType type) const { return (FBits & Bit(type)) != 0; }
  constexpr void Include(TMonitorType type) { FBits |= Bit(type); }
  constexpr void Exclude(TMonitorType type) { FBits &= static_cast<std::uint8_t>(~Bit(type)); }

  friend constexpr bool operator==(TMonitorTypes, TMonitorTypes) = default;

private:
  static constexpr std::uint8_t Bit(TMonitorType type) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(type));
  }
  std::uint8_t FBits = 0;
};

} // namespace ornavel
