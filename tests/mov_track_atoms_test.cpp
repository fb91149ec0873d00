// Audio and timecode track atoms, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "VIDEO/audio_track_atoms.h"
#include "VIDEO/moov_writer.h"
#include "VIDEO/timecode_atoms.h"
#include "VIDEO/timecode_value.h"
#include "tests/support/mov_inspector.h"

using mov_test::be16;
using mov_test::be32;
using mov_test::be64;
using Bytes = std::vector<uint8_t>;
using U32s = std::vector<uint32_t>;

namespace {

Audio_Format format(uint16_t bits, uint32_t rate, uint16_t channels, uint8_t is_float = 0, uint32_t layout = 0) {
  return Audio_Format{bits, rate, channels, is_float, layout};
}

Bytes description(const Audio_Format& f) { return SampleDescription_Audio(f).serialise(); }

// The channel labels of a version 2 ("lpcm") description, and its flags.
U32s lpcm_labels(const Bytes& b, uint32_t* flags) {
  const uint8_t* p = b.data() + 8;
  *flags = be32(p + 52);
  const uint32_t channels = be32(p + 40);
  EXPECT_EQ(be32(p + 64), 24 + 20 * channels);
  EXPECT_EQ(std::string(p + 68, p + 72), "chan");
  EXPECT_EQ(be32(p + 84), channels);
  U32s labels;
  for (uint32_t c = 0; c < channels; ++c) labels.push_back(be32(p + 88 + 20 * c));
  return labels;
}

}  // namespace

TEST(AudioAtoms, Version1Descriptions) {
  const std::pair<Audio_Format, const char*> cases[] = {
      {format(16, 48000, 2), "sowt"}, {format(8, 22050, 1), "raw "},     {format(24, 48000, 2), "in24"},
      {format(32, 44100, 2), "in32"}, {format(32, 48000, 2, 1), "fl32"}, {format(64, 8000, 1, 1), "fl64"}};
  for (const auto& [f, code] : cases) {
    SCOPED_TRACE(code);
    const bool wave = f.bits_per_sample > 16;  // a "wave" atom names the format again
    const Bytes b = description(f);
    EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 8), code);
    ASSERT_EQ(b.size(), 8u + 44 + (wave ? 38 : 0));
    const uint8_t* p = b.data() + 8;
    EXPECT_EQ(Bytes(p, p + 16), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0}));
    const uint32_t bytes = f.bits_per_sample / 8u;
    EXPECT_EQ((U32s{be16(p + 16), be16(p + 18), be16(p + 20), be16(p + 22), be32(p + 24), be32(p + 28),
                    be32(p + 32), be32(p + 36), be32(p + 40)}),
              (U32s{f.channels, bytes == 1 ? 8u : 16u, 0xFFFF, 0, f.sample_rate << 16, 1, bytes,
                    bytes * f.channels, bytes == 1 ? 1u : 2u}));
    if (wave) {
      const auto c = [name = code](int i) { return uint8_t(name[i]); };
      EXPECT_EQ(Bytes(p + 44, p + 82),
                (Bytes{0, 0, 0, 0x26, 'w', 'a', 'v', 'e', 0, 0, 0, 0x0C, 'f', 'r', 'm', 'a', c(0), c(1), c(2), c(3),
                       0, 0, 0, 0x0A, 'e', 'n', 'd', 'a', 0, 1, 0, 0, 0, 8, 0, 0, 0, 0}));
    }
  }
  const Audio_Format refused[] = {format(64, 48000, 2), format(12, 48000, 2), format(16, 48000, 0),
                                  format(16, 0, 2),     format(12, 96000, 2), format(16, 96000, 2, 1)};
  for (const Audio_Format& bad : refused)
    EXPECT_THROW(SampleDescription_Audio{bad}, std::runtime_error) << bad.bits_per_sample;
}

TEST(AudioAtoms, Version2Descriptions) {
  const Bytes b = description(format(16, 96000, 2));
  EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 8), "lpcm");
  ASSERT_EQ(b.size(), 8u + 64 + 64);
  const uint8_t* p = b.data() + 8;
  EXPECT_EQ(Bytes(p, p + 32), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 3, 0, 16, 0xFF, 0xFE,
                                     0, 0, 0, 1, 0, 0, 0, 0, 0, 72}));
  double rate = 0;
  const uint64_t bits = be64(p + 32);
  std::memcpy(&rate, &bits, 8);
  EXPECT_EQ(rate, 96000.0);
  EXPECT_EQ((U32s{be32(p + 40), be32(p + 44), be32(p + 48), be32(p + 56), be32(p + 60)}),
            (U32s{2, 0x7F000000, 16, 4, 1}));
  EXPECT_EQ(description(format(24, 48000, 6, 0, 1)).size(), 8u + 64 + 144);

  struct Case {
    Audio_Format f;
    U32s labels;
    uint32_t flags;  // 0: not checked
  };
  const Case cases[] = {
      {format(16, 96000, 2), {1, 2}, 12},
      {format(24, 48000, 6, 0, 1), {1, 2, 3, 4, 5, 6}, 0},
      {format(24, 48000, 6, 0, 0), {1, 2, 3, 4, 5, 6}, 0},
      {format(32, 48000, 6, 1, 2), {1, 2, 5, 6, 3, 4}, 9},
      {format(16, 48000, 6, 0, 3), {1, 3, 2, 5, 6, 4}, 0},
      {format(16, 48000, 8), {1, 2, 3, 4, 5, 6, 33, 34}, 0},
      {format(16, 48000, 3), U32s(3, 0xFFFFFFFF), 0},
      {format(16, 96000, 1), {42}, 0},
      {format(8, 96000, 2), {1, 2}, 8},  // 8-bit samples are unsigned: packed, no signed-integer bit
  };
  for (const Case& c : cases) {
    uint32_t flags = 0;
    EXPECT_EQ(lpcm_labels(description(c.f), &flags), c.labels) << c.f.channels << " " << c.f.channel_layout;
    if (c.flags) {
      EXPECT_EQ(flags, c.flags) << c.f.bits_per_sample;
    }
  }
}

TEST(AudioAtoms, ChunkTables) {
  const std::pair<uint32_t, U32s> cases[] = {  // frames; first chunk, frames per chunk, description ...
      {115200, {1, 48000, 1, 3, 19200, 1}},
      {96000, {1, 48000, 1}},
      {30000, {1, 30000, 1}}};
  for (const auto& [frames, entries] : cases) {
    const Bytes b = STSC_Audio_Writer(frames, 48000).payload();
    ASSERT_EQ(b.size(), 8 + 4 * entries.size());
    U32s found;
    for (size_t i = 4; i < b.size(); i += 4) found.push_back(be32(&b[i]));
    found.erase(found.begin());
    EXPECT_EQ(be32(&b[4]), entries.size() / 3);
    EXPECT_EQ(found, entries);
  }
  EXPECT_THROW(STSC_Audio_Writer(10, 0), std::runtime_error);
  EXPECT_EQ(STTS_Audio_Writer(115200).payload(), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0xC2, 0, 0, 0, 0, 1}));
  EXPECT_EQ(STSZ_Audio_Writer(115200, 24, 2).payload(), (Bytes{0, 0, 0, 0, 0, 0, 0, 6, 0, 1, 0xC2, 0}));
  EXPECT_EQ(SMHD_Writer().payload(), Bytes(8, 0));
  const Bytes hdlr = HDLR_Audio_Writer().payload();
  ASSERT_EQ(hdlr.size(), 49u);
  EXPECT_EQ((U32s{be32(&hdlr[16]), be32(&hdlr[20])}), (U32s{0x10000000, 0x00010255}));
  EXPECT_EQ(std::string(hdlr.begin() + 25, hdlr.end()), "Module de gestion sonore");

  const std::vector<uint64_t> offsets{48, 192048, 384048};
  TRAK_Audio_Writer trak(2, 0, 60, {25, 1}, format(16, 48000, 2), 115200, offsets, -1);
  EXPECT_EQ(trak.children().size(), 3u);  // no "tref" without a timecode track
  const Bytes mdhd = MDHD_Audio_Writer(0, 115200, 48000).payload();
  EXPECT_EQ((U32s{be32(&mdhd[12]), be32(&mdhd[16])}), (U32s{48000, 115200}));
  EXPECT_EQ(printed_by([] {
              EXPECT_THROW(STBL_Audio_Writer(format(16, 48000, 2), 0, {}), std::runtime_error);
            }),
            "STBL : Nb samples 0 invalid\n");
  // More sample frames than the 32-bit tables can count are refused.
  EXPECT_THROW(TRAK_Audio_Writer(2, 0, 60, {25, 1}, format(16, 48000, 2), 0x100000000ull, offsets, -1),
               std::runtime_error);
}

TEST(TimecodeAtoms, SampleDescriptionAndReferences) {
  struct Case { Frame_Rate rate; uint8_t drop; uint32_t flags, scale, duration, frames; };
  const Case cases[] = {{{25, 1}, 1, 0, 25, 1, 25},           {{24000, 1001}, 1, 0, 2997, 125, 24},
                        {{30000, 1001}, 1, 1, 2997, 100, 30}, {{30000, 1001}, 0, 0, 2997, 100, 30},
                        {{60000, 1001}, 1, 1, 2997, 50, 60},  {{255, 1}, 0, 0, 255, 1, 255}};
  for (const Case& c : cases) {
    const Bytes p = SampleDescription_Timecode(c.rate, c.drop).payload();
    ASSERT_EQ(p.size(), 26u);
    EXPECT_EQ((U32s{be16(&p[6]), be32(&p[12]), be32(&p[16]), be32(&p[20]), p[24]}),
              (U32s{1, c.flags, c.scale, c.duration, c.frames}))
        << c.rate.numerator << " drop " << int(c.drop);
  }
  EXPECT_THROW(SampleDescription_Timecode({25, 2}, 0), std::runtime_error);
  EXPECT_EQ(MDAT_TC_Writer(90061).serialise(), (Bytes{0, 0, 0, 12, 'm', 'd', 'a', 't', 0, 1, 0x5F, 0xCD}));
  EXPECT_EQ(TREF_Writer(4).serialise(),
            (Bytes{0, 0, 0, 20, 't', 'r', 'e', 'f', 0, 0, 0, 12, 't', 'm', 'c', 'd', 0, 0, 0, 4}));
  EXPECT_THROW(TREF_Writer(-1), std::runtime_error);
  EXPECT_THROW(TREF_TC_Entry_Writer(-1), std::runtime_error);
  EXPECT_THROW(STTS_Writer(5000000, {30000, 1001}, 1), std::runtime_error);

  TRAK_TC_Writer trak(2, 0, 250, {25, 1}, 1234, 0);
  EXPECT_EQ(trak.size(), 571u);
  const Bytes b = trak.serialise();
  EXPECT_EQ(Bytes(b.end() - 12, b.end()), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0x04, 0xD2}));  // "stco"
  EXPECT_EQ(printed_by([] { EXPECT_THROW(TRAK_TC_Writer(2, 0, 0, {25, 1}, 1234, 0), std::runtime_error); }),
            "STBL TC : Duration 0 invalid\n");
}

TEST(TimecodeAtoms, TrackIdsAndReferences) {
  std::vector<uint64_t> offsets(250, 48);
  std::vector<uint32_t> sizes(250, 10);
  Video_Track_Description video;
  video.width = video.height = 64;
  video.codec = {'H', 'a', 'p', '1'};
  video.sample_count = 250, video.rate = {30000, 1001};
  video.offsets = &offsets, video.sizes = &sizes;
  Timecode_Settings timecode;
  timecode.on = 1, timecode.sample_offset = 5000;
  Extension_List extensions;
  Moov_Video_Writer moov(video, timecode, 2, extensions);
  EXPECT_EQ(moov.timecode_track_id(), 4);
  EXPECT_THROW(moov.size(), std::runtime_error);  // the two audio tracks are missing
  const std::vector<uint64_t> audio_offsets{100};
  moov.add_audio_track(format(16, 48000, 2), 400400, audio_offsets);
  moov.add_audio_track(format(16, 48000, 2), 400400, audio_offsets);
  EXPECT_THROW(moov.add_audio_track(format(16, 48000, 2), 10, audio_offsets), std::runtime_error);
  const auto children = moov.children();
  ASSERT_EQ(children.size(), 5u);  // mvhd, video, audio, audio, timecode
  EXPECT_EQ(be32(&children[0]->payload()[96]), 5u);
  for (size_t i = 1; i < 4; ++i) {
    const auto parts = children[i]->children();
    U32s referenced;
    for (const Atom_Writer* part : parts)
      if (std::string(part->type().data(), 4) == "tref")
        referenced.push_back(be32(part->children()[0]->payload().data()));
    EXPECT_EQ(referenced, U32s{4}) << i;
    EXPECT_EQ(be32(&parts[0]->payload()[12]), uint32_t(i));  // track IDs 1, 2, 3
  }
  // At 12.5 fps (25/2) no timecode track, hence no "tref".
  video.rate = {25, 2};
  std::unique_ptr<Moov_Video_Writer> slow;
  EXPECT_EQ(printed_by([&] { slow = std::make_unique<Moov_Video_Writer>(video, timecode, 0, extensions); }),
            "Warning unsupported fps (25/2), for tc\n");
  EXPECT_EQ(slow->timecode_track_id(), -1);
  EXPECT_EQ(slow->children().size(), 2u);
  EXPECT_EQ(be32(&slow->children()[0]->payload()[96]), 2u);
}

TEST(TimecodeValue, SplitsAtItsRate) {
  Timecode_Value tc;
  uint8_t h, m, s, f;
  tc.set(25.0f, 90061);
  tc.split(h, m, s, f);
  EXPECT_EQ((U32s{h, m, s, f}), (U32s{1, 0, 2, 11}));
  EXPECT_EQ(printed_by([&] { tc.print(); }), "Timecode : fps : 25 ; frames : 90061 ; 01:00:02:11\n");
  const std::pair<float, uint64_t> zero_rates[] = {{0.0f, 1000}, {0.5f, 1000}};
  for (const auto& [fps, count] : zero_rates) {
    tc.set(fps, count);
    EXPECT_EQ(tc.to_string(), "00:00:00:00") << fps;
  }
  // The hour, minute and second hold fps x 3600, fps x 60 and fps frames,
  // each truncated on its own: at 30000/1001 that is 107892, 1798 and 29, so
  // the frame before the first whole hour still reads minute 60. No frame
  // numbers are dropped.
  const struct { float fps; uint64_t count; const char* text; } cases[] = {
      {30000.0f / 1001, 107892, "01:00:00:00"},
      {30000.0f / 1001, 107891, "00:60:00:11"},
      {30000.0f / 1001, 1798 * 10 + 29 * 3 + 5, "00:10:03:05"},
      {60.0f, 216000 * 2 + 3600 * 3 + 60 * 4 + 59, "02:03:04:59"},
      {25.0f, 25ull * 3600 * 123, "23:00:00:00"},  // 123 hours: the last two digits
      {1.0f, 3600ull * 300 + 61, "44:01:01:00"},   // 300 hours kept in 8 bits: 44
  };
  for (const auto& c : cases) {
    tc.set(c.fps, c.count);
    EXPECT_EQ(tc.to_string(), c.text) << c.fps << " " << c.count;
  }
}
