#include "VIDEO/timecode_value.h"

#include <cstdio>
#include <iostream>

void Timecode_Value::set(float fps, uint64_t frame_count) {
  fps_ = fps;
  frame_count_ = frame_count;
}

void Timecode_Value::split(uint8_t& hours, uint8_t& minutes, uint8_t& seconds,
                           uint8_t& frames) const {
  hours = minutes = seconds = frames = 0;
  const auto per_second = int64_t(fps_);
  // Below one frame a second (or a NaN or negative rate) the divisors are 0.
  if (!(fps_ >= 1.0f) || per_second < 1) return;
  const auto per_hour = int64_t(fps_ * 3600.0f);
  const auto per_minute = int64_t(fps_ * 60.0f);
  const auto count = int64_t(frame_count_);
  hours = uint8_t(count / per_hour);
  const int64_t in_hour = count % per_hour;
  minutes = uint8_t(in_hour / per_minute);
  const int64_t in_minute = in_hour % per_minute;
  seconds = uint8_t(in_minute / per_second);
  frames = uint8_t(in_minute % per_second);
}

std::string Timecode_Value::to_string() const {
  uint8_t parts[4];
  split(parts[0], parts[1], parts[2], parts[3]);
  char text[12];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", parts[0] % 100u, parts[1] % 100u,
                parts[2] % 100u, parts[3] % 100u);
  return text;
}

void Timecode_Value::print() const {
  std::cout << "Timecode : fps : " << fps_ << " ; frames : " << int64_t(frame_count_) << " ; "
            << to_string() << std::endl;
}
