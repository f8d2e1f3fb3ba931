#pragma once

#include <cstdint>
#include <initializer_list>

namespace ornavel {

// The kind of source a line comes from; the ordinals are fixed (they are bit numbers in a set).
enum TMonitorType : std::uint8_t { mtFile = 0, mtSyslog = 1, mtEventLog = 2, mtDebugString = 3 };

inline constexpr TMonitorType AllMonitorTypes[] = {mtFile, mtSyslog, mtEventLog, mtDebugString};

// A set of monitor types in one byte, bit n standing for ordinal n.
class TMonitorTypes {
public:
  constexpr TMonitorTypes() = default;
  constexpr TMonitorTypes(std::initializer_list<TMonitorType> types) {
    for (TMonitorType type : types)
      Include(type);
  }

  static constexpr TMonitorTypes All() { return FromBits(0x0F); }
  static constexpr TMonitorTypes FromBits(std::uint8_t bits) {
    TMonitorTypes types;
    types.FBits = bits & 0x0F;
    return types;
  }

  constexpr std::uint8_t Bits() const { return FBits; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr bool Contains(TMonitorType type) const { return (FBits & Bit(type)) != 0; }
  constexpr void Include(TMonitorType type) { FBits |= Bit(type); }

  friend constexpr bool operator==(TMonitorTypes, TMonitorTypes) = default;

private:
  static constexpr std::uint8_t Bit(TMonitorType type) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(type));
  }
  std::uint8_t FBits = 0;
};

} // namespace ornavel
