// The MSXML DOM shape the XML walker relies on, built on libxml2 (docs/platform.md "Layers").
// Callers: XMLParser (device/). A document is parsed once into an immutable node tree; node, element
// and attribute-map objects are shared handles into it, so they stay valid as long as anyone holds one.
// Node model as MSXML gives it: "#document" for the document node, document order, whitespace-only text
// nodes not reported, the XML declaration seen as one processing-instruction node "xml", attributes in
// document order, text and CDATA nodes. The parser never expands entities, never loads a DTD or anything
// from the network, and refuses a document type declaration outright (no entity bombs); a text that does
// not parse leaves an empty document. Calls return HRESULTs; the walker turns failures into ComError.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "platform/base/WinTypes.h"

using HRESULT = LONG;
using VARIANT_BOOL = short;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}
constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}

enum DOMNodeType : int {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_CDATA_SECTION = 4,
  NODE_ENTITY_REFERENCE = 5,
  NODE_PROCESSING_INSTRUCTION = 7,
  NODE_COMMENT = 8,
  NODE_DOCUMENT = 9,
};

namespace platform::xmldom {

struct NodeData;
struct Tree;

// The COM error exception: the result code and the text _com_error::ErrorMessage would give, or the
// cause when the raiser knows a better one (a parser library that could not be loaded).
class ComError {
 public:
  explicit ComError(HRESULT hr, std::string cause = std::string()) : m_hr(hr), m_strCause(std::move(cause)) {}
  HRESULT Error() const { return m_hr; }
  std::string ErrorMessage() const;

 private:
  HRESULT m_hr;
  std::string m_strCause;
};

class IXMLDOMNamedNodeMap;

class IXMLDOMNode {
 public:
  IXMLDOMNode(std::shared_ptr<const Tree> tree, const NodeData* node)
      : m_tree(std::move(tree)), m_node(node) {}
  virtual ~IXMLDOMNode() = default;

  HRESULT get_nodeName(std::string& name) const;
  // Attribute, text, CDATA, comment and processing-instruction nodes have a value; others S_FALSE.
  HRESULT get_nodeValue(std::string& value) const;
  HRESULT get_nodeType(DOMNodeType& type) const;
  // S_FALSE and a null result when there is none.
  HRESULT get_firstChild(std::shared_ptr<IXMLDOMNode>& child) const;
  HRESULT get_nextSibling(std::shared_ptr<IXMLDOMNode>& sibling) const;
  // Elements only; other nodes give S_FALSE and null.
  HRESULT get_attributes(std::shared_ptr<IXMLDOMNamedNodeMap>& map) const;
  HRESULT hasChildNodes(VARIANT_BOOL& has) const;
  // The node's text and that of all its descendants, in document order.
  HRESULT get_text(std::string& text) const;

 protected:
  std::shared_ptr<const Tree> m_tree;
  const NodeData* m_node;
};

using IXMLDOMElement = IXMLDOMNode;

class IXMLDOMNamedNodeMap {
 public:
  IXMLDOMNamedNodeMap(std::shared_ptr<const Tree> tree, const NodeData* element)
      : m_tree(std::move(tree)), m_element(element) {}
  HRESULT get_length(long& length) const;
  // E_INVALIDARG for an index out of range.
  HRESULT get_item(long index, std::shared_ptr<IXMLDOMNode>& item) const;

 private:
  std::shared_ptr<const Tree> m_tree;
  const NodeData* m_element;
};

class IXMLDOMDocument : public IXMLDOMNode {
 public:
  IXMLDOMDocument();
  // Replaces the tree. ok is VARIANT_FALSE (and the document empty) when the text does not parse,
  // holds a DTD or is larger than kMaxDocumentBytes. E_FAIL when libxml2 cannot be loaded, with
  // LastParseError naming it.
  HRESULT loadXML(const std::string& text, VARIANT_BOOL& ok);
  // S_FALSE and null when the document has no element.
  HRESULT get_documentElement(std::shared_ptr<IXMLDOMElement>& element) const;
  // Why the last load failed ("" after a good one), for logs and tests.
  const std::string& LastParseError() const { return m_strParseError; }

 private:
  std::string m_strParseError;
};

// Larger texts are refused without being parsed (the device's documents are a few KB).
inline constexpr std::size_t kMaxDocumentBytes = 4u << 20;

// Why libxml2 could not be loaded ("" when it loads); asking loads it.
const std::string& XmlLibraryFailure();

// CoCreateInstance of the document class: E_OUTOFMEMORY when it cannot be made.
HRESULT CreateDocument(std::shared_ptr<IXMLDOMDocument>& document);

}  // namespace platform::xmldom

// The interface names are global on Windows.
using platform::xmldom::IXMLDOMDocument;
using platform::xmldom::IXMLDOMElement;
using platform::xmldom::IXMLDOMNamedNodeMap;
using platform::xmldom::IXMLDOMNode;
