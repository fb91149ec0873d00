#include "VIDEO/video_track_atoms.h"

#include <cmath>
#include <iostream>

#include "VIDEO/movie_atoms.h"
#include "VIDEO/timecode_atoms.h"

uint16_t display_width_for_ratio(uint16_t width, float pixel_aspect_ratio) {
  if (pixel_aspect_ratio == 1.0f) return width;
  const float scaled = std::roundf(float(width) * pixel_aspect_ratio);
  if (!std::isfinite(pixel_aspect_ratio) || !(scaled > 0.0f)) {
    std::cout << "WARNING : Video Track width_display <= 0 pour le pixel ratio : "
              << pixel_aspect_ratio << std::endl;
    return width;
  }
  // Wider than 16 bits can say: keep the widest even width instead of wrapping.
  if (scaled >= 65535.0f) return 0xFFFE;
  uint32_t display = uint32_t(scaled);
  if (display % 2 == 1) ++display;
  return uint16_t(display);
}

MINF_Video_Writer::MINF_Video_Writer(const Video_Track_Description& video, uint16_t display_width,
                                     Extension_List& extensions)
    : Container_Atom("minf") {
  emplace_child<VMHD_Writer>();
  emplace_child<HDLR_Media_Writer>();
  emplace_child<DINF_Writer>();
  emplace_child<STBL_Video_Writer>(video.width, video.height, video.depth, video.codec,
                                   video.sample_count, video.rate, *video.offsets, *video.sizes,
                                   display_width, extensions);
}

MDIA_Video_Writer::MDIA_Video_Writer(const Video_Track_Description& video, uint16_t display_width,
                                     Extension_List& extensions)
    : Container_Atom("mdia") {
  emplace_child<MDHD_Writer>(video.creation_time, video.sample_count, video.rate);
  emplace_child<HDLR_Video_Writer>();
  emplace_child<MINF_Video_Writer>(video, display_width, extensions);
}

TRAK_Video_Writer::TRAK_Video_Writer(const Video_Track_Description& video,
                                     int32_t timecode_track_id, Extension_List& extensions)
    : Container_Atom("trak") {
  const uint16_t display_width = display_width_for_ratio(video.width, video.pixel_aspect_ratio);
  emplace_child<TKHD_Writer>(video.creation_time, video.sample_count, video.rate, 1, video.width,
                             video.height, 0);
  emplace_child<TAPT_Writer>(video.width, video.height, display_width);
  emplace_child<LOAD_Writer>();
  emplace_child<EDTS_Writer>(video.sample_count, video.rate);
  if (timecode_track_id > 1) emplace_child<TREF_Writer>(timecode_track_id);
  emplace_child<MDIA_Video_Writer>(video, display_width, extensions);
}
