// Movie files written through Mov_Writer_HL and read back.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "VIDEO/mov_writer_hl.h"
#include "tests/support/mov_inspector.h"

using mov_test::be64;
using mov_test::packed_rate;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes frame(uint32_t size, uint8_t seed) {
  Bytes b(size);
  for (uint32_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7);
  return b;
}

// Caps the size of files this process may write, so that writes fail as on a
// full disk; restores the limit when it goes out of scope.
class File_Size_Limit {
 public:
  explicit File_Size_Limit(rlim_t bytes) {
    saved_handler_ = std::signal(SIGXFSZ, SIG_IGN);  // a failed write instead of a kill
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~File_Size_Limit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, saved_handler_);
  }

 private:
  rlimit saved_{};
  void (*saved_handler_)(int) = nullptr;
};

struct Movie : Temp_File {
  explicit Movie(const std::string& name) : Temp_File("writer_" + name + ".mov") {}
  // A 25 fps writer on this file.
  std::unique_ptr<Mov_Writer_HL> writer(uint16_t size, uint8_t depth, const char* codec, uint8_t timecode = 0,
                                        uint32_t start = 0) const {
    return std::make_unique<Mov_Writer_HL>(to_u16(path), size, size, depth, packed_rate(25, 1), codec, 0, 1.0f,
                                           timecode, start, 0);
  }
};

}  // namespace

TEST(MovWriter, VideoOnlyFileLayout) {
  Movie movie("layout");
  const std::vector<Bytes> frames = {frame(1000, 1), frame(300, 2), frame(4097, 3)};
  {
    Mov_Writer_HL writer(to_u16(movie.path), 1920, 1080, 24, packed_rate(25, 1), "Hap1", 0, 1.0f, 0, 0, 0);
    EXPECT_EQ(writer.write_position(), 48u);
    for (const Bytes& f : frames) writer.write_video_chunk(f.data(), uint32_t(f.size()));
    EXPECT_EQ(writer.get_video_frame_count(), 3u);
    EXPECT_FALSE(writer.has_audio());
    EXPECT_FALSE(writer.is_audio_block_due());
    writer.finalise();
    EXPECT_EQ(error_text([&] { writer.finalise(); }), "Invalid file pointer");
    EXPECT_EQ(error_text([&] { writer.write_video_chunk(frames[0].data(), 10); }), "Invalid file pointer");
  }
  const Bytes file = read_file(movie.path);
  ASSERT_GT(file.size(), 48u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 40),
            (Bytes{0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'q', 't', ' ', ' ', 0x20, 5, 3, 0, 'q', 't', ' ', ' ',
                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'm', 'd', 'a', 't'}));
  const uint64_t media_end = 48 + 1000 + 300 + 4097;
  EXPECT_EQ(be64(&file[40]), media_end - 32);

  mov_test::Mov_File mov(movie.path);
  ASSERT_EQ(mov.atoms().size(), 3u);
  EXPECT_EQ(mov.atoms()[1].type, "mdat");
  EXPECT_EQ(mov.atoms()[1].header, 16u);
  EXPECT_EQ(mov.atoms()[2].type, "moov");
  EXPECT_EQ(mov.atoms()[2].offset, media_end);
  EXPECT_EQ(mov.atoms()[2].offset + mov.atoms()[2].size, mov.file_size());
  EXPECT_EQ(mov.find("moov/udta"), nullptr);
  const auto video = mov.track("vide");
  EXPECT_EQ(video.track_id, 1u);
  EXPECT_EQ(video.sample_format, "Hap1");
  EXPECT_EQ(video.chunk_offsets, (std::vector<uint64_t>{48, 1048, 1348}));
  EXPECT_EQ(video.sample_sizes, (std::vector<uint32_t>{1000, 300, 4097}));
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(mov.sample(video, i), frames[i]);
}

TEST(MovWriter, FieldAndColourExtensions) {
  // The default extensions ("gama", "pasp") are in the atom tests; a field
  // type and a colour type add "fiel" and "colr" before "pasp".
  Movie movie("extensions");
  {
    Mov_Writer_HL writer(to_u16(movie.path), 1920, 1080, 24, packed_rate(25, 1), "Hap1", 0, 1.0f, 0, 0, 0, 1, 1);
    writer.write_video_chunk(frame(1000, 9).data(), 1000);
    writer.finalise();
  }
  mov_test::Mov_File mov(movie.path);
  const auto entry = mov.track("vide").sample_description;
  auto type_at = [&](size_t at) { return std::string(entry.begin() + at + 4, entry.begin() + at + 8); };
  ASSERT_EQ(entry.size(), 8u + 78 + 10 + 18 + 16 + 4);
  EXPECT_EQ((std::vector<std::string>{type_at(86), type_at(96), type_at(114)}),
            (std::vector<std::string>{"fiel", "colr", "pasp"}));
}

TEST(MovWriter, AlphaModeInTheUserData) {
  Movie movie("alpha");
  {
    auto writer = movie.writer(16, 32, "HapM");
    Movie_Metadata metadata;
    metadata.enable = 1;
    metadata.version = 9;  // the writer keeps its own version
    metadata.alpha_mode = 1;
    writer->set_movie_metadata(metadata);
    writer->write_video_chunk(frame(32, 1).data(), 32);
    writer->finalise();
  }
  mov_test::Mov_File mov(movie.path);
  const auto user = mov.find_all("moov/udta");
  ASSERT_EQ(user.size(), 1u);
  const auto& records = user[0]->children;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].type, "VELN");
  EXPECT_EQ(mov.payload(records[0]), (Bytes{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(mov.payload(records[1]), (Bytes{0, 1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(records[2].type, "VELA");
  EXPECT_EQ(mov.atoms().back().type, "moov");
}

TEST(MovWriter, ClonedFramesShareTheirBytes) {
  Movie movie("clone");
  {
    auto writer = movie.writer(16, 24, "HapY");
    EXPECT_EQ(printed_by([&] { EXPECT_FALSE(writer->clone_previous_frame()); }),
              "Impossible de cloner la frame precedente, car aucune frame n'a ete ecrite\n");
    writer->write_video_chunk(frame(100, 4).data(), 100);
    EXPECT_TRUE(writer->clone_previous_frame());
    EXPECT_EQ(writer->write_position(), 148u);
    EXPECT_EQ(writer->get_video_frame_count(), 2u);
    writer->finalise();
  }
  const auto video = mov_test::Mov_File(movie.path).track("vide");
  EXPECT_EQ(video.chunk_offsets, (std::vector<uint64_t>{48, 48}));
  EXPECT_EQ(video.sample_sizes, (std::vector<uint32_t>{100, 100}));
  EXPECT_EQ(video.track_duration, 2u);
}

// Every track holds one edit that shows its media from the first frame at
// normal speed for the whole movie. At 29.97 fps the movie time scale is
// 30000, so 7 frames last 7 x 1001 units: a duration of 7 would show one
// frame, and a media time of 1 would hide the first.
TEST(MovWriter, EditListsShowEveryFrameFromTheFirst) {
  Movie movie("edits");
  {
    Mov_Writer_HL writer(to_u16(movie.path), 16, 16, 24, packed_rate(30000, 1001), "Hap1", 0, 1.0f, 1, 0, 0);
    writer.set_audio_tracks(1, 48000, 16, 2, 0, 0);
    for (int i = 0; i < 7; ++i) writer.write_video_chunk(frame(100, uint8_t(i)).data(), 100);
    writer.finalise();
  }
  mov_test::Mov_File mov(movie.path);
  EXPECT_EQ(mov_test::be32(&mov.payload(*mov.find("moov/mvhd"))[12]), 30000u);
  for (const char* handler : {"vide", "soun", "tmcd"}) {
    const auto track = mov.track(handler);
    ASSERT_EQ(track.edits.size(), 1u) << handler;
    const mov_test::Edit_Entry& edit = track.edits[0];
    // Entry count, segment duration, media time, media rate (16.16).
    EXPECT_EQ((std::vector<int64_t>{track.edit_count, edit.segment_duration, edit.media_time, edit.media_rate}),
              (std::vector<int64_t>{1, 7007, 0, 0x00010000}))
        << handler;
  }
}

TEST(MovWriter, RefusesWhatItCannotWrite) {
  Movie movie("refused");
  for (uint64_t bad_rate : {packed_rate(0, 1), packed_rate(25, 0)}) {
    EXPECT_THROW(Mov_Writer_HL(to_u16(movie.path), 16, 16, 24, bad_rate, "Hap1", 0, 1.0f, 0, 0, 0),
                 std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(movie.path));
  }
  Movie missing("no_such_dir/x");
  EXPECT_EQ(error_text([&] { missing.writer(16, 24, "Hap1"); })
                .rfind("Can't open target file (write) : " + missing.path + ". Error : 2. ", 0),
            0u);
  // Finalise without a sample: the media-data size is patched (16) and the
  // timecode sample written, the header is refused and nothing of it stays.
  {
    auto writer = movie.writer(16, 24, "Hap1", 1, 10);
    std::string message;
    EXPECT_EQ(printed_by([&] { message = error_text([&] { writer->finalise(); }); }),
              "STBL TC : Duration 0 invalid\n");
    EXPECT_EQ(message, "STBL TC : Duration 0 for the file");  // the timecode track is built first
    EXPECT_EQ(error_text([&] { writer->finalise(); }), "Invalid file pointer");
  }
  const Bytes file = read_file(movie.path);
  ASSERT_EQ(file.size(), 60u);
  EXPECT_EQ(be64(&file[40]), 16u);
  EXPECT_EQ(Bytes(file.begin() + 48, file.end()), (Bytes{0, 0, 0, 12, 'm', 'd', 'a', 't', 0, 0, 0, 10}));
}

TEST(MovWriter, ShortWriteKeepsTheFileConsistent) {
  Movie movie("short");
  const Bytes f = frame(1000, 5);
  {
    auto writer = movie.writer(16, 24, "Hap1");
    {
      File_Size_Limit limit(48 + 2 * 1000 + 500);
      writer->write_video_chunk(f.data(), 1000);
      writer->write_video_chunk(f.data(), 1000);
      std::string message;
      EXPECT_EQ(printed_by([&] { message = error_text([&] { writer->write_video_chunk(f.data(), 1000); }); }),
                "Number of bytes to write : 1000. Number bytes write : 500\nError file write : File too large\n");
      EXPECT_EQ(message, "Error file write");
    }
    EXPECT_EQ(writer->get_video_frame_count(), 2u);
    EXPECT_EQ(writer->write_position(), 2048u);
    writer->finalise();  // the error path still gets a whole movie
  }
  mov_test::Mov_File mov(movie.path);
  EXPECT_EQ(mov.atoms()[2].offset, 2048u);
  const auto video = mov.track("vide");
  EXPECT_EQ(video.chunk_offsets, (std::vector<uint64_t>{48, 1048}));
  EXPECT_EQ(mov.sample(video, 1), f);
}

// The media data and the timecode sample stay; the header that did not fit goes.
TEST(MovWriter, FullDiskAtFinaliseLeavesNoHeader) {
  Movie movie("full_at_end");
  {
    auto writer = movie.writer(16, 24, "Hap1", 1, 7);
    writer->write_video_chunk(frame(1000, 6).data(), 1000);
    File_Size_Limit limit(48 + 1000 + 12 + 100);
    std::string message;
    EXPECT_EQ(printed_by([&] { message = error_text([&] { writer->finalise(); }); })
                  .rfind("Number of bytes to write : ", 0),
              0u);
    EXPECT_EQ(message, "Error file write");
    EXPECT_EQ(error_text([&] { writer->finalise(); }), "Invalid file pointer");
  }
  const Bytes file = read_file(movie.path);
  ASSERT_EQ(file.size(), 1060u);
  EXPECT_EQ(be64(&file[40]), 1016u);
  EXPECT_EQ(Bytes(file.begin() + 1048, file.end()), (Bytes{0, 0, 0, 12, 'm', 'd', 'a', 't', 0, 0, 0, 7}));
  EXPECT_EQ(mov_test::Mov_File(movie.path).find("moov"), nullptr);
}

TEST(MovWriter, DevFullFailsAtTheHead) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::string message;
  EXPECT_EQ(printed_by([&] {
              message = error_text([] {
                Mov_Writer_HL(u"/dev/full", 16, 16, 24, packed_rate(25, 1), "Hap1", 0, 1.0f, 0, 0, 0);
              });
            }),
            "Number of bytes to write : 48. Number bytes write : 0\nError file write : No space left on device\n");
  EXPECT_EQ(message, "Error file write");
}
