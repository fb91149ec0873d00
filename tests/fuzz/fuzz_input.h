// Helpers shared by the fuzz targets: reading settings from the front of an
// input, and buffers allocated to exactly their stated size, so that the
// address sanitizer sees any byte read or written past what a call was given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "HAP/buffers_list.h"

// Settings bytes taken one by one from the front of the input; missing ones read as 0.
class Fuzz_Input {
 public:
  Fuzz_Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  const uint8_t* rest() const { return data_; }
  size_t rest_size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

// A Padded_Buffer that owns a block of exactly capacity bytes, its length set
// to the bytes it holds (a copy of the given ones, else zeros). No block for
// a capacity of 0.
class Exact_Buffer {
 public:
  explicit Exact_Buffer(size_t capacity, const uint8_t* bytes = nullptr, size_t count = 0) {
    if (capacity == 0) return;
    alloc_padded_buffer(&record_, uint32_t(capacity));
    std::memset(record_.data, 0, capacity);
    if (count) std::memcpy(record_.data, bytes, count < capacity ? count : capacity);
    record_.length = uint32_t(capacity);
  }
  // An empty record, for the work buffers that the utilities grow themselves.
  Exact_Buffer() = default;
  ~Exact_Buffer() { free_padded_buffer(&record_); }
  Exact_Buffer(const Exact_Buffer&) = delete;
  Exact_Buffer& operator=(const Exact_Buffer&) = delete;
  Padded_Buffer* get() { return &record_; }
  uint8_t* data() { return record_.data; }

 private:
  Padded_Buffer record_;
};

// A broken property: stop so that the fuzzer keeps the input.
inline void fuzz_require(bool condition) {
  if (!condition) std::abort();
}
