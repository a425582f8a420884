#include "platform/xmldom/XmlDom.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <cstdio>
#include <new>
#include <vector>

namespace platform::xmldom {

struct NodeData {
  DOMNodeType type = NODE_INVALID;
  std::string name;
  std::string value;
  bool hasValue = false;
  std::vector<std::unique_ptr<NodeData>> attributes;
  std::vector<std::unique_ptr<NodeData>> children;
  const NodeData* next = nullptr;
};

struct Tree {
  NodeData document;
};

namespace {

bool IsBlank(const std::string& text) {
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

std::string QualifiedName(const xmlChar* name, const xmlNs* ns) {
  std::string result;
  if (ns != nullptr && ns->prefix != nullptr) {
    result = reinterpret_cast<const char*>(ns->prefix);
    result += ':';
  }
  if (name != nullptr) result += reinterpret_cast<const char*>(name);
  return result;
}

std::string Text(const xmlChar* text) {
  return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

void Link(NodeData& parent) {
  for (std::size_t i = 0; i + 1 < parent.children.size(); ++i)
    parent.children[i]->next = parent.children[i + 1].get();
  for (std::size_t i = 0; i + 1 < parent.attributes.size(); ++i)
    parent.attributes[i]->next = parent.attributes[i + 1].get();
}

void AddAttribute(NodeData& element, std::string name, std::string value) {
  auto attr = std::make_unique<NodeData>();
  attr->type = NODE_ATTRIBUTE;
  attr->name = std::move(name);
  attr->value = std::move(value);
  attr->hasValue = true;
  element.attributes.push_back(std::move(attr));
}

// Copies libxml2's children of from into to. libxml2 bounds the nesting depth (256 without
// XML_PARSE_HUGE), which bounds this recursion too.
void CopyChildren(const xmlNode* from, NodeData& to) {
  for (const xmlNode* child = from->children; child != nullptr; child = child->next) {
    auto node = std::make_unique<NodeData>();
    switch (child->type) {
      case XML_ELEMENT_NODE: {
        node->type = NODE_ELEMENT;
        node->name = QualifiedName(child->name, child->ns);
        for (const xmlNs* ns = child->nsDef; ns != nullptr; ns = ns->next) {
          std::string name = ns->prefix == nullptr ? "xmlns" : "xmlns:" + Text(ns->prefix);
          AddAttribute(*node, std::move(name), Text(ns->href));
        }
        for (const xmlAttr* attr = child->properties; attr != nullptr; attr = attr->next) {
          xmlChar* value = xmlNodeListGetString(child->doc, attr->children, 1);
          AddAttribute(*node, QualifiedName(attr->name, attr->ns), Text(value));
          xmlFree(value);
        }
        CopyChildren(child, *node);
        break;
      }
      case XML_TEXT_NODE:
        node->type = NODE_TEXT;
        node->name = "#text";
        node->value = Text(child->content);
        node->hasValue = true;
        if (IsBlank(node->value)) continue;
        break;
      case XML_CDATA_SECTION_NODE:
        node->type = NODE_CDATA_SECTION;
        node->name = "#cdata-section";
        node->value = Text(child->content);
        node->hasValue = true;
        break;
      case XML_PI_NODE:
        node->type = NODE_PROCESSING_INSTRUCTION;
        node->name = Text(child->name);
        node->value = Text(child->content);
        node->hasValue = true;
        break;
      case XML_COMMENT_NODE:
        node->type = NODE_COMMENT;
        node->name = "#comment";
        node->value = Text(child->content);
        node->hasValue = true;
        break;
      default:
        continue;  // no DTD or entity nodes can occur: those documents are refused
    }
    to.children.push_back(std::move(node));
  }
  Link(to);
}

// The XML declaration is no node in libxml2; MSXML shows it as the processing instruction "xml".
void AddDeclaration(const std::string& text, NodeData& document) {
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (text.compare(start, 5, "<?xml") != 0 || text.size() <= start + 5) return;
  char after = text[start + 5];
  if (after != ' ' && after != '\t' && after != '\r' && after != '\n') return;
  std::size_t end = text.find("?>", start + 5);
  if (end == std::string::npos) return;
  auto node = std::make_unique<NodeData>();
  node->type = NODE_PROCESSING_INSTRUCTION;
  node->name = "xml";
  std::size_t from = text.find_first_not_of(" \t\r\n", start + 5);
  node->value = text.substr(from, end - from);
  node->hasValue = true;
  document.children.insert(document.children.begin(), std::move(node));
}

struct ParseState {
  bool refusedDtd = false;
};

void RefuseSubset(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  static_cast<ParseState*>(ctxt->_private)->refusedDtd = true;
  xmlStopParser(ctxt);
}

void Silent(void*, const char*, ...) {}

std::shared_ptr<Tree> EmptyTree() {
  auto tree = std::make_shared<Tree>();
  tree->document.type = NODE_DOCUMENT;
  tree->document.name = "#document";
  return tree;
}

}  // namespace

std::string ComError::ErrorMessage() const {
  if (!m_strCause.empty()) return m_strCause;
  switch (m_hr) {
    case E_POINTER:
      return "Invalid pointer";
    case E_OUTOFMEMORY:
      return "Not enough memory resources are available to complete this operation.";
    case E_INVALIDARG:
      return "The parameter is incorrect.";
    case E_FAIL:
      return "Unspecified error";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Unknown error 0x%08X", static_cast<unsigned>(m_hr));
      return text;
    }
  }
}

HRESULT IXMLDOMNode::get_nodeName(std::string& name) const {
  if (m_node == nullptr) return E_POINTER;
  name = m_node->name;
  return S_OK;
}

HRESULT IXMLDOMNode::get_nodeValue(std::string& value) const {
  if (m_node == nullptr) return E_POINTER;
  value = m_node->value;
  return m_node->hasValue ? S_OK : S_FALSE;
}

HRESULT IXMLDOMNode::get_nodeType(DOMNodeType& type) const {
  if (m_node == nullptr) return E_POINTER;
  type = m_node->type;
  return S_OK;
}

HRESULT IXMLDOMNode::get_firstChild(std::shared_ptr<IXMLDOMNode>& child) const {
  if (m_node == nullptr) return E_POINTER;
  child.reset();
  if (m_node->children.empty()) return S_FALSE;
  child = std::make_shared<IXMLDOMNode>(m_tree, m_node->children.front().get());
  return S_OK;
}

HRESULT IXMLDOMNode::get_nextSibling(std::shared_ptr<IXMLDOMNode>& sibling) const {
  if (m_node == nullptr) return E_POINTER;
  sibling.reset();
  if (m_node->next == nullptr) return S_FALSE;
  sibling = std::make_shared<IXMLDOMNode>(m_tree, m_node->next);
  return S_OK;
}

HRESULT IXMLDOMNode::get_attributes(std::shared_ptr<IXMLDOMNamedNodeMap>& map) const {
  if (m_node == nullptr) return E_POINTER;
  map.reset();
  if (m_node->type != NODE_ELEMENT) return S_FALSE;
  map = std::make_shared<IXMLDOMNamedNodeMap>(m_tree, m_node);
  return S_OK;
}

HRESULT IXMLDOMNode::hasChildNodes(VARIANT_BOOL& has) const {
  if (m_node == nullptr) return E_POINTER;
  has = m_node->children.empty() ? VARIANT_FALSE : VARIANT_TRUE;
  return has == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT IXMLDOMNode::get_text(std::string& text) const {
  if (m_node == nullptr) return E_POINTER;
  if (m_node->type == NODE_TEXT || m_node->type == NODE_CDATA_SECTION || m_node->type == NODE_ATTRIBUTE) {
    text = m_node->value;
    return S_OK;
  }
  text.clear();
  std::vector<const NodeData*> pending{m_node};
  while (!pending.empty()) {
    const NodeData* node = pending.back();
    pending.pop_back();
    if (node->type == NODE_TEXT || node->type == NODE_CDATA_SECTION) text += node->value;
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) pending.push_back(it->get());
  }
  return S_OK;
}

HRESULT IXMLDOMNamedNodeMap::get_length(long& length) const {
  if (m_element == nullptr) return E_POINTER;
  length = static_cast<long>(m_element->attributes.size());
  return S_OK;
}

HRESULT IXMLDOMNamedNodeMap::get_item(long index, std::shared_ptr<IXMLDOMNode>& item) const {
  if (m_element == nullptr) return E_POINTER;
  item.reset();
  if (index < 0 || static_cast<std::size_t>(index) >= m_element->attributes.size()) return E_INVALIDARG;
  item = std::make_shared<IXMLDOMNode>(m_tree, m_element->attributes[static_cast<std::size_t>(index)].get());
  return S_OK;
}

IXMLDOMDocument::IXMLDOMDocument() : IXMLDOMNode(nullptr, nullptr) {
  auto tree = EmptyTree();
  m_node = &tree->document;
  m_tree = std::move(tree);
}

HRESULT IXMLDOMDocument::loadXML(const std::string& text, VARIANT_BOOL& ok) {
  ok = VARIANT_FALSE;
  std::shared_ptr<Tree> tree;
  try {
    tree = EmptyTree();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_node = &tree->document;
  m_tree = tree;
  m_strParseError.clear();
  if (text.empty()) {
    m_strParseError = "empty text";
    return S_FALSE;
  }
  if (text.size() > kMaxDocumentBytes) {
    m_strParseError = "document too large";
    return S_FALSE;
  }

  if (const std::string& failure = XmlLibraryFailure(); !failure.empty()) {
    m_strParseError = failure;
    return E_FAIL;
  }
  xmlInitParser();
  xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
  if (ctxt == nullptr) return E_OUTOFMEMORY;
  ParseState state;
  ctxt->_private = &state;
  // No network, no DTD loading, no default attributes, no entity substitution, and no error output.
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  ctxt->sax->internalSubset = RefuseSubset;
  ctxt->sax->externalSubset = RefuseSubset;
  ctxt->sax->error = Silent;
  ctxt->sax->warning = Silent;
  ctxt->vctxt.error = Silent;
  ctxt->vctxt.warning = Silent;
  xmlParseDocument(ctxt);
  bool wellFormed = ctxt->wellFormed != 0 && !state.refusedDtd;
  if (!wellFormed) {
    const xmlError* error = xmlCtxtGetLastError(ctxt);
    m_strParseError = state.refusedDtd ? "document type declarations are refused"
                      : error != nullptr && error->message != nullptr ? error->message
                                                                      : "not well-formed";
    while (!m_strParseError.empty() && m_strParseError.back() == '\n') m_strParseError.pop_back();
  }
  xmlDocPtr doc = ctxt->myDoc;
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);

  HRESULT hr = S_FALSE;
  if (wellFormed && doc != nullptr) {
    try {
      CopyChildren(reinterpret_cast<const xmlNode*>(doc), tree->document);
      AddDeclaration(text, tree->document);
      Link(tree->document);
      ok = VARIANT_TRUE;
      hr = S_OK;
    } catch (const std::bad_alloc&) {
      tree->document.children.clear();
      hr = E_OUTOFMEMORY;
    }
  }
  if (doc != nullptr) xmlFreeDoc(doc);
  return hr;
}

HRESULT IXMLDOMDocument::get_documentElement(std::shared_ptr<IXMLDOMElement>& element) const {
  element.reset();
  if (m_node == nullptr) return E_POINTER;
  for (const auto& child : m_node->children) {
    if (child->type == NODE_ELEMENT) {
      element = std::make_shared<IXMLDOMNode>(m_tree, child.get());
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT CreateDocument(std::shared_ptr<IXMLDOMDocument>& document) {
  try {
    document = std::make_shared<IXMLDOMDocument>();
    return S_OK;
  } catch (const std::bad_alloc&) {
    document.reset();
    return E_OUTOFMEMORY;
  }
}

}  // namespace platform::xmldom
