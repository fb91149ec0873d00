// Audio written through Mov_Writer_HL and read back through the sample tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "VIDEO/mov_writer_hl.h"
#include "tests/support/mov_inspector.h"

using mov_test::be32;
using mov_test::packed_rate;
using Bytes = std::vector<uint8_t>;
using U64s = std::vector<uint64_t>;

namespace {

// A 32 x 32 movie file removed at the end of the test, with its writer
// (destroyed first, so the file is closed before it is removed).
struct Movie {
  Temp_File file;
  const std::string& path = file.path;
  std::unique_ptr<Mov_Writer_HL> writer;
  Movie(const std::string& name, uint64_t frame_rate, uint8_t timecode = 0, uint32_t start = 0)
      : file("audio_" + name + ".mov"),
        writer(std::make_unique<Mov_Writer_HL>(to_u16(path), 32, 32, 24, frame_rate, "Hap1", 0, 1.0f, timecode,
                                               start, 0)) {}
  // Writes `frames` video samples of 100 bytes.
  void video(int frames) {
    const Bytes data(100, 0xEE);
    for (int i = 0; i < frames; ++i) writer->write_video_chunk(data.data(), 100);
  }
  mov_test::Mov_File finalise() {
    writer->finalise();
    return mov_test::Mov_File(path);
  }
};

// Distinct bytes, so misplaced audio shows; never all zero.
Bytes pattern(size_t bytes, uint8_t seed) {
  Bytes b(bytes);
  for (size_t i = 0; i < bytes; ++i) b[i] = uint8_t(seed + i * 13 + (i >> 8));
  return b;
}

// Hands `data` to a track in pieces of uneven sizes.
void add_in_pieces(Mov_Writer_HL& w, const Bytes& data, uint32_t frame_bytes, uint32_t track) {
  const int64_t frames = int64_t(data.size() / frame_bytes), pieces[] = {1, 4799, 48000, 31111, 7};
  for (int64_t i = 0, done = 0, n; done < frames; ++i, done += n) {
    n = std::min(pieces[i % 5], frames - done);
    w.add_audio(data.data() + done * frame_bytes, n, track);
  }
}

}  // namespace

TEST(MovAudio, BlocksReservedBetweenVideoSamples) {
  Movie m("blocks25", packed_rate(25, 1));
  m.writer->set_audio_tracks(1, 48000, 16, 2, 0, 0);
  EXPECT_TRUE(m.writer->is_audio_block_due());
  m.video(60);
  // Before the 1st, the 25th and the 50th sample.
  const uint64_t block = 192000;
  EXPECT_EQ(m.writer->audio_block_offsets(), (U64s{48, 48 + block + 24 * 100, 48 + 2 * block + 49 * 100}));
  EXPECT_EQ(m.writer->get_audio_duration(), 115200u);
  const mov_test::Mov_File mov = m.finalise();
  const auto video = mov.track("vide");
  EXPECT_EQ(video.chunk_offsets[0], 48 + block);
  EXPECT_EQ(video.chunk_offsets[24], 48 + 2 * block + 2400);
  EXPECT_EQ(mov.atoms()[2].offset, 48 + 3 * block + 6000);  // no silence block added

  const auto audio = mov.track("soun");
  EXPECT_EQ(audio.track_id, 2u);
  EXPECT_TRUE(audio.tref_timecode.empty());  // no timecode track, no "tref"
  EXPECT_TRUE(video.tref_timecode.empty());
  EXPECT_EQ(be32(&mov.payload(*mov.find("moov/mvhd"))[96]), 3u);
  EXPECT_EQ(audio.sample_format, "sowt");
  EXPECT_EQ((U64s{audio.time_scale, audio.media_duration, audio.track_duration, audio.constant_sample_size,
                  audio.sample_count}),
            (U64s{48000, 115200, 60, 4, 115200}));
  EXPECT_EQ(audio.chunk_offsets, m.writer->audio_block_offsets());
  ASSERT_EQ(audio.stsc.size(), 2u);
  EXPECT_EQ((U64s{audio.stsc[1].first_chunk, audio.stsc[1].samples_per_chunk}), (U64s{3, 19200}));
  ASSERT_EQ(audio.stts.size(), 1u);
  EXPECT_EQ((U64s{audio.stts[0].count, audio.stts[0].duration}), (U64s{115200, 1}));
  EXPECT_EQ(mov.track_data(audio), Bytes(115200 * 4, 0));  // no audio given: silence
}

TEST(MovAudio, BlocksAt2997) {
  Movie m("blocks2997", packed_rate(30000, 1001));
  m.writer->set_audio_tracks(1, 48000, 16, 2, 0, 0);
  m.video(29);
  EXPECT_EQ(m.writer->audio_block_offsets().size(), 1u);
  EXPECT_TRUE(m.writer->is_audio_block_due());  // (29 + 1) x 1001 / 30000 = 1
  m.video(1);
  EXPECT_EQ(m.writer->audio_block_offsets(), (U64s{48, 48 + 192000 + 29 * 100}));
}

// 33 frames at 29.97 fps last 52852.8 sample frames at 48 kHz, taken to the
// nearest: 52853. The block reserved before the first sample covers 48000 of
// them (copies of a frame reserve none), so finalising adds one of silence.
TEST(MovAudio, SilenceCoversTheVideoToTheNearestSample) {
  Movie m("pad2997", packed_rate(30000, 1001));
  m.writer->set_audio_tracks(1, 48000, 16, 2, 0, 0);
  m.video(1);
  for (int i = 0; i < 32; ++i) m.writer->clone_previous_frame();
  EXPECT_EQ(m.writer->get_audio_duration(), 52853u);
  const mov_test::Mov_File mov = m.finalise();
  const auto audio = mov.track("soun");
  EXPECT_EQ(audio.sample_count, 52853u);
  ASSERT_EQ(audio.chunk_offsets.size(), 2u);
  EXPECT_EQ(mov.track_data(audio), Bytes(52853 * 4, 0));
}

TEST(MovAudio, LongExportsDoNotWrapTheSecondCount) {
  // 4.3 million samples at 29.97 reach second 143476, but (count + 1) x 1001
  // in 32 bits would wrap to second 311. Clones record samples without
  // writing them.
  Movie m("long", packed_rate(30000, 1001));
  m.writer->set_audio_tracks(1, 8000, 8, 1, 0, 0);
  m.video(1);
  for (int i = 0; i < 4300000; ++i) m.writer->clone_previous_frame();
  while (m.writer->audio_block_offsets().size() < 400) m.writer->reserve_audio_block();
  EXPECT_TRUE(m.writer->is_audio_block_due());
  EXPECT_EQ(m.writer->get_audio_duration(), 1147813600u);  // 4300001 / 29.97 x 8000, rounded
}

TEST(MovAudio, AudioReadBackEqualsInputThenSilence) {
  Movie m("readback", packed_rate(25, 1), 1, 90061);
  m.writer->set_audio_tracks(2, 48000, 24, 2, 0, 0);
  m.video(60);  // 2.4 s
  const uint32_t frame_bytes = 6;
  const Bytes given[2] = {pattern(62400 * frame_bytes, 1), pattern(100000 * frame_bytes, 2)};  // 1.3 s, 2.08 s
  add_in_pieces(*m.writer, given[0], frame_bytes, 0);
  add_in_pieces(*m.writer, given[1], frame_bytes, 1);
  EXPECT_EQ(m.writer->audio_frames_received(1), 100000u);
  const mov_test::Mov_File mov = m.finalise();
  for (uint32_t t = 0; t < 2; ++t) {
    SCOPED_TRACE(t);
    const auto audio = mov.track("soun", t);
    EXPECT_EQ(audio.track_id, 2 + t);
    EXPECT_EQ(audio.sample_format, "in24");
    EXPECT_EQ(audio.sample_count, 115200u);
    EXPECT_EQ(audio.tref_timecode, (std::vector<uint32_t>{4}));
    for (size_t i = 0; i < audio.chunk_offsets.size(); ++i)
      EXPECT_EQ(audio.chunk_offsets[i], m.writer->audio_block_offsets()[i] + t * 288000);
    Bytes expected = given[t];
    expected.resize(115200 * frame_bytes, 0);
    EXPECT_EQ(mov.track_data(audio), expected);
  }
  const auto timecode = mov.track("tmcd");
  EXPECT_EQ(timecode.track_id, 4u);
  EXPECT_TRUE(timecode.tref_timecode.empty());
  EXPECT_EQ(mov.track("vide").tref_timecode, (std::vector<uint32_t>{4}));
  // The timecode sample: the 12-byte media-data atom right after the media data.
  const auto& top = mov.atoms();
  ASSERT_EQ(top.size(), 4u);
  const uint64_t media_end = 48 + 3 * 576000 + 60 * 100;
  EXPECT_EQ(top[2].type, "mdat");
  EXPECT_EQ((U64s{top[2].size, top[2].offset}), (U64s{12, media_end}));
  EXPECT_EQ(mov_test::be64(mov.read(40, 8).data()), media_end - 32);
  EXPECT_EQ(timecode.chunk_offsets, (U64s{top[2].offset + 8}));
  EXPECT_EQ(be32(mov.sample(timecode, 0).data()), 90061u);
  EXPECT_EQ(mov.find("moov/trak", 3)->size, 571u);  // the timecode trak
  EXPECT_EQ(be32(&mov.payload(*mov.find("moov/mvhd"))[96]), 5u);
}

// Audio past the video's duration stays in the blocks but not in the track:
// the track ends with the video, as its header and edit list say.
TEST(MovAudio, AudioPastTheVideoStaysInTheFileButNotInTheTrack) {
  struct Case {
    int frames;                    // at 25 fps
    uint32_t audio_frames;         // 48 kHz 16-bit mono
    uint32_t duration;             // the video's, in sample frames
    std::vector<uint32_t> chunks;  // sample frames per chunk
  };
  const Case cases[] = {
      {25, 72000, 48000, {48000}},         // 1 s of video, 1.5 s of audio
      {10, 130000, 19200, {19200}},        // 0.4 s, 2.7 s: blocks added after the video
      {35, 70000, 67200, {48000, 19200}},  // 1.4 s, 1.46 s: within the last block
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    Movie m("past_video" + std::to_string(c.frames), packed_rate(25, 1));
    m.writer->set_audio_tracks(1, 48000, 16, 1, 0, 0);
    m.video(c.frames);
    const Bytes audio = pattern(c.audio_frames * 2, 3);
    add_in_pieces(*m.writer, audio, 2, 0);
    const mov_test::Mov_File mov = m.finalise();
    const auto track = mov.track("soun");
    ASSERT_EQ(track.stts.size(), 1u);
    EXPECT_EQ((U64s{track.media_duration, track.sample_count, track.stts[0].count, track.track_duration}),
              (U64s{c.duration, c.duration, c.duration, uint64_t(c.frames)}));
    EXPECT_EQ(track.samples_per_chunk(), c.chunks);
    const U64s& blocks = m.writer->audio_block_offsets();
    EXPECT_EQ(track.chunk_offsets, U64s(blocks.begin(), blocks.begin() + c.chunks.size()));
    EXPECT_EQ(mov.track_data(track), Bytes(audio.begin(), audio.begin() + c.duration * 2));
    // Every second given is in its block, past the track's end too.
    ASSERT_EQ(blocks.size(), (c.audio_frames + 47999) / 48000);
    for (size_t k = 0; k < blocks.size(); ++k) {
      Bytes expected(audio.begin() + k * 96000, audio.begin() + std::min<size_t>(audio.size(), (k + 1) * 96000));
      expected.resize(96000, 0);
      EXPECT_EQ(mov.read(blocks[k], 96000), expected) << "block " << k;
    }
  }
}

TEST(MovAudio, EverySampleFormatStoredAsGiven) {
  struct Case {
    uint16_t bits;
    uint8_t is_float;
    uint32_t rate, channels, layout;
    const char* code;
    uint8_t silence;
  };
  const Case cases[] = {{8, 0, 8000, 1, 0, "raw ", 0x80}, {16, 0, 44100, 2, 0, "sowt", 0},
                        {24, 0, 48000, 6, 3, "lpcm", 0},  {32, 0, 96000, 2, 0, "lpcm", 0},
                        {32, 1, 48000, 2, 0, "fl32", 0},  {64, 1, 22050, 1, 0, "fl64", 0},
                        {8, 0, 96000, 2, 0, "lpcm", 0x80}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " " << c.bits);
    Movie m("format" + std::to_string(c.bits) + c.code, packed_rate(25, 1));
    m.writer->set_audio_tracks(1, c.rate, c.bits, c.channels, c.is_float, c.layout);
    m.video(30);  // 1.2 s
    const uint32_t frame_bytes = c.bits / 8 * c.channels;
    const Bytes given = pattern(size_t(c.rate / 2) * frame_bytes, 9);
    m.writer->add_audio(given.data(), c.rate / 2, 0);
    const mov_test::Mov_File mov = m.finalise();
    const auto track = mov.track("soun");
    EXPECT_EQ(track.sample_format, c.code);
    EXPECT_EQ(track.constant_sample_size, frame_bytes);
    Bytes expected = given;
    expected.resize(size_t(c.rate * 6 / 5) * frame_bytes, c.silence);
    EXPECT_EQ(mov.track_data(track), expected);
  }
}

TEST(MovAudio, PlanarAudioIsInterleaved) {
  Movie m("planar", packed_rate(25, 1));
  m.writer->set_audio_tracks(1, 8000, 16, 3, 0, 0);
  m.video(26);  // 8320 sample frames
  const uint64_t frames = 8000 + 123;
  const Bytes planes[3] = {pattern(frames * 2, 1), pattern(frames * 2, 2), pattern(frames * 2, 3)};
  const uint8_t* pointers[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
  EXPECT_EQ(error_text([&] { m.writer->add_planar_audio(pointers, 2, frames, 0); }),
            "Error add planar audio (not enough audio plane)");
  m.writer->add_planar_audio(pointers, 3, frames, 0);
  const mov_test::Mov_File mov = m.finalise();
  const Bytes data = mov.track_data(mov.track("soun"));
  ASSERT_EQ(data.size(), 8320 * 6);
  for (uint64_t i = 0; i < frames * 6; ++i) ASSERT_EQ(data[i], planes[i / 2 % 3][i / 6 * 2 + i % 2]) << i;
  EXPECT_EQ(Bytes(data.begin() + frames * 6, data.end()), Bytes((8320 - frames) * 6, 0));
}

TEST(MovAudio, RefusedSettingsAndCalls) {
  Movie m("refused", packed_rate(25, 1));
  Mov_Writer_HL& w = *m.writer;
  EXPECT_EQ(error_text([&] { w.set_audio_tracks(65, 48000, 16, 2, 0, 0); }),
            "Unsupported audio track count (max 64 supported)");
  EXPECT_EQ(error_text([&] { w.set_audio_tracks(1, 0, 16, 2, 0, 0); }), "Invalid 0 frequency");
  EXPECT_EQ(error_text([&] { w.set_audio_tracks(1, 48000, 16, 0, 0, 0); }), "Invalid 0 nb channels by track");
  EXPECT_EQ(error_text([&] { w.set_audio_tracks(1, 48000, 16, 70000, 0, 0); })
                .rfind("Unsupported audio channel count", 0),
            0u);
  EXPECT_EQ(error_text([&] { w.set_audio_tracks(1, 48000, 16, 2, 1, 0); }), "Unsupported audio quantif for float");
  std::string message;
  EXPECT_EQ(printed_by([&] { message = error_text([&] { w.set_audio_tracks(1, 48000, 12, 2, 0, 0); }); }),
            "ERR : Invalid Audio quantif (int) : 12\n");
  EXPECT_EQ(message, "Unsupported audio quantif for integer");
  w.set_audio_tracks(0, 48000, 16, 2, 0, 0);  // no audio: nothing changes
  EXPECT_FALSE(w.has_audio());

  w.set_audio_tracks(2, 48000, 16, 2, 0, 0);
  EXPECT_EQ(error_text([&] { w.set_audio_tracks(2, 48000, 16, 2, 0, 0); }), "Set audio tracks call multiple times");
  const Bytes one(4, 1);
  w.add_audio(one.data(), 0, 7);  // zero frames: no index check
  EXPECT_EQ(error_text([&] { w.add_audio(one.data(), 1, 2); }), "Invalid audio track index : 2 Nb Audio tracks (2)");
  EXPECT_EQ(error_text([&] { w.add_audio(one.data(), -1, 0); }).rfind("Invalid audio sample frame count", 0), 0u);
  EXPECT_EQ(error_text([&] { w.flush_audio_track(5); }), "Invalid audio track index : 5 Nb Audio tracks (2)");
  EXPECT_EQ(w.get_audio_chunk_offsets(0, 0).size(), 0u);
  EXPECT_EQ(printed_by([&] { EXPECT_EQ(w.get_audio_chunk_offsets(0, 48000 * 3).size(), 0u); }),  // no block yet
            "Error, invalid audio buf index : 0; Nb Offset : 0");
  EXPECT_EQ(w.get_audio_duration(), 0u);
}

// Audio past what a track header counts is refused as it comes, so the movie
// still finalises with the video and every frame accepted.
TEST(MovAudio, AudioPastTheFrameLimitIsRefusedWhenPushed) {
  Movie m("limit", packed_rate(25, 1));
  m.writer->set_audio_tracks(1, 8000, 16, 1, 0, 0);
  m.writer->set_audio_frame_limit(20000);
  m.video(25);
  const Bytes audio = pattern(2 * 30000, 3);
  m.writer->add_audio(audio.data(), 15000, 0);
  EXPECT_EQ(error_text([&] { m.writer->add_audio(audio.data() + 2 * 15000, 15000, 0); }),
            "Audio track too long: 10000 sample frames refused past the 20000 a track can describe");
  EXPECT_EQ(error_text([&] { m.writer->add_audio(audio.data(), 1, 0); }),
            "Audio track too long: 1 sample frames refused past the 20000 a track can describe");
  EXPECT_EQ(m.writer->audio_frames_received(0), 20000u);
  const mov_test::Mov_File mov = m.finalise();
  EXPECT_EQ(mov.track("vide").sample_count, 25u);
  EXPECT_EQ(mov.track("soun").sample_count, 8000u);  // the video's second
  EXPECT_EQ(mov.read(m.writer->audio_block_offsets()[2], 2 * 4000),
            Bytes(audio.begin() + 2 * 16000, audio.begin() + 2 * 20000));  // the last frames taken

  // A video longer than the limit: its audio is described up to the limit.
  Movie l("limit_video", packed_rate(25, 1));
  l.writer->set_audio_tracks(1, 8000, 16, 1, 0, 0);
  l.writer->set_audio_frame_limit(4000);
  l.video(25);
  EXPECT_EQ(printed_by([&] { l.writer->finalise(); }), "WARNING : audio tracks cut to 4000 sample frames\n");
  EXPECT_EQ(mov_test::Mov_File(l.path).track("soun").sample_count, 4000u);
}
