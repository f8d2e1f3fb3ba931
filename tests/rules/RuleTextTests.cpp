#include "TestSupport.h"
#include "rules/PatternUnit.h"
#include "rules/RuleTextUnit.h"

#include <fnmatch.h>
#include <set>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

TEST(MonitorTypesText, WritesMemberNamesInOrdinalOrder) {
  EXPECT_EQ(MonitorTypesToString({}), "");
  EXPECT_EQ(MonitorTypesToString({mtSyslog, mtFile}), "mtFile,mtSyslog");
  EXPECT_EQ(MonitorTypesToString(TMonitorTypes::All()), "mtFile,mtSyslog,mtEventLog,mtDebugString");
  EXPECT_EQ(TMonitorTypes::All().Bits(), 15);
  EXPECT_EQ(TMonitorTypes({mtEventLog}).Bits(), 4);
}

struct TTypesCase {
  const char* Text;
  std::uint8_t Bits;
};

class MonitorTypesRead : public testing::TestWithParam<TTypesCase> {};

TEST_P(MonitorTypesRead, AcceptsTheWrittenFormAndLooserOnes) {
  EXPECT_EQ(StringToMonitorTypes(GetParam().Text).Bits(), GetParam().Bits) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(
    RuleText, MonitorTypesRead,
    testing::Values(TTypesCase{"", 0}, TTypesCase{"mtFile", 1},
                    TTypesCase{"mtFile,mtSyslog,mtEventLog,mtDebugString", 15},
                    TTypesCase{"  [mtSyslog, mtDebugString]", 10}, TTypesCase{"MTEVENTLOG", 4},
                    TTypesCase{"mtFile,,  ,mtFile", 1}, TTypesCase{"[]", 0}, TTypesCase{"   ", 0}),
    [](const auto& info) { return test::CaseName(info.index, info.param.Text); });

TEST(MonitorTypesText, UnknownWordIsAnError) {
  try {
    StringToMonitorTypes("mtFile,mtPrinter");
    FAIL() << "accepted";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Invalid property element: mtPrinter");
  }
  // Only one opening bracket is skipped, and nothing else is.
  EXPECT_THROW(StringToMonitorTypes("[[mtFile]"), EConvertError);
  EXPECT_THROW(StringToMonitorTypes("mtFile;mtSyslog"), EConvertError);
}

TEST(ColorText, NameTableHas52DistinctNamesAndValuesThatReadBack) {
  std::set<TColor> values;
  std::set<std::string> names;
  for (std::uint32_t index = 0; index <= 31; ++index) {
    const auto color = static_cast<TColor>(0xFF000000u + index);
    if (ColorName(color))
      values.insert(color);
  }
  const TColor plain[] = {clBlack, clMaroon,  clGreen,  clOlive,  clNavy,       clPurple,
                          clTeal,  clGray,    clSilver, clRed,    clLime,       clYellow,
                          clBlue,  clFuchsia, clAqua,   clWhite,  clMoneyGreen, clSkyBlue,
                          clCream, clMedGray, clNone,   clDefault};
  for (TColor color : plain)
    values.insert(color);
  for (TColor color : values) {
    const auto name = ColorName(color);
    ASSERT_TRUE(name) << std::hex << color;
    names.insert(std::string(*name));
    EXPECT_EQ(StringToColor(*name), color);
    EXPECT_EQ(ColorToString(color), *name);
  }
  EXPECT_EQ(values.size(), 52u);
  EXPECT_EQ(names.size(), 52u);
  EXPECT_FALSE(ColorName(SystemColor(25))); // no name for system colour 25
}

struct TColorCase {
  const char* Text;
  TColor Color;
};

class ColorRead : public testing::TestWithParam<TColorCase> {};

TEST_P(ColorRead, ReadsNamesAndNumbers) {
  EXPECT_EQ(StringToColor(GetParam().Text), GetParam().Color) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(RuleText, ColorRead,
                         testing::Values(TColorCase{"clRed", clRed}, TColorCase{"CLRED", clRed},
                                         TColorCase{"clwindowtext", clWindowText},
                                         TColorCase{"$00FF8080", 0x00FF8080},
                                         TColorCase{"255", clRed}, TColorCase{"-1", -1},
                                         TColorCase{"$FF000019", SystemColor(25)},
                                         TColorCase{"cl3DDkShadow", cl3DDkShadow}),
                         [](const auto& info) {
                           return test::CaseName(info.index, info.param.Text);
                         });

TEST(ColorText, UnnamedValuesAreWrittenAsEightHexDigits) {
  EXPECT_EQ(ColorToString(0x00FF8080), "$00FF8080");
  EXPECT_EQ(ColorToString(SystemColor(25)), "$FF000019");
  EXPECT_EQ(ColorToString(0x00000001), "$00000001");
  EXPECT_EQ(ColorToString(clMoneyGreen), "clMoneyGreen");
}

TEST(ColorText, TextThatIsNeitherNameNorNumberIsAnError) {
  try {
    StringToColor("clOrange");
    FAIL() << "accepted";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'clOrange' is not a valid integer value");
  }
  EXPECT_THROW(StringToColor(""), EConvertError);
  EXPECT_THROW(StringToColor("$1FFFFFFFF"), EConvertError);
}

// What "hide lines like this" writes finds the text itself and nothing merely like it.
TEST(LiteralText, ARuleOrGlobMadeFromTextMatchesJustThatText) {
  for (const std::string& text :
       std::vector<std::string>{"a.b (x*2) [y]+ ^$ | \\ {3} ?", "tab\there\nand\x7f",
                                std::string("nul \0 b\xe4r \xff", 11), "\\E \\Q(*UTF) #"}) {
    const TPattern pattern(LiteralRegExp(text));
    ASSERT_TRUE(pattern.Valid()) << pattern.CompileError();
    EXPECT_TRUE(pattern.Search("before " + text + " after")) << LiteralRegExp(text);
    std::string altered = text;
    altered[1] = altered[1] == 'x' ? 'y' : 'x';
    EXPECT_FALSE(pattern.Search(altered)) << LiteralRegExp(text);
  }
  EXPECT_EQ(LiteralRegExp("disk 5% full.\n"), "disk 5\\% full\\.\\x0A");
  for (const std::string name : {"/var/log/[a]*?.log", "back\\slash", "10.0.0.1"}) {
    EXPECT_EQ(::fnmatch(LiteralGlob(name).c_str(), name.c_str(), 0), 0) << LiteralGlob(name);
    EXPECT_NE(::fnmatch(LiteralGlob(name).c_str(), (name + "x").c_str(), 0), 0);
  }
  EXPECT_NE(::fnmatch(LiteralGlob("a*").c_str(), "abc", 0), 0);
}

} // namespace
} // namespace ornavel
