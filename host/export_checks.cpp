#include "host/export_checks.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>

namespace host {
namespace {

// The largest count of the movie's 32-bit fields.
constexpr int64_t u32_max = 0xFFFFFFFF;

struct Signature {
  std::string_view container;
  std::string_view head;  // the file's first bytes
  size_t tag_at;          // where `tag` follows them, after bytes that vary
  std::string_view tag;
};

using namespace std::string_view_literals;

// Raw float samples can begin with any bytes, so only what audio never holds
// counts: a signature is taken when its bytes, read as little-endian floats,
// are far outside -1..1 (RIFF reads as about 12690, OggS 1e12, .snd 2e22), or
// when it is checked with enough of the header that follows. Sizes and
// versions that vary are skipped over. ID3 reads as a float of about 5e-37,
// below any sample, and is checked with its version and revision besides. A
// bare MPEG or ADTS frame sync (0xFF 0xFx) is not taken: the low bytes of a
// float are as likely to be those as any others.
constexpr Signature signatures[] = {
    {"WAVE", "RIFF", 8, "WAVE"},
    {"RF64 WAVE", "RF64", 8, "WAVE"},
    {"BW64 WAVE", "BW64", 8, "WAVE"},
    {"AIFF", "FORM", 8, "AIFF"},
    {"AIFF-C", "FORM", 8, "AIFC"},
    {"FLAC", "fLaC", 5, "\0\0\x22"sv},  // the length of the stream info that comes first
    {"Ogg", "OggS\0"sv, 0, ""},         // stream structure version 0
    {"CAF", "caff\0\x01"sv, 0, ""},     // file version 1
    {"Sun/NeXT audio", ".snd", 0, ""},
    {"MP3 (ID3v2.2)", "ID3\x02\0"sv, 0, ""},
    {"MP3 (ID3v2.3)", "ID3\x03\0"sv, 0, ""},
    {"MP3 (ID3v2.4)", "ID3\x04\0"sv, 0, ""},
    {"MPEG-4 or QuickTime", "", 4, "ftyp"},  // reads as 3e29 after a box size
};

// The movie's frame rate for an export frame duration, as the plug-in makes
// it: frames per second over 1 when whole, the time suite's three NTSC rates
// over 1001, any other in thousandths. When frames x thousandths leave 32
// bits, the movie keeps the rate in hundredths, tenths or whole frames
// instead, the same rate only when it has no finer digits: the denominator
// here is the least that holds the rate exactly, which sets how many frames
// the movie can hold.
struct Movie_Rate {
  int64_t numerator;  // the time scale
  int64_t denominator;
};

Movie_Rate movie_rate(sdk::Ticks duration) {
  if (ticks_per_second % duration == 0) return {ticks_per_second / duration, 1};
  for (const int64_t ntsc : {24000, 30000, 60000})
    if (ticks_per_frame(ntsc, 1001) == duration) return {ntsc, 1001};
  const int64_t thousandths = std::llround(double(ticks_per_second) / double(duration) * 1000.0);
  if (thousandths > u32_max) return {thousandths, 1000};  // refused by the plug-in before any other step
  for (const int64_t denominator : {1, 10, 100})
    if (thousandths % (1000 / denominator) == 0) return {thousandths / (1000 / denominator), denominator};
  return {thousandths, 1000};
}

std::string frames_at(int64_t frames, const std::string& rate) {
  return std::to_string(frames) + " frames at " + rate + " frames per second";
}

}  // namespace

std::string_view audio_container(std::string_view head) {
  for (const Signature& s : signatures)
    if (head.starts_with(s.head) && head.size() >= s.tag_at && head.substr(s.tag_at).starts_with(s.tag))
      return s.container;
  return {};
}

std::string duration_problem(const Stand_In_Host& host, bool audio, const Rate_Texts& rates) {
  const Host_Param* fps = host.params.find("ADBEVideoFPS");
  if (!fps) return "";
  // The export loop counts up to a frame past the sequence's end in ticks,
  // and a frame lasts at most a second: a second to spare.
  const sdk::Ticks source_frame = host.source_frame_duration();
  const int64_t source_frames = (std::numeric_limits<int64_t>::max() - ticks_per_second) / source_frame;
  if (host.source.frame_count > source_frames)
    return frames_at(host.source.frame_count, rates.source) +
           " last longer than the host counts in its 64-bit ticks of 1/254016000000 second: at most " +
           std::to_string(source_frames) + " frames at this rate";

  const sdk::Ticks duration = fps->values.value.time;
  const Movie_Rate rate = movie_rate(duration);
  if (rate.numerator < 1)
    return "the export frame rate " + rates.export_rate +
           " frames per second is slower than the movie holds: it keeps a rate in thousandths of a frame per second";
  if (rate.numerator > u32_max)
    return "the export frame rate " + rates.export_rate +
           " frames per second is faster than the movie's 32-bit time scale holds";

  const sdk::Ticks end = host.sequence_end_time();
  const int64_t frames = end / duration + (end % duration != 0);
  const int64_t video_frames = u32_max / rate.denominator;
  if (frames > video_frames)
    return frames_at(frames, rates.export_rate) + " are more than the movie's 32-bit durations hold: at most " +
           std::to_string(video_frames) + " frames at this rate";

  const Host_Param* sample_rate = host.params.find("AudioSampleRate");
  const int64_t hz = sample_rate ? sample_rate->values.value.integer : 0;
  if (!audio || hz < 1) return "";
  // The movie's audio lasts as long as its video, rounded to whole samples;
  // frames x denominator fits 32 bits by now, so this fits 64.
  const int64_t samples = (2 * frames * rate.denominator * hz + rate.numerator) / (2 * rate.numerator);
  if (samples > u32_max)
    return "the audio of " + frames_at(frames, rates.export_rate) + " is " + std::to_string(samples) +
           " samples at " + std::to_string(hz) + " Hz, more than an audio track holds (4294967295); give fewer "
           "frames or --audio none";
  return "";
}

}  // namespace host
