// File, path and exception helpers of the test programs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/file_io.h"
#include "tests/support/test_support.h"

std::string error_text(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

std::string printed_by(const std::function<void()>& call) {
  testing::internal::CaptureStdout();
  try {
    call();
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
  return testing::internal::GetCapturedStdout();
}

std::string temp_path(const std::string& name) {
  return testing::TempDir() + "hap_test_" + std::to_string(::getpid()) + "_" + name;
}

Temp_File::~Temp_File() { std::remove(path.c_str()); }

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::u16string to_u16(const std::string& utf8) {
  std::u16string out;
  platform::utf8_to_utf16(utf8, out);
  return out;
}
