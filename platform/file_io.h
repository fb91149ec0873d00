// File output with 64-bit offsets, and the UTF-16 <-> UTF-8 path conversions.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// Opens (creating or truncating) a file for binary writing and reading.
// Returns null and sets *error to the errno value on failure.
std::FILE* file_open_write(const std::string& utf8_path, int* error);

// Seek with a 64-bit offset (SEEK_SET, SEEK_CUR or SEEK_END); 0 on success.
int file_seek64(std::FILE* file, int64_t offset, int whence);

// Current 64-bit position, or -1 on failure.
int64_t file_tell64(std::FILE* file);

// Flushes and closes; 0 only when every buffered byte reached the file.
int file_close(std::FILE* file);

// UTF-16 to UTF-8. Returns false (and leaves out empty) on an unpaired
// surrogate; the text stops at the first 0 or at the end of the view.
bool utf16_to_utf8(std::u16string_view in, std::string& out);

// UTF-8 to UTF-16. Returns false on malformed UTF-8.
bool utf8_to_utf16(std::string_view in, std::u16string& out);

}  // namespace platform
