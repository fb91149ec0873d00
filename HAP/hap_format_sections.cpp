// Section headers and the texture-format nibbles shared by writer and readers.
#include "HAP/hap_format.h"

void write_section_header(uint8_t* buffer, uint32_t header_length, uint32_t content_length,
                          uint8_t type) {
  if (header_length == 4) {
    buffer[0] = content_length & 0xFF;
    buffer[1] = (content_length >> 8) & 0xFF;
    buffer[2] = (content_length >> 16) & 0xFF;
    buffer[3] = type;
    return;
  }
  buffer[0] = buffer[1] = buffer[2] = 0;
  buffer[3] = type;
  for (int i = 0; i < 4; ++i) buffer[4 + i] = (content_length >> (8 * i)) & 0xFF;
}

namespace {
struct Format_Code {
  uint8_t nibble;
  uint32_t format;
};
constexpr Format_Code format_codes[] = {
    {0xB, Hap_Texture_Format_RGB_DXT1},    {0xE, Hap_Texture_Format_RGBA_DXT5},
    {0xF, Hap_Texture_Format_YCoCg_DXT5},  {0x1, Hap_Texture_Format_A_RGTC1},
    {0xC, Hap_Texture_Format_RGBA_BPTC_UNORM},
};
}  // namespace

uint32_t texture_format_from_code(uint8_t nibble) {
  for (const Format_Code& c : format_codes)
    if (c.nibble == nibble) return c.format;
  return 0;
}

uint8_t texture_code_from_format(uint32_t format) {
  for (const Format_Code& c : format_codes)
    if (c.format == format) return c.nibble;
  return 0;
}
