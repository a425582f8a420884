// The XML walker over the libxml2 DOM: visit order and current-node fields, the path, the text look-up
// and its restore, attributes, and documents the parser must refuse without expanding anything.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/XMLParser.h"

namespace {

struct Visit {
  std::string tag;
  std::string path;
  std::string text;
  std::vector<std::string> names;
  std::vector<std::string> values;
};

class RecordingParser : public XMLParser {
 public:
  void ParseXMLDocument() override {
    visits.push_back({m_strTag, m_strPath, m_strText, m_saAttributeNames, m_saAttributeValues});
    if (Tag_Equals(probeTag)) {
      probedText = Get_TextValue();
      tagAfterProbe = m_strTag;
      nameAfterProbe = m_strName;
    }
  }
  std::vector<Visit> visits;
  std::string probeTag = "<none>";
  std::string probedText;
  std::string tagAfterProbe;
  std::string nameAfterProbe;
};

std::vector<std::string> Tags(const RecordingParser& parser) {
  std::vector<std::string> tags;
  for (const Visit& visit : parser.visits) tags.push_back(visit.tag);
  return tags;
}

TEST(XMLParserTest, VisitsInDocumentOrderWithPathsTextAndAttributes) {
  RecordingParser parser;
  parser.Load_From_Text("<a x=\"1\"><b>t</b></a>");
  ASSERT_EQ(parser.visits.size(), 4u);
  EXPECT_EQ(parser.visits[0].tag, "<#document>");
  EXPECT_EQ(parser.visits[0].path, "");
  EXPECT_EQ(parser.visits[1].tag, "<a>");
  EXPECT_EQ(parser.visits[1].path, "<#document>");
  EXPECT_EQ(parser.visits[1].names, std::vector<std::string>{"x"});
  EXPECT_EQ(parser.visits[1].values, std::vector<std::string>{"1"});
  EXPECT_EQ(parser.visits[2].tag, "<b>");
  EXPECT_EQ(parser.visits[2].path, "<#document><a>");
  EXPECT_TRUE(parser.visits[2].names.empty());
  EXPECT_EQ(parser.visits[3].tag, "<#TEXT#>");
  EXPECT_EQ(parser.visits[3].path, "<#document><a><b>");
  EXPECT_EQ(parser.visits[3].text, "t");
  // After the walk the path is empty and the current node is the root element.
  EXPECT_EQ(parser.GetPath(), "");
  EXPECT_EQ(parser.Get_TextValue(), "");
  EXPECT_TRUE(parser.Document_Parsed());
}

TEST(XMLParserTest, TextValueOfAnElementRestoresItsFields) {
  RecordingParser parser;
  parser.probeTag = "<b>";
  parser.Load_From_Text("<a><b><![CDATA[c]]><c/>t<!--n-->u</b></a>");
  EXPECT_EQ(parser.probedText, "t");  // the first text child; CDATA children are skipped
  EXPECT_EQ(parser.tagAfterProbe, "<b>");
  EXPECT_EQ(parser.nameAfterProbe, "b");
  EXPECT_EQ(Tags(parser), (std::vector<std::string>{"<#document>", "<a>", "<b>", "<#CDATA#>", "<c>",
                                                    "<#TEXT#>", "<#comment>", "<#TEXT#>"}));
}

TEST(XMLParserTest, DeclarationIsOneExtraVisitWithTheDocumentFields) {
  RecordingParser parser;
  parser.Load_From_Text("<?xml version=\"1.0\"?>\n<a/>");
  ASSERT_EQ(Tags(parser), (std::vector<std::string>{"<#document>", "<#document>", "<a>"}));
  EXPECT_EQ(parser.visits[1].path, "<#document>");
  // Other processing instructions behave the same: the previous node's fields stay.
  parser.visits.clear();
  parser.Load_From_Text("<a><b/><?pi data?></a>");
  EXPECT_EQ(Tags(parser), (std::vector<std::string>{"<#document>", "<a>", "<b>", "<b>"}));
}

TEST(XMLParserTest, WhitespaceOnlyTextIsNotReported) {
  RecordingParser parser;
  parser.Load_From_Text("<a>\r\n  <b> x </b>\n\t</a>");
  EXPECT_EQ(Tags(parser), (std::vector<std::string>{"<#document>", "<a>", "<b>", "<#TEXT#>"}));
  EXPECT_EQ(parser.visits[3].text, " x ");
}

TEST(XMLParserTest, ParentPathTestsTheFirstOccurrenceOnly) {
  struct Case {
    const char* path;
    const char* tag;
    bool expected;
  };
  const Case cases[] = {
      {"<#document><ScanToDestinations>", "<ScanToDestination>", false},
      {"<#document><ScanToDestinations><ScanToDestinationList><ScanToDestination>", "<ScanToDestination>",
       true},
      {"<#document><a><b><a>", "<a>", false},
      {"<#document><a>", "<a>", true},
      {"", "<a>", false},
  };
  for (const Case& c : cases) {
    struct PathParser : XMLParser {
      bool Test(const char* path, const char* tag) {
        m_strPath = path;
        return Parent_Path_Ends_With(tag);
      }
    } parser;
    EXPECT_EQ(parser.Test(c.path, c.tag), c.expected) << c.path << " " << c.tag;
  }
}

TEST(XMLParserTest, AttributeLookUpAndItsErrorText) {
  struct AttrParser : XMLParser {
    void ParseXMLDocument() override {
      if (!Tag_Equals("<e>")) return;
      before = Get_Attribute_Value();
      errorBefore = GetLastError();
      found = Find_Attribute("DestinationID");
      value = Get_Attribute_Value();
      missing = Find_Attribute("destinationid");
      count = Get_Attribute_Count();
    }
    std::string before, errorBefore, value;
    bool found = false, missing = true;
    int count = 0;
  } parser;
  parser.Load_From_Text("<e a=\"1\" DestinationID=\"4\" z=\"&amp;&lt;\"/>");
  const std::string error = "XMLParser::Get_Attribute_Value()  : Can't Retrieve an Attribute";
  EXPECT_EQ(parser.before, error);
  EXPECT_EQ(parser.errorBefore, error);
  EXPECT_TRUE(parser.found);
  EXPECT_EQ(parser.value, "4");
  EXPECT_FALSE(parser.missing);
  EXPECT_EQ(parser.count, 3);
  EXPECT_EQ(parser.GetLastError(), "Success");
}

TEST(XMLParserTest, TextValueWithoutAnyDocumentSetsTheErrorText) {
  XMLParser parser;
  EXPECT_EQ(parser.Get_TextValue(), "");
  EXPECT_EQ(parser.GetLastError(), "XMLParser::Get_TextValue() Can't set text on NULL node");
}

// Texts that must leave an empty document: only the document node is visited, nothing is expanded.
TEST(XMLParserTest, RefusedTextsLeaveAnEmptyDocument) {
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\">";
  for (char c = 'b'; c <= 'k'; ++c) {
    std::string ref = std::string("&") + static_cast<char>(c - 1) + ";";
    std::string tenRefs;
    for (int i = 0; i < 10; ++i) tenRefs += ref;
    laughs += std::string("<!ENTITY ") + c + " \"" + tenRefs + "\">";
  }
  laughs += "]><l>&k;</l>";
  const std::string cases[] = {
      "",
      "not xml",
      "<a><b></a>",
      laughs,
      "<!DOCTYPE a SYSTEM \"http://127.0.0.1:1/x.dtd\"><a>&ext;</a>",
      "<a>\xC3\x28</a>",  // invalid UTF-8
      "<a>&undefined;</a>",
      "<a/><b/>",
  };
  for (const std::string& text : cases) {
    RecordingParser parser;
    parser.Load_From_Text(text.c_str());
    EXPECT_EQ(Tags(parser), std::vector<std::string>{"<#document>"}) << text.substr(0, 60);
    EXPECT_FALSE(parser.Document_Parsed());
  }
}

TEST(XMLParserTest, ReloadingStartsFromAFreshDocument) {
  RecordingParser parser;
  parser.Load_From_Text("<a><b>1</b></a>");
  parser.visits.clear();
  parser.Load_From_Text("<c>2</c>");
  EXPECT_EQ(Tags(parser), (std::vector<std::string>{"<#document>", "<c>", "<#TEXT#>"}));
  EXPECT_EQ(parser.Get_TextValue(), "2");  // the root element after the walk
}

// The shape limits: a text past one is refused before parsing and walks as the empty document; a text at
// a limit, and markup that only looks like more (quoted '>' and '=', comments, CDATA), passes.
TEST(XMLParserTest, ShapeLimitsRefuseBeforeParsing) {
  XmlLimits limits;
  limits.nMaxBytes = 400;
  limits.nMaxNodes = 6;
  limits.nMaxDepth = 3;
  limits.nMaxAttributes = 2;
  const struct {
    std::string text;
    bool parsed;
    const char* refused;  // part of the reason, "" when not refused
  } cases[] = {
      {"<a x='1' y='2'><b><c/></b></a>", true, ""},
      {"<a x='1' y='2' z='3'/>", false, "more than 2 attributes"},
      {"<a><b><c><d></d></c></b></a>", false, "deeper than 3 levels"},
      {"<a><b><c><d/></c></b></a>", true, ""},  // an empty-element tag nests nothing
      {"<a><b/><b/><b/><b/><b/><b/></a>", false, "more than 6 elements"},
      {"<a>" + std::string(400, 'x') + "</a>", false, "more than 400"},
      {"<a x='>=>=' y=\"'='\"><!-- <b><c><d> x=1 y=2 z=3 --><![CDATA[<e f=1 g=2 h=3>]]></a>", true, ""},
      {"<a><b></b><b></b><b></b></a>", true, ""},  // end tags give the depth back
      {"<?xml version='1.0'?><a/>", true, ""},
  };
  for (const auto& c : cases) {
    RecordingParser parser;
    parser.Set_Limits(limits);
    parser.Load_From_Text(c.text.c_str());
    EXPECT_EQ(parser.Document_Parsed(), c.parsed) << c.text.substr(0, 60);
    if (*c.refused == '\0') {
      EXPECT_EQ(parser.Load_Refused(), "") << c.text.substr(0, 60);
      continue;
    }
    EXPECT_NE(parser.Load_Refused().find(c.refused), std::string::npos) << parser.Load_Refused();
    EXPECT_EQ(parser.Parse_Error(), parser.Load_Refused());
    EXPECT_EQ(Tags(parser), std::vector<std::string>{"<#document>"});
  }
}

}  // namespace
