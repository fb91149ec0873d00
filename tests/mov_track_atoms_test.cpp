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

namespace {

Audio_Format format(uint16_t bits, uint32_t rate, uint16_t channels, uint8_t is_float = 0,
                    uint32_t layout = 0) {
  return Audio_Format{bits, rate, channels, is_float, layout};
}

std::string type_of(const Bytes& atom) { return std::string(atom.begin() + 4, atom.begin() + 8); }

// Checks the version 1 form and returns its bytes.
Bytes expect_version1(const Audio_Format& f, const char* code, bool wave) {
  const Bytes b = SampleDescription_Audio(f).serialise();
  EXPECT_EQ(type_of(b), code);
  EXPECT_EQ(b.size(), 8u + 44 + (wave ? 38 : 0)) << code;
  const uint8_t* p = b.data() + 8;
  EXPECT_EQ(Bytes(p, p + 16), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(be16(p + 16), f.channels);
  EXPECT_EQ(be16(p + 18), f.bits_per_sample == 8 ? 8 : 16);
  EXPECT_EQ(be16(p + 20), 0xFFFF);
  EXPECT_EQ(be16(p + 22), 0);
  EXPECT_EQ(be32(p + 24), f.sample_rate << 16);
  EXPECT_EQ(be32(p + 28), 1u);
  EXPECT_EQ(be32(p + 32), f.bits_per_sample / 8u);
  EXPECT_EQ(be32(p + 36), f.bits_per_sample / 8u * f.channels);
  EXPECT_EQ(be32(p + 40), f.bits_per_sample == 8 ? 1u : 2u);
  if (wave) {
    Bytes expected = {0, 0, 0, 0x26, 'w', 'a', 'v', 'e', 0, 0, 0, 0x0C, 'f', 'r', 'm', 'a'};
    expected.insert(expected.end(), code, code + 4);
    const Bytes tail = {0, 0, 0, 0x0A, 'e', 'n', 'd', 'a', 0, 1, 0, 0, 0, 8, 0, 0, 0, 0};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Bytes(p + 44, p + 82), expected) << code;
  }
  return b;
}

std::vector<uint32_t> lpcm_labels(const Bytes& b, uint32_t* flags) {
  const uint8_t* p = b.data() + 8;
  *flags = be32(p + 52);
  const uint32_t channels = be32(p + 40);
  EXPECT_EQ(be32(p + 64), 24 + 20 * channels);
  EXPECT_EQ(std::string(p + 68, p + 72), "chan");
  EXPECT_EQ(be32(p + 84), channels);
  std::vector<uint32_t> labels;
  for (uint32_t c = 0; c < channels; ++c) labels.push_back(be32(p + 88 + 20 * c));
  return labels;
}

}  // namespace

TEST(AudioAtoms, Version1Descriptions) {
  expect_version1(format(16, 48000, 2), "sowt", false);
  expect_version1(format(8, 22050, 1), "raw ", false);
  expect_version1(format(24, 48000, 2), "in24", true);
  expect_version1(format(32, 44100, 2), "in32", true);
  expect_version1(format(32, 48000, 2, 1), "fl32", true);
  expect_version1(format(64, 8000, 1, 1), "fl64", true);
  EXPECT_THROW(SampleDescription_Audio(format(64, 48000, 2, 0)), std::runtime_error);
  EXPECT_THROW(SampleDescription_Audio(format(12, 48000, 2, 0)), std::runtime_error);
  EXPECT_THROW(SampleDescription_Audio(format(16, 48000, 0)), std::runtime_error);
  EXPECT_THROW(SampleDescription_Audio(format(16, 0, 2)), std::runtime_error);
}

TEST(AudioAtoms, Version2Descriptions) {
  const Bytes b = SampleDescription_Audio(format(16, 96000, 2)).serialise();
  EXPECT_EQ(type_of(b), "lpcm");
  ASSERT_EQ(b.size(), 8u + 64 + 64);
  const uint8_t* p = b.data() + 8;
  const Bytes fixed = {0, 0, 0, 0,  0,    0,    0, 1, 0, 2, 0, 0, 0, 0, 0, 0,
                       0, 3, 0, 16, 0xFF, 0xFE, 0, 0, 0, 1, 0, 0, 0, 0, 0, 72};
  EXPECT_EQ(Bytes(p, p + 32), fixed);
  double rate = 0;
  const uint64_t bits = be64(p + 32);
  std::memcpy(&rate, &bits, 8);
  EXPECT_EQ(rate, 96000.0);
  EXPECT_EQ(be32(p + 40), 2u);
  EXPECT_EQ(be32(p + 44), 0x7F000000u);
  EXPECT_EQ(be32(p + 48), 16u);
  EXPECT_EQ(be32(p + 56), 4u);
  EXPECT_EQ(be32(p + 60), 1u);
  uint32_t flags = 0;
  EXPECT_EQ(lpcm_labels(b, &flags), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(flags, 12u);

  using Labels = std::vector<uint32_t>;
  const Bytes order1 = SampleDescription_Audio(format(24, 48000, 6, 0, 1)).serialise();
  EXPECT_EQ(order1.size(), 8u + 64 + 144);
  EXPECT_EQ(lpcm_labels(order1, &flags), (Labels{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(lpcm_labels(SampleDescription_Audio(format(24, 48000, 6, 0, 0)).serialise(), &flags),
            (Labels{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(lpcm_labels(SampleDescription_Audio(format(32, 48000, 6, 1, 2)).serialise(), &flags),
            (Labels{1, 2, 5, 6, 3, 4}));
  EXPECT_EQ(flags, 9u);
  EXPECT_EQ(lpcm_labels(SampleDescription_Audio(format(16, 48000, 6, 0, 3)).serialise(), &flags),
            (Labels{1, 3, 2, 5, 6, 4}));
  EXPECT_EQ(lpcm_labels(SampleDescription_Audio(format(16, 48000, 8)).serialise(), &flags),
            (Labels{1, 2, 3, 4, 5, 6, 33, 34}));
  EXPECT_EQ(lpcm_labels(SampleDescription_Audio(format(16, 48000, 3)).serialise(), &flags),
            (Labels(3, 0xFFFFFFFF)));
  EXPECT_EQ(lpcm_labels(SampleDescription_Audio(format(16, 96000, 1)).serialise(), &flags),
            (Labels{42}));
  // 8-bit samples are unsigned: packed, without the signed-integer bit.
  lpcm_labels(SampleDescription_Audio(format(8, 96000, 2)).serialise(), &flags);
  EXPECT_EQ(flags, 8u);
  EXPECT_THROW(SampleDescription_Audio(format(12, 96000, 2)), std::runtime_error);
  EXPECT_THROW(SampleDescription_Audio(format(16, 96000, 2, 1)), std::runtime_error);
}

TEST(AudioAtoms, ChunkTables) {
  struct Case {
    uint32_t frames;
    std::vector<uint32_t> entries;  // first chunk, frames per chunk, description ...
  };
  const Case cases[] = {
      {115200, {1, 48000, 1, 3, 19200, 1}}, {96000, {1, 48000, 1}}, {30000, {1, 30000, 1}}};
  for (const Case& c : cases) {
    const Bytes b = STSC_Audio_Writer(c.frames, 48000).payload();
    ASSERT_EQ(b.size(), 8 + 4 * c.entries.size());
    EXPECT_EQ(be32(&b[4]), c.entries.size() / 3);
    for (size_t i = 0; i < c.entries.size(); ++i) EXPECT_EQ(be32(&b[8 + 4 * i]), c.entries[i]);
  }
  EXPECT_THROW(STSC_Audio_Writer(10, 0), std::runtime_error);
  EXPECT_EQ(STTS_Audio_Writer(115200).payload(),
            (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0xC2, 0, 0, 0, 0, 1}));
  EXPECT_EQ(STSZ_Audio_Writer(115200, 24, 2).payload(),
            (Bytes{0, 0, 0, 0, 0, 0, 0, 6, 0, 1, 0xC2, 0}));
  EXPECT_EQ(SMHD_Writer().payload(), Bytes(8, 0));
  const Bytes hdlr = HDLR_Audio_Writer().payload();
  ASSERT_EQ(hdlr.size(), 49u);
  EXPECT_EQ(be32(&hdlr[16]), 0x10000000u);
  EXPECT_EQ(be32(&hdlr[20]), 0x00010255u);
  EXPECT_EQ(std::string(hdlr.begin() + 25, hdlr.end()), "Module de gestion sonore");

  const std::vector<uint64_t> offsets{48, 192048, 384048};
  TRAK_Audio_Writer trak(2, 0, 60, {25, 1}, format(16, 48000, 2), 115200, offsets, -1);
  EXPECT_EQ(trak.children().size(), 3u);  // no "tref" without a timecode track
  const Bytes mdhd = MDHD_Audio_Writer(0, 115200, 48000).payload();
  EXPECT_EQ(be32(&mdhd[12]), 48000u);
  EXPECT_EQ(be32(&mdhd[16]), 115200u);
  testing::internal::CaptureStdout();
  EXPECT_THROW(STBL_Audio_Writer(format(16, 48000, 2), 0, {}), std::runtime_error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "STBL : Nb samples 0 invalid\n");
  // More sample frames than the 32-bit tables can count are refused.
  EXPECT_THROW(
      TRAK_Audio_Writer(2, 0, 60, {25, 1}, format(16, 48000, 2), 0x100000000ull, offsets, -1),
      std::runtime_error);
}

TEST(TimecodeAtoms, SampleDescriptionAndReferences) {
  struct Case {
    Frame_Rate rate;
    uint8_t drop;
    uint32_t flags, scale, duration;
    uint8_t frames;
  };
  const Case cases[] = {{{25, 1}, 1, 0, 25, 1, 25},           {{24000, 1001}, 1, 0, 2997, 125, 24},
                        {{30000, 1001}, 1, 1, 2997, 100, 30}, {{30000, 1001}, 0, 0, 2997, 100, 30},
                        {{60000, 1001}, 1, 1, 2997, 50, 60},  {{255, 1}, 0, 0, 255, 1, 255}};
  for (const Case& c : cases) {
    const Bytes p = SampleDescription_Timecode(c.rate, c.drop).payload();
    ASSERT_EQ(p.size(), 26u);
    EXPECT_EQ(be16(&p[6]), 1);
    EXPECT_EQ(be32(&p[12]), c.flags) << c.rate.numerator;
    EXPECT_EQ(be32(&p[16]), c.scale);
    EXPECT_EQ(be32(&p[20]), c.duration);
    EXPECT_EQ(p[24], c.frames);
  }
  EXPECT_THROW(SampleDescription_Timecode({25, 2}, 0), std::runtime_error);
  EXPECT_EQ(MDAT_TC_Writer(90061).serialise(),
            (Bytes{0, 0, 0, 12, 'm', 'd', 'a', 't', 0, 1, 0x5F, 0xCD}));
  EXPECT_EQ(TREF_Writer(4).serialise(),
            (Bytes{0, 0, 0, 20, 't', 'r', 'e', 'f', 0, 0, 0, 12, 't', 'm', 'c', 'd', 0, 0, 0, 4}));
  EXPECT_THROW(TREF_Writer(-1), std::runtime_error);
  EXPECT_THROW(TREF_TC_Entry_Writer(-1), std::runtime_error);
  EXPECT_THROW(STTS_Writer(5000000, {30000, 1001}, 1), std::runtime_error);

  TRAK_TC_Writer trak(2, 0, 250, {25, 1}, 1234, 0);
  EXPECT_EQ(trak.size(), 571u);
  const Bytes b = trak.serialise();
  const Bytes stco_tail = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0x04, 0xD2};
  EXPECT_EQ(Bytes(b.end() - 12, b.end()), stco_tail);
  testing::internal::CaptureStdout();
  EXPECT_THROW(TRAK_TC_Writer(2, 0, 0, {25, 1}, 1234, 0), std::runtime_error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "STBL TC : Duration 0 invalid\n");
}

TEST(TimecodeAtoms, TrackIdsAndReferences) {
  std::vector<uint64_t> offsets(250, 48);
  std::vector<uint32_t> sizes(250, 10);
  Video_Track_Description video;
  video.width = 64;
  video.height = 64;
  video.codec = {'H', 'a', 'p', '1'};
  video.sample_count = 250;
  video.rate = {30000, 1001};
  video.offsets = &offsets;
  video.sizes = &sizes;
  Timecode_Settings timecode;
  timecode.on = 1;
  timecode.sample_offset = 5000;
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
  const Bytes mvhd = children[0]->payload();
  EXPECT_EQ(be32(&mvhd[96]), 5u);
  for (size_t i = 1; i < 4; ++i) {
    const auto parts = children[i]->children();
    bool has_tref = false;
    for (const Atom_Writer* part : parts)
      if (std::string(part->type().data(), 4) == "tref") {
        has_tref = true;
        EXPECT_EQ(be32(part->children()[0]->payload().data()), 4u);
      }
    EXPECT_TRUE(has_tref) << i;
    EXPECT_EQ(be32(&parts[0]->payload()[12]), uint32_t(i));  // track IDs 1, 2, 3
  }

  // At 12.5 fps (25/2) no timecode track, hence no "tref".
  video.rate = {25, 2};
  testing::internal::CaptureStdout();
  Moov_Video_Writer slow(video, timecode, 0, extensions);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning unsupported fps (25/2), for tc\n");
  EXPECT_EQ(slow.timecode_track_id(), -1);
  EXPECT_EQ(slow.children().size(), 2u);
  EXPECT_EQ(be32(&slow.children()[0]->payload()[96]), 2u);
}

TEST(TimecodeValue, Split) {
  Timecode_Value tc;
  tc.set(25.0f, 90061);
  uint8_t h, m, s, f;
  tc.split(h, m, s, f);
  EXPECT_EQ(std::vector<int>({h, m, s, f}), std::vector<int>({1, 0, 2, 11}));
  EXPECT_EQ(tc.to_string(), "01:00:02:11");
  testing::internal::CaptureStdout();
  tc.print();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Timecode : fps : 25 ; frames : 90061 ; 01:00:02:11\n");
  tc.set(25.0f, 25ull * 3600 * 123);  // 123 hours: only the last two digits are shown
  EXPECT_EQ(tc.to_string(), "23:00:00:00");
  for (float fps : {0.0f, 0.5f, 0.999f, -3.0f}) {
    tc.set(fps, 1000);
    EXPECT_EQ(tc.to_string(), "00:00:00:00") << fps;
  }
  tc.set(1.0f, 3661);
  EXPECT_EQ(tc.to_string(), "01:01:01:00");
}
