// UTF-16 text helpers for the host's fixed-size text fields.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "exporter/exporter.h"

int format_wide_string(char16_t* buffer, size_t capacity, const char16_t* format, ...) {
  if (!buffer || capacity == 0 || !format) return -1;
  // The formats are ASCII; "%hs" marks an 8-bit string argument, which is
  // plain "%s" for the narrow formatter.
  std::string narrow_format;
  for (const char16_t* c = format; *c; ++c) {
    if (*c >= 0x80) return -1;
    if (c[0] == u'%' && c[1] == u'h' && c[2] == u's') {
      narrow_format += "%s";
      c += 2;
    } else {
      narrow_format += static_cast<char>(*c);
    }
  }
  std::vector<char> text(capacity);
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text.data(), capacity, narrow_format.c_str(), args);
  va_end(args);
  if (length < 0 || static_cast<size_t>(length) >= capacity) {
    buffer[0] = 0;
    return -1;
  }
  for (int i = 0; i <= length; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  return length;
}

void copy_wide_string(const char16_t* source, char16_t* destination) {
  int i = 0;
  for (; source[i] && i < sdk::text_field_length - 1; ++i) destination[i] = source[i];
  destination[i] = 0;
}

void copy_narrow_string(char* destination, size_t capacity, std::string_view source) {
  if (capacity == 0) return;
  const size_t length = std::min(source.size(), capacity - 1);
  source.copy(destination, length);
  destination[length] = 0;
}
