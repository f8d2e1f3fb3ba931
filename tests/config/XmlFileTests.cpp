#include "TestSupport.h"
#include "config/XmlFileUnit.h"

#include <gtest/gtest.h>

namespace ornavel {
namespace {

std::string ParseFailure(std::string_view text) {
  try {
    ParseXml(text);
  } catch (const EXmlFileError& error) {
    return error.what();
  }
  return "parsed";
}

TEST(XmlFile, ParseErrorNamesTheLineAndQuotesItsStartOnOneRow) {
  EXPECT_EQ(ParseFailure("<a>\r\n<b>\r\n</a>"), "Line 3: Start-end tags mismatch: \"</a>\"");
  const std::string longLine = "<a><b attr=\"" + std::string(60, 'x') + "></a>";
  EXPECT_EQ(ParseFailure("<?xml version=\"1.0\"?>\n" + longLine + "\n"),
            "Line 2: Error parsing element attribute: \"" + longLine.substr(0, 40) + "\"");
  EXPECT_EQ(ParseFailure(""), "Line 1: No document element found");
}

TEST(XmlFile, KeepsTheBytesItReadsExceptWhereChanged) {
  const std::string text = test::CrLf({R"(<?xml version="1.0" encoding="UTF-8"?>)", "<!DOCTYPE r>",
                                       "<r>", "  <a b=\"1\"> x </a>",
                                       "\t<?pi data?><![CDATA[<raw>]]>", "</r>", "<!-- after -->"});
  EXPECT_EQ(SerializeXml(*ParseXml(text)), text);
}

TEST(XmlFile, AppendedElementsStandOnLinesOfTheirOwn) {
  auto document = ParseXml("<r/>");
  pugi::xml_node list = AppendLaidOut(document->document_element(), "List");
  AppendLaidOut(list, "Item").text().set("1");
  AppendCopyLaidOut(list, list.first_element_by_path("Item"));
  AppendLaidOut(document->document_element(), "Flag");
  EXPECT_EQ(SerializeXml(*document),
            test::CrLf({"<r>", "  <List>", "    <Item>1</Item>", "    <Item>1</Item>", "  </List>",
                        "  <Flag/>", "</r>"}));
}

TEST(XmlFile, SkeletonIsMadeOnlyWhenNoFileIsThere) {
  test::TTemporaryFolder folder;
  const std::string path = folder.File("Rules.xml");
  CreateXmlSkeletonIfMissing(path, "Rules");
  EXPECT_EQ(test::ReadFile(path), test::CrLf({R"(<?xml version="1.0"?>)", "<Rules/>"}));
  test::WriteFile(path, "mine");
  CreateXmlSkeletonIfMissing(path, "Rules");
  EXPECT_EQ(test::ReadFile(path), "mine");
}

} // namespace
} // namespace ornavel
