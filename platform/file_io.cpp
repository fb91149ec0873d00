#include "platform/file_io.h"

#include <sys/types.h>

#include <cerrno>

namespace platform {

static_assert(sizeof(off_t) >= 8, "movie files pass 4 GiB; a 64-bit off_t is required");

std::FILE* file_open_write(const std::string& utf8_path, int* error) {
  errno = 0;
  std::FILE* file = std::fopen(utf8_path.c_str(), "w+b");
  if (!file && error) *error = errno;
  return file;
}

int file_seek64(std::FILE* file, int64_t offset, int whence) {
  if (!file) return -1;
  return fseeko(file, off_t(offset), whence) == 0 ? 0 : -1;
}

int64_t file_tell64(std::FILE* file) {
  if (!file) return -1;
  return int64_t(ftello(file));
}

int file_close(std::FILE* file) {
  if (!file) return -1;
  // A full disk often shows only when the last buffer is flushed, so every
  // step is checked and the file is closed whatever happened before.
  const bool flushed = std::fflush(file) == 0;
  const bool clean = std::ferror(file) == 0;
  const bool closed = std::fclose(file) == 0;
  return flushed && clean && closed ? 0 : -1;
}

}  // namespace platform
