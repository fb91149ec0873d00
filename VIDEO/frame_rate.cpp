#include "VIDEO/frame_rate.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace {

bool overwrite_with_25(Frame_Rate& rate) {
  std::printf("ERROR src fps invalid : %u/%u. Fps overwrite by 25/1\n", rate.numerator,
              rate.denominator);
  rate = {25, 1};
  return true;
}

}  // namespace

bool round_fps(Frame_Rate& rate, uint32_t sample_count, uint8_t* exact) {
  *exact = 0;
  if (rate.numerator == 0 || rate.denominator == 0) return overwrite_with_25(rate);
  if (rate.numerator % rate.denominator == 0) {
    rate = {rate.numerator / rate.denominator, 1};
    *exact = 1;
    return true;
  }
  if (uint64_t(rate.denominator) * sample_count <= 0xFFFFFFFFull) return false;

  const double fps = double(rate.numerator) / double(rate.denominator);
  for (uint32_t scale : {1000u, 100u, 10u, 1u}) {
    const double rounded = std::round(fps * scale);
    if (rounded < 1.0 || rounded > 4294967295.0) continue;
    if (uint64_t(scale) * sample_count > 0xFFFFFFFFull) continue;
    const Frame_Rate candidate{uint32_t(rounded), scale};
    std::printf("ERROR src fps invalid : %u/%u. Fps round %u : %u/%u \n", rate.numerator,
                rate.denominator, scale, candidate.numerator, candidate.denominator);
    rate = candidate;
    return true;
  }
  return overwrite_with_25(rate);
}

bool is_tc_fps_supported(const Frame_Rate& rate) {
  if (rate.denominator == 1 && rate.numerator < 256) return true;
  if (rate.denominator == 1001 &&
      (rate.numerator == 24000 || rate.numerator == 30000 || rate.numerator == 60000))
    return true;
  std::printf("Warning unsupported fps (%d/%d), for tc\n", int(rate.numerator),
              int(rate.denominator));
  return false;
}
