// UTF-16 <-> UTF-8. Malformed input is refused rather than patched with
// replacement characters: a path that cannot be represented exactly would
// name a different file.
#include "platform/file_io.h"

namespace platform {
namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes the code point at the start of `in`; returns its length in bytes,
// or 0 when the sequence is malformed.
size_t decode_utf8(std::string_view in, char32_t& c) {
  const unsigned char lead = in[0];
  size_t length;
  char32_t smallest;
  if (lead < 0x80) {
    c = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (in.size() < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char cont = in[k];
    if ((cont & 0xC0) != 0x80) return 0;
    c = (c << 6) | (cont & 0x3F);
  }
  // Overlong forms, encoded surrogates and values past U+10FFFF would give a
  // second spelling of some other text.
  if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool utf16_to_utf8(std::u16string_view in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size() && in[i] != 0; ++i) {
    char32_t c = in[i];
    if (is_high_surrogate(c)) {
      if (i + 1 >= in.size() || !is_low_surrogate(in[i + 1])) {
        out.clear();
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(in[++i]) - 0xDC00);
    } else if (is_low_surrogate(c)) {
      out.clear();
      return false;
    }
    append_utf8(out, c);
  }
  return true;
}

bool utf8_to_utf16(std::string_view in, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    char32_t c;
    const size_t length = decode_utf8(in.substr(i), c);
    if (length == 0) {
      out.clear();
      return false;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
    i += length;
  }
  return true;
}

}  // namespace platform
