// XmlShape: a look at an XML text's shape before any parser sees it. The XML library spends quadratic
// time on some shapes (125,000 attributes on one element took 26 s), and the network and USB time-outs
// do not cover parsing, so a reply from a device is measured first: its size, its number of nodes
// (elements, comments, processing instructions, CDATA sections), its nesting depth and the attributes of
// each element. One linear pass over the bytes, no allocation; it recognises markup, not well-formedness
// (that stays the parser's job), and counts generously: a text it lets through is within the limits.
// Callers: the XML walker (device/XMLParser) and DEVWATCH's reading of the device's status document.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct XmlLimits {
  // The device's destination document holds at most 30 destinations of 4 elements: a few KB.
  std::size_t nMaxBytes = 1u << 20;
  std::size_t nMaxNodes = 20000;
  std::size_t nMaxDepth = 64;
  std::size_t nMaxAttributes = 64;  // on one element, namespace declarations included
};

// True when text stays within limits; otherwise false and why names the limit passed.
bool CheckXmlShape(std::string_view text, const XmlLimits& limits, std::string& why);
