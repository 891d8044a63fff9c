#include "io/utf8.h"

#include <cstdint>

namespace vorrel::io {
namespace {

struct Decoded {
  uint32_t code_point;
  size_t length;  // bytes consumed; for an invalid sequence, its maximal subpart
  bool valid;
};

// Decodes the sequence at `pos` (which must be inside `bytes`). The allowed
// range of the second byte depends on the lead byte; it is what rules out
// overlong forms, surrogates and values past U+10FFFF.
Decoded decode_at(std::string_view bytes, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  const uint8_t lead = byte(pos);
  if (lead < 0x80) return {lead, 1, true};
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 1, false};
  }
  for (size_t k = 1; k < length; ++k) {
    if (pos + k >= bytes.size()) return {0, k, false};
    const uint8_t next = byte(pos + k);
    if (next < low || next > high) return {0, k, false};
    code = (code << 6) | (next & 0x3F);
    low = 0x80, high = 0xBF;
  }
  return {code, length, true};
}

bool is_unicode_whitespace(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  for (size_t pos = 0; pos < bytes.size();) {
    // ASCII runs dominate real files; skip them without the full decoder.
    if (static_cast<uint8_t>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const Decoded d = decode_at(bytes, pos);
    if (!d.valid) return false;
    pos += d.length;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t pos = 0; pos < bytes.size();) {
    const Decoded d = decode_at(bytes, pos);
    if (d.valid) {
      out.append(bytes.substr(pos, d.length));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    pos += d.length;
  }
  return out;
}

std::string_view trim_unicode_whitespace(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    const Decoded d = decode_at(text, begin);
    if (!d.valid || !is_unicode_whitespace(d.code_point)) break;
    begin += d.length;
  }
  size_t end = text.size();
  while (end > begin) {
    // Step back to the start of the last sequence: at most four bytes, skipping
    // continuation bytes.
    size_t start = end - 1;
    while (start > begin && end - start < 4 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) --start;
    const Decoded d = decode_at(text, start);
    if (!d.valid || start + d.length != end || !is_unicode_whitespace(d.code_point)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace vorrel::io
