// A frame count at a frame rate, shown as hours:minutes:seconds:frames.
#pragma once
#include <cstdint>
#include <string>

class Timecode_Value {
 public:
  void set(float fps, uint64_t frame_count);
  // Whole hours, minutes, seconds and the frames left over. All four are 0
  // when the rate is below one frame a second, where no second is complete.
  void split(uint8_t& hours, uint8_t& minutes, uint8_t& seconds, uint8_t& frames) const;
  // "hh:mm:ss:ff", each part on its last two digits.
  std::string to_string() const;
  // "Timecode : fps : <fps> ; frames : <count> ; hh:mm:ss:ff" on standard output.
  void print() const;

 private:
  float fps_ = 0.0f;
  uint64_t frame_count_ = 0;  // read as signed
};
