#include "device/XMLParser.h"

using platform::xmldom::ComError;

namespace {

// A DOM call that fails raises the COM error exception, as the COM smart pointers do.
void Check(HRESULT hr) {
  if (FAILED(hr)) throw ComError(hr);
}

DOMNodeType TypeOf(const std::shared_ptr<IXMLDOMNode>& node) {
  if (node == nullptr) throw ComError(E_POINTER);
  DOMNodeType type = NODE_INVALID;
  Check(node->get_nodeType(type));
  return type;
}

bool IsElementClass(DOMNodeType type) {
  return type != NODE_TEXT && type != NODE_CDATA_SECTION && type != NODE_PROCESSING_INSTRUCTION;
}

}  // namespace

XMLParser::XMLParser() : m_strLastError("Success"), m_strSuccessText("Success"), m_nAttributeIndex(-1) {}

XMLParser::~XMLParser() = default;

void XMLParser::ParseXMLDocument() {}

bool XMLParser::Create_Document() {
  m_strLastError = m_strSuccessText;
  m_pDocument.reset();
  HRESULT hr = platform::xmldom::CreateDocument(m_pDocument);
  if (FAILED(hr)) {
    m_strLastError = ComError(hr).ErrorMessage();
    return false;
  }
  return true;
}

void XMLParser::Reset_Document() {
  Create_Document();
  if (m_pDocument == nullptr) throw ComError(E_POINTER);
  VARIANT_BOOL ok = VARIANT_FALSE;
  Check(m_pDocument->loadXML("", ok));
  Check(m_pDocument->get_documentElement(m_pRootElement));
  m_pCurrentNode.reset();
  m_saAttributeNames.clear();
  m_saAttributeValues.clear();
  m_strTag.clear();
  m_strName.clear();
  m_strPath.clear();
  m_strText.clear();
  m_nAttributeIndex = -1;
  m_bParsed = false;
}

void XMLParser::Load_From_Text(const char* text) {
  Reset_Document();
  m_strRefused.clear();
  std::string content = text == nullptr ? std::string() : std::string(text);
  std::string why;
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (!CheckXmlShape(content, m_Limits, why)) {
    // The empty document Reset_Document left is what gets walked, as for a text that does not parse.
    m_strRefused = "refused before parsing: " + why;
  } else {
    // The success flag is not used: a text that does not parse leaves an empty document to walk.
    // A failure carries the document's reason (libxml2 missing) to whoever logs the exception.
    const HRESULT hr = m_pDocument->loadXML(content, ok);
    if (FAILED(hr)) throw ComError(hr, m_pDocument->LastParseError());
  }
  m_bParsed = ok == VARIANT_TRUE;
  Check(m_pDocument->get_documentElement(m_pRootElement));
  Walk_Node(m_pDocument);
  m_pCurrentNode = m_pRootElement;
  m_strPath.clear();
  m_nAttributeIndex = -1;
}

void XMLParser::Walk_Node(const Node& node) {
  Read_Node(node);
  m_pCurrentNode = node;
  ParseXMLDocument();
  if (!IsElementClass(TypeOf(node))) return;

  m_strPath += m_strTag;
  Node child;
  Check(node->get_firstChild(child));
  while (child != nullptr) {
    Walk_Node(child);
    Node next;
    Check(child->get_nextSibling(next));
    child = std::move(next);
  }
  std::size_t last = m_strPath.rfind('<');
  if (last == std::string::npos)
    m_strPath.clear();
  else
    m_strPath.erase(last);
}

void XMLParser::Read_Node(const Node& node) {
  DOMNodeType type = TypeOf(node);
  switch (type) {
    case NODE_TEXT:
    case NODE_CDATA_SECTION:
      m_strName = type == NODE_TEXT ? "#TEXT#" : "#CDATA#";
      m_strTag = "<" + m_strName + ">";
      Check(node->get_text(m_strText));
      m_saAttributeNames.clear();
      m_saAttributeValues.clear();
      return;
    case NODE_PROCESSING_INSTRUCTION:
      return;
    default:
      break;
  }

  Check(node->get_nodeName(m_strName));
  m_strTag = "<" + m_strName + ">";
  m_strText.clear();
  m_saAttributeNames.clear();
  m_saAttributeValues.clear();
  std::shared_ptr<IXMLDOMNamedNodeMap> map;
  Check(node->get_attributes(map));
  if (map == nullptr) return;
  long length = 0;
  Check(map->get_length(length));
  for (long i = 0; i < length; ++i) {
    Node item;
    Check(map->get_item(i, item));
    if (item == nullptr) throw ComError(E_POINTER);
    std::string name;
    std::string value;
    Check(item->get_nodeName(name));
    Check(item->get_nodeValue(value));
    m_saAttributeNames.push_back(std::move(name));
    m_saAttributeValues.push_back(std::move(value));
  }
}

bool XMLParser::Tag_Equals(const std::string& tag) const {
  return m_strTag == tag;
}

bool XMLParser::Parent_Path_Ends_With(const std::string& tag) const {
  std::size_t at = m_strPath.find(tag);
  return at != std::string::npos && at + tag.size() == m_strPath.size();
}

std::string XMLParser::Get_TextValue() {
  if (m_pCurrentNode != nullptr) {
    DOMNodeType type = TypeOf(m_pCurrentNode);
    if (type == NODE_TEXT || type == NODE_CDATA_SECTION) return m_strText;
  } else {
    if (m_pRootElement == nullptr) {
      m_strLastError = "XMLParser::Get_TextValue() Can't set text on NULL node";
      return std::string();
    }
    m_pCurrentNode = m_pRootElement;
  }

  VARIANT_BOOL has = VARIANT_FALSE;
  Check(m_pCurrentNode->hasChildNodes(has));
  if (has != VARIANT_TRUE) return std::string();
  Node child;
  Check(m_pCurrentNode->get_firstChild(child));
  while (child != nullptr) {
    if (TypeOf(child) == NODE_TEXT) {
      Read_Node(child);
      std::string text = m_strText;
      Read_Node(m_pCurrentNode);  // restore the current node's fields
      m_strText = text;
      return text;
    }
    Node next;
    Check(child->get_nextSibling(next));
    child = std::move(next);
  }
  return std::string();
}

bool XMLParser::Find_Attribute(const std::string& name) {
  m_nAttributeIndex = -1;
  for (std::size_t i = 0; i < m_saAttributeNames.size(); ++i) {
    if (m_saAttributeNames[i] == name) {
      m_nAttributeIndex = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

std::string XMLParser::Get_Attribute_Value() {
  m_strLastError = m_strSuccessText;
  if (m_nAttributeIndex != -1 && static_cast<std::size_t>(m_nAttributeIndex) < m_saAttributeValues.size())
    return m_saAttributeValues[static_cast<std::size_t>(m_nAttributeIndex)];
  m_strLastError = "XMLParser::Get_Attribute_Value()  : Can't Retrieve an Attribute";
  return m_strLastError;
}
