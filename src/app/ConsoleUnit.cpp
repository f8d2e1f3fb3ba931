#include "ConsoleUnit.h"

#include "ConsoleWriterUnit.h"
#include "ShutdownSignalsUnit.h"
#include "config/ConfigUnit.h"
#include "core/DateTimeUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/TextUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "sources/SourcesUnit.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ornavel {
namespace {

// The grace the printing of what is stored gets at the end; a reader that has stopped reading
// must not hold the end up for long.
constexpr std::chrono::milliseconds FinalPrintGrace(500);

// The length of the valid UTF-8 character at the start of text, or 0.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF; // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high)
    return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80)
      return 0;
  }
  return length;
}

} // namespace

namespace {

// The end of the run of printable ASCII bytes from i on, sixteen or eight at a time where it can.
std::size_t PlainEnd(std::string_view text, std::size_t i) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7F);
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    // Signed, the bytes from 0x80 on are below the space too.
    const auto unusual = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(bytes, space), _mm_cmpeq_epi8(bytes, del))));
    if (unusual != 0)
      return i + static_cast<std::size_t>(std::countr_zero(unusual));
  }
#endif
  constexpr std::uint64_t Ones = 0x0101010101010101ULL, Highs = 0x8080808080808080ULL;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, 8);
    const std::uint64_t below = (word - 0x20 * Ones) & ~word & Highs; // a byte below 0x20
    const std::uint64_t above = ((word + Ones) | word) & Highs;       // a byte of 0x7F or more
    if ((below | above) != 0)
      break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) - 32u < 95u)
    ++i;
  return i;
}

} // namespace

void AppendConsoleText(std::string& shown, std::string_view text) {
  const auto escape = [&](std::string_view bytes) {
    for (char c : bytes)
      shown += Format("\\x%.2x", static_cast<unsigned char>(c));
  };
  for (std::size_t i = 0; i < text.size();) {
    // Printable ASCII, nearly every byte of most lines, goes in runs.
    const std::size_t plain = PlainEnd(text, i);
    shown.append(text.substr(i, plain - i));
    if ((i = plain) == text.size())
      break;
    const auto code = static_cast<unsigned char>(text[i]);
    if (code < 0x80) {
      if ((code < 32 && code != '\t') || code == 127)
        escape(text.substr(i, 1));
      else
        shown += text[i];
      ++i;
      continue;
    }
    const std::size_t length = Utf8Length(text.substr(i));
    const bool control = length == 0
                             ? code <= 0x9F
                             : code == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    const std::string_view character = text.substr(i, std::max<std::size_t>(length, 1));
    if (control)
      escape(character);
    else
      shown += character;
    i += character.size();
  }
}

std::string ConsoleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  AppendConsoleText(shown, text);
  return shown;
}

std::string ConsoleColor(TColor color) {
  const auto rgb = static_cast<std::uint32_t>(color);
  // The terminal's own colours stand in for the window text and the other system colours.
  if ((rgb >> 24) != 0)
    return {};
  return Format("\x1b[1;38;2;%u;%u;%um", rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

namespace {

// A script that started the program learns from the status whether all it asked for ran; the
// reasons, printed among the lines at the time, are repeated where a script looks.
int EndStatus(const std::vector<std::string>& failures) {
  if (failures.empty())
    return 0;
  std::cerr << "Ending with status 1, as not everything could start:\n";
  for (const std::string& failure : failures)
    std::cerr << "  " << failure << "\n";
  std::cerr.flush();
  return 1;
}

} // namespace

int RunConsole(const std::vector<std::string>& extraFiles, bool withSource) {
  TEventLoop loop;
  TShutdownSignals shutdownSignals([&loop] { loop.Quit(); });
  TMonitoringDriver driver(MakeSourceFactory(GetLog(), GetConfig()));
  driver.FollowAlso(extraFiles);
  driver.CreateThreadManager();
  TLog& log = GetLog();
  TConsoleWriter output(log, STDOUT_FILENO, isatty(STDOUT_FILENO) == 1, withSource);
  driver.CreateLog([&](TLogLevel, std::string_view) { output.Wake(); });
  log.SetOnAlert([&](const TLogAlert&) { output.Ring(); });
  driver.OpenSettings();
  // Nothing is printed before the settings are open, so that the first lines already show the
  // user's date format.
  output.Start(GetConfig().DisplayDateFormat());
  std::vector<std::string> failures;
  try {
    driver.StartMonitoring();
  } catch (const std::exception& failure) {
    // What the window shows in its error box; the sources started so far go on.
    std::cerr << failure.what() << std::endl;
    failures.emplace_back(failure.what());
  }
  loop.Run();

  driver.StopMonitoring();
  output.Finish(FinalPrintGrace);
  std::ranges::copy(log.Failures(), std::back_inserter(failures));
  TMonitoringDriver::DestroySingleObjects();
  return EndStatus(failures);
}

} // namespace ornavel
