// libFuzzer target: the TIFF LZW strip decoder, checked against a plain table-of-strings decoder of
// the same rules. The first two bytes give the strip's size; the rest is the LZW data. Whenever the
// fast decoder accepts a strip, its bytes must be the plain decoder's. The predictor is checked on
// the decoded strip (or the raw bytes) against a plain running sum.
// Seeds: fuzz/corpus/tiff_lzw/ (strips of files made by libtiff's encoder).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/file/TiffLzw.h"

namespace {

// True with out filled; false where the fast decoder must refuse too.
bool PlainDecode(const uint8_t* in, size_t inLen, std::vector<uint8_t>& out) {
  if (inLen >= 2 && in[0] == 0 && (in[1] & 1)) return false;
  std::vector<std::string> table;
  auto reset = [&] {
    table.assign(258, std::string());
    for (int i = 0; i < 256; ++i) table[size_t(i)] = std::string(1, char(i));
  };
  reset();
  size_t bit = 0, pos = 0;
  int width = 9;
  std::string old;
  bool haveOld = false;
  while (pos < out.size()) {
    if (bit + size_t(width) > inLen * 8) return false;
    int code = 0;
    for (int i = 0; i < width; ++i, ++bit) code = (code << 1) | ((in[bit / 8] >> (7 - bit % 8)) & 1);
    if (code == 256) {
      reset();
      width = 9;
      haveOld = false;
      continue;
    }
    if (code == 257) return false;
    std::string s;
    if (!haveOld) {
      if (code > 255) return false;
      s = table[size_t(code)];
      haveOld = true;
    } else {
      if (code < int(table.size()) && code != 256 && code != 257)
        s = table[size_t(code)];
      else if (code == int(table.size()))
        s = old + old[0];
      else
        return false;
      if (table.size() >= 4096) return false;
      table.push_back(old + s[0]);
      if (int(table.size()) == (1 << width) - 1 && width < 12) ++width;
    }
    if (s.size() > out.size() - pos) return false;
    std::memcpy(out.data() + pos, s.data(), s.size());
    pos += s.size();
    old = s;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t outLen = 1 + ((size_t(data[0]) << 8 | data[1]) % 60000);
  std::vector<uint8_t> fast(outLen), plain(outLen);
  const bool a = pxfile::TiffLzwDecode(data + 2, size - 2, fast.data(), outLen);
  const bool b = PlainDecode(data + 2, size - 2, plain);
  if (a != b || (a && fast != plain)) __builtin_trap();
  // The predictor, in place and not, against the plain sum of each sample and the one before it.
  const std::vector<uint8_t>& row = a ? fast : std::vector<uint8_t>(data + 2, data + size);
  for (int spp : {1, 3, 4}) {
    std::vector<uint8_t> want(row.size()), copy(row.size()), inPlace = row;
    for (size_t i = 0; i < row.size(); ++i)
      want[i] = uint8_t(row[i] + (i >= size_t(spp) ? want[i - size_t(spp)] : 0));
    pxfile::TiffUndoPredictor8(row.data(), copy.data(), row.size(), spp);
    pxfile::TiffUndoPredictor8(inPlace.data(), inPlace.data(), inPlace.size(), spp);
    if (copy != want || inPlace != want) __builtin_trap();
  }
  return 0;
}
