// Markup as XML 1.0 (Fifth Edition) writes it: comments (2.5), processing instructions (2.6), CDATA
// sections (2.7), the document type declaration (2.8), start, end and empty-element tags (3.1), where an
// attribute is a name, "=" and a quoted value.
#include "device/XmlShape.h"

namespace {

std::size_t Find(std::string_view text, std::string_view what, std::size_t from) {
  std::size_t at = text.find(what, from);
  return at == std::string_view::npos ? text.size() : at + what.size();
}

}  // namespace

bool CheckXmlShape(std::string_view text, const XmlLimits& limits, std::string& why) {
  if (text.size() > limits.nMaxBytes) {
    why = "it is " + std::to_string(text.size()) + " bytes, more than " + std::to_string(limits.nMaxBytes);
    return false;
  }
  std::size_t nodes = 0;
  std::size_t depth = 0;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    if (text[i] != '<') {
      ++i;
      continue;
    }
    std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      i = Find(text, "-->", i + 4);
    } else if (rest.starts_with("<![CDATA[")) {
      i = Find(text, "]]>", i + 9);
    } else if (rest.starts_with("<?")) {
      i = Find(text, "?>", i + 2);
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      i = Find(text, ">", i + 2);
      continue;  // an end tag is no node of its own
    } else if (rest.starts_with("<!")) {
      // A document type declaration: its internal subset may hold '>' inside quotes and brackets.
      char quote = 0;
      int brackets = 0;
      for (i += 2; i < n; ++i) {
        const char c = text[i];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '[') {
          ++brackets;
        } else if (c == ']') {
          --brackets;
        } else if (c == '>' && brackets <= 0) {
          break;
        }
      }
      ++i;
    } else {
      // A start or empty-element tag: every '=' outside a quoted value starts one attribute's value.
      std::size_t attributes = 0;
      char quote = 0;
      char last = 0;
      for (++i; i < n; ++i) {
        const char c = text[i];
        if (quote != 0) {
          if (c == quote) quote = 0;
          continue;
        }
        if (c == '>') break;
        if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '=' && ++attributes > limits.nMaxAttributes) {
          break;  // refused below: no need to read the rest of the tag
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') last = c;
      }
      ++i;
      if (attributes > limits.nMaxAttributes) {
        why = "an element has more than " + std::to_string(limits.nMaxAttributes) + " attributes";
        return false;
      }
      if (last != '/' && ++depth > limits.nMaxDepth) {
        why = "its elements nest deeper than " + std::to_string(limits.nMaxDepth) + " levels";
        return false;
      }
    }
    if (++nodes > limits.nMaxNodes) {
      why = "it has more than " + std::to_string(limits.nMaxNodes) + " elements and other nodes";
      return false;
    }
  }
  return true;
}
