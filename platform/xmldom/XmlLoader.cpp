// libxml2 on first use (platform/module/LazyLibrary.h): the DOM layer and DEVWATCH's status reader call
// libxml2's functions by their own names, and these hidden definitions forward them to libxml2.so.2,
// loaded by the first call. Without it, the DOM layer's loadXML fails naming the library
// (XmlLibraryFailure) and the forwarded calls fail as on an allocation failure (no context, no document).
#include <iconv.h>

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/module/LazyLibrary.h"
#include "platform/xmldom/XmlDom.h"

// Only libxml2's own declarations are hidden; the C library's it includes come first, as they are.
#pragma GCC visibility push(hidden)
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlstring.h>
#pragma GCC visibility pop

namespace {

platform::module::LazyLibrary& Xml() {
  static auto* library = new platform::module::LazyLibrary("libxml2.so.2");
  return *library;
}

template <typename Fn>
Fn Resolve(const char* name) {
  return reinterpret_cast<Fn>(Xml().Find(name));
}

// xmlFree is a variable of libxml2 (its deallocator, replaceable): the program's copy calls through
// the library's current one.
void FreeThroughLibrary(void* memory) {
  static const auto current = reinterpret_cast<xmlFreeFunc*>(Xml().Find("xmlFree"));
  if (current != nullptr && *current != nullptr) (*current)(memory);
}

}  // namespace

const std::string& platform::xmldom::XmlLibraryFailure() {
  return Xml().Failure();
}

#define M3_XML_FORWARD(ret, name, params, args, failed)   \
  ret name params {                                       \
    static const auto fn = Resolve<ret(*) params>(#name); \
    return fn != nullptr ? fn args : failed;              \
  }
#define M3_XML_FORWARD_VOID(name, params, args)            \
  void name params {                                       \
    static const auto fn = Resolve<void(*) params>(#name); \
    if (fn != nullptr) fn args;                            \
  }

extern "C" {

xmlFreeFunc xmlFree = FreeThroughLibrary;

M3_XML_FORWARD_VOID(xmlInitParser, (void), ())
M3_XML_FORWARD(xmlParserCtxtPtr, xmlCreateMemoryParserCtxt, (const char* buffer, int size), (buffer, size),
               nullptr)
M3_XML_FORWARD(int, xmlCtxtUseOptions, (xmlParserCtxtPtr ctxt, int options), (ctxt, options), -1)
M3_XML_FORWARD(int, xmlParseDocument, (xmlParserCtxtPtr ctxt), (ctxt), -1)
M3_XML_FORWARD_VOID(xmlStopParser, (xmlParserCtxtPtr ctxt), (ctxt))
M3_XML_FORWARD(xmlErrorPtr, xmlCtxtGetLastError, (void* ctxt), (ctxt), nullptr)
M3_XML_FORWARD_VOID(xmlFreeParserCtxt, (xmlParserCtxtPtr ctxt), (ctxt))
M3_XML_FORWARD_VOID(xmlFreeDoc, (xmlDocPtr doc), (doc))
M3_XML_FORWARD(xmlChar*, xmlNodeListGetString, (xmlDocPtr doc, const xmlNode* list, int inLine),
               (doc, list, inLine), nullptr)
M3_XML_FORWARD(xmlDocPtr, xmlReadMemory,
               (const char* buffer, int size, const char* url, const char* encoding, int options),
               (buffer, size, url, encoding, options), nullptr)
M3_XML_FORWARD(xmlNodePtr, xmlDocGetRootElement, (const xmlDoc* doc), (doc), nullptr)
M3_XML_FORWARD(int, xmlStrcmp, (const xmlChar* a, const xmlChar* b), (a, b), a == b ? 0 : -1)

}  // extern "C"
