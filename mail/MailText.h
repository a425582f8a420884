// Text helpers the two mail classes share: the address list split of their "To"/"Cc"/"Bcc" texts and
// the safe cut of a text into a 260-character buffer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mailtext {

// Cuts the text at each ",", trims blanks (and tabs) at both ends of each piece, drops empty pieces.
std::vector<std::string> SplitAddresses(const std::string& text);

// Trims blanks and tabs at both ends.
std::string Trim(const std::string& text);

// Copies text into buffer (size bytes with the terminating zero). A longer text is cut at the last
// whole UTF-8 character that fits; returns false when it was cut.
bool CopyCut(const std::string& text, char* buffer, std::size_t size);

}  // namespace mailtext
