#include "host/printable.h"

#include <cstdint>
#include <cstdio>

namespace host {

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&](uint8_t byte) {
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02X", unsigned(byte));
    out += code;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = uint8_t(text[i]);
    // U+0080 to U+009F: terminals that read UTF-8 take them as controls
    // (U+009B opens a control sequence as ESC [ does).
    const bool c1 = byte == 0xC2 && i + 1 < text.size() && uint8_t(text[i + 1]) >= 0x80 &&
                    uint8_t(text[i + 1]) <= 0x9F;
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (c1) {
      escape(byte);
      escape(uint8_t(text[++i]));
    } else if (byte < 0x20 || byte == 0x7F) {
      escape(byte);
    } else {
      out += char(byte);
    }
  }
  return out;
}

}  // namespace host
