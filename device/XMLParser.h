// XMLParser: an event-style walker over the platform's XML DOM. Load_From_Text parses a text and visits
// every node in document order; for each it fills the current-node fields (tag, name, text, attributes,
// the path of enclosing tags) and calls ParseXMLDocument, which a derived class (DeviceTalk) overrides.
// Never writes documents and writes nothing to the log: its own misuses show only in m_strLastError;
// a failing DOM call raises platform::xmldom::ComError to the caller of Load_From_Text. A text that does
// not parse is no error: the walk then visits only the empty document node. Neither is a text past the
// walker's limits (XmlLimits: size, nodes, depth, attributes of one element): it is refused before the
// XML library sees it, walked as the empty document, and Load_Refused() says why, for the caller's log.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/XmlShape.h"
#include "platform/xmldom/XmlDom.h"

class XMLParser {
 public:
  XMLParser();
  virtual ~XMLParser();
  XMLParser(const XMLParser&) = delete;
  XMLParser& operator=(const XMLParser&) = delete;

  // Called once per visited node; the base does nothing.
  virtual void ParseXMLDocument();

  bool Create_Document();
  void Reset_Document();
  void Load_From_Text(const char* text);

  bool Tag_Equals(const std::string& tag) const;
  bool Parent_Path_Ends_With(const std::string& tag) const;
  std::string Get_TextValue();
  bool Find_Attribute(const std::string& name);
  std::string Get_Attribute_Value();
  int Get_Attribute_Count() const { return static_cast<int>(m_saAttributeNames.size()); }
  std::string Get_Current_Tag() const { return m_strTag; }

  // Whether the last Load_From_Text parsed, and the parser's reason when it did not.
  bool Document_Parsed() const { return m_bParsed; }
  std::string Parse_Error() const {
    if (!m_strRefused.empty()) return m_strRefused;
    return m_pDocument == nullptr ? std::string() : m_pDocument->LastParseError();
  }
  // Why the last text was refused before parsing ("" when it was handed to the parser).
  const std::string& Load_Refused() const { return m_strRefused; }
  void Set_Limits(const XmlLimits& limits) { m_Limits = limits; }

  const std::string& GetLastError() const { return m_strLastError; }
  const std::string& GetPath() const { return m_strPath; }
  const std::string& GetName() const { return m_strName; }
  const std::string& GetText() const { return m_strText; }
  const std::vector<std::string>& GetAttributeNames() const { return m_saAttributeNames; }
  const std::vector<std::string>& GetAttributeValues() const { return m_saAttributeValues; }

 protected:
  using Node = std::shared_ptr<IXMLDOMNode>;

  void Walk_Node(const Node& node);
  void Read_Node(const Node& node);

  std::string m_strTag;
  std::string m_strName;
  std::string m_strPath;
  std::string m_strText;
  std::shared_ptr<platform::xmldom::IXMLDOMDocument> m_pDocument;
  std::shared_ptr<IXMLDOMElement> m_pRootElement;
  Node m_pCurrentNode;
  std::string m_strLastError;
  const std::string m_strSuccessText;
  std::vector<std::string> m_saAttributeNames;
  std::vector<std::string> m_saAttributeValues;
  int m_nAttributeIndex;
  bool m_bParsed = false;
  XmlLimits m_Limits;
  std::string m_strRefused;
};
