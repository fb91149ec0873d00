// Frame rates as fractions, their normalisation before the header is built,
// and the rule for which rates can carry a timecode track.
#pragma once
#include <cstdint>

struct Frame_Rate {
  uint32_t numerator = 0;    // also the movie and video media time scale
  uint32_t denominator = 0;  // duration of one video sample
};

// Normalises the rate for `sample_count` samples: an integer rate written as a
// fraction becomes n/1 (*exact = 1); a rate whose denominator x sample count
// leaves 32 bits is rounded to a smaller denominator; an invalid rate becomes
// 25/1. Returns true when the rate was replaced or found exact.
bool round_fps(Frame_Rate& rate, uint32_t sample_count, uint8_t* exact);

// True for n/1 with n below 256 and for 24000, 30000 and 60000 over 1001;
// otherwise prints a warning and returns false.
bool is_tc_fps_supported(const Frame_Rate& rate);
