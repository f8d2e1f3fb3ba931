#include "core/FormatUnit.h"

#include <climits>
#include <cstdint>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

TEST(Format, InsertsTextAndIntegersInOrder) {
  EXPECT_EQ(Format("Monitoring %s", "/var/log/syslog"), "Monitoring /var/log/syslog");
  EXPECT_EQ(Format("%s.%s - %s", "user", "notice", "disk full"), "user.notice - disk full");
  EXPECT_EQ(Format("(%s) %s ", "Application", "Service started."),
            "(Application) Service started. ");
  EXPECT_EQ(Format(" Ornavel - %d item(s)", 42), " Ornavel - 42 item(s)");
  EXPECT_EQ(Format("%d%%", -7), "-7%");
}

TEST(Format, NeverReadsInsertedTextAsAFormat) {
  EXPECT_EQ(Format("Got bad data from %s", "%s%d%n%x"), "Got bad data from %s%d%n%x");
  EXPECT_EQ(Format("%s", std::string("100% full")), "100% full");
}

TEST(Format, WidthPrecisionAndHex) {
  EXPECT_EQ(Format("($%.8x) ", 3900u), "($00000F3C) ");
  EXPECT_EQ(Format("$%.8x", static_cast<std::int32_t>(0xFF000019)), "$FF000019");
  EXPECT_EQ(Format("%x", -1), "FFFFFFFF");
  EXPECT_EQ(Format("%u", static_cast<std::int8_t>(-1)), "255");
  EXPECT_EQ(Format("[%5d]", 42), "[   42]");
  EXPECT_EQ(Format("[%-5d]", 42), "[42   ]");
  EXPECT_EQ(Format("[%.3d]", -5), "[-005]");
  EXPECT_EQ(Format("[%.2s]", "abc"), "[ab]");
  EXPECT_EQ(Format("%d", LLONG_MIN), "-9223372036854775808");
  EXPECT_EQ(Format("%d", ULLONG_MAX), "18446744073709551615");
}

struct TBadFormat {
  const char* Name;
  std::string (*Run)();
};

class FormatMismatch : public testing::TestWithParam<TBadFormat> {};

TEST_P(FormatMismatch, IsAClearError) {
  EXPECT_THROW(GetParam().Run(), EFormatError);
}

INSTANTIATE_TEST_SUITE_P(
    Format, FormatMismatch,
    testing::Values(TBadFormat{"TextForInteger", [] { return Format("%d", "seven"); }},
                    TBadFormat{"IntegerForText", [] { return Format("%s", 7); }},
                    TBadFormat{"MissingArgument", [] { return Format("%s and %s", "one"); }},
                    TBadFormat{"ExtraArgument", [] { return Format("%s", "one", "two"); }},
                    TBadFormat{"NoArguments", [] { return Format("%d"); }},
                    TBadFormat{"UnknownDirective", [] { return Format("%n", 1); }},
                    TBadFormat{"TrailingPercent", [] { return Format("50%"); }},
                    TBadFormat{"HugeWidth", [] { return Format("%999999999d", 1); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Format, ErrorNamesTheFormat) {
  try {
    Format("value %d", "x");
    FAIL() << "no error";
  } catch (const EFormatError& error) {
    EXPECT_STREQ(error.what(), "Format 'value %d' invalid or incompatible with argument");
  }
}

} // namespace
} // namespace ornavel
