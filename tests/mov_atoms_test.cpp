// Byte layouts of the header atoms, built directly (no file).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "VIDEO/atom_dump.h"
#include "VIDEO/frame_rate.h"
#include "VIDEO/moov_writer.h"
#include "VIDEO/movie_atoms.h"
#include "VIDEO/sample_table_atoms.h"
#include "VIDEO/user_data_atoms.h"
#include "VIDEO/video_track_atoms.h"
#include "tests/support/mov_inspector.h"

using mov_test::be16, mov_test::be32, mov_test::be64;
using Bytes = std::vector<uint8_t>;
using U32s = std::vector<uint32_t>;
using Lines = std::vector<std::string>;

namespace {

Four_CC fourcc(const char* s) { return {s[0], s[1], s[2], s[3]}; }
std::string type_at(const Bytes& b, size_t at) { return std::string(b.begin() + at + 4, b.begin() + at + 8); }
Bytes slice(const Bytes& b, size_t at, size_t n) { return Bytes(b.begin() + at, b.begin() + at + n); }

// The first atom of `type` inside a serialised tree, by scanning for the type.
size_t find_atom(const Bytes& b, const std::string& type, size_t from = 0) {
  for (size_t i = from; i + 8 <= b.size(); ++i)
    if (std::memcmp(&b[i + 4], type.data(), 4) == 0) return i;
  return std::string::npos;
}

// A 1920 x 1080 Hap1 track of `count` 1000-byte samples at offset 48.
struct Video_Fixture {
  std::vector<uint64_t> offsets;
  std::vector<uint32_t> sizes;
  Video_Track_Description video;
  Extension_List extensions{GAMA_Writer(2, 0x3333)};
  Video_Fixture(uint32_t count = 1, Frame_Rate rate = {25, 1}) : offsets(count, 48), sizes(count, 1000) {
    video.width = 1920, video.height = 1080, video.depth = 24;
    video.codec = fourcc("Hap1"), video.sample_count = count, video.rate = rate;
    video.offsets = &offsets, video.sizes = &sizes;
  }
  Bytes moov() { return Moov_Video_Writer(video, {}, 0, extensions).serialise(); }
};

// An atom that claims a size without holding the bytes, to reach the 64-bit forms.
struct Claimed_Size_Atom : Atom_Writer {
  uint64_t size;
  explicit Claimed_Size_Atom(uint64_t size) : Atom_Writer("free"), size(size) {}
  uint64_t get_atom_size(bool* is64) const override { return *is64 = false, size; }
  uint64_t write_atom(uint8_t*) const override { return size; }
};
struct Test_Container : Container_Atom {
  explicit Test_Container(std::vector<uint64_t> child_sizes) : Container_Atom("wide") {
    for (uint64_t s : child_sizes) emplace_child<Claimed_Size_Atom>(s);
  }
};

Lines dump_lines(const Atom_Writer& atom) {
  std::ostringstream out;
  dump_atom_tree(atom, out);
  std::istringstream in(out.str());
  Lines lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const Atom_Writer& child(const Atom_Writer& parent, const char* type) {
  for (const Atom_Writer* c : parent.children())
    if (std::memcmp(c->type().data(), type, 4) == 0) return *c;
  throw std::runtime_error(std::string("no child ") + type);
}

}  // namespace

TEST(AtomWriter, HeaderForms) {
  EXPECT_EQ(Atom_Writer("abcd").serialise(), (Bytes{0, 0, 0, 8, 'a', 'b', 'c', 'd'}));
  EXPECT_EQ(std::string(Atom_Writer().type().data(), 4), "    ");
  bool is64 = true;
  EXPECT_TRUE(atom_size_for_payload(0xFFFFFFF6ull, &is64) == 0xFFFFFFFEull && !is64);
  EXPECT_TRUE(atom_size_for_payload(0xFFFFFFF7ull, &is64) == 0x100000007ull && is64);
  // Children each in the 32-bit form that add up past the limit make the
  // container use the 16-byte header.
  Test_Container wide({0x80000000ull, 0x7FFFFFF7ull});
  EXPECT_TRUE(wide.get_atom_size(&is64) == 0xFFFFFFF7ull + 16 && is64);
  Bytes header(16);
  EXPECT_EQ(wide.write_atom(header.data()), 0xFFFFFFF7ull + 16);
  EXPECT_EQ(header, (Bytes{0, 0, 0, 1, 'w', 'i', 'd', 'e', 0, 0, 0, 1, 0, 0, 0, 7}));
  EXPECT_TRUE(Test_Container({0x80000000ull, 0x7FFFFFF6ull}).get_atom_size(&is64) == 0xFFFFFFFEull && !is64);
}

TEST(FrameRate, Normalisation) {
  struct Case { Frame_Rate in; uint32_t samples; Frame_Rate out; bool changed; uint8_t exact; } const cases[] = {
      {{50, 2}, 10, {25, 1}, true, 1}, {{25, 1}, 10, {25, 1}, true, 1}, {{0, 1}, 10, {25, 1}, true, 0},
      {{30, 0}, 10, {25, 1}, true, 0}, {{25, 2}, 10, {25, 2}, false, 0}, {{30000, 1001}, 5000, {30000, 1001}, false, 0},
      // 1001 x 4,294,000 leaves 32 bits, 1000 x 4,294,000 does not.
      {{30000, 1001}, 4294000, {29970, 1000}, true, 0}, {{30000, 1001}, 5000000, {2997, 100}, true, 0},
      // Too long even for a denominator of 10: whole frames a second.
      {{30000, 1001}, 500000000, {30, 1}, true, 0},
  };
  for (const Case& c : cases) {
    Frame_Rate rate = c.in;
    uint8_t exact = 7;
    bool changed = false;
    const std::string printed = printed_by([&] { changed = round_fps(rate, c.samples, &exact); });
    EXPECT_EQ((U32s{changed, rate.numerator, rate.denominator, exact}),
              (U32s{c.changed, c.out.numerator, c.out.denominator, c.exact}))
        << c.in.numerator << "/" << c.in.denominator << " x " << c.samples;
    if (c.in.numerator == 0) {
      EXPECT_EQ(printed, "ERROR src fps invalid : 0/1. Fps overwrite by 25/1\n");
    }
  }
}

TEST(VideoAtoms, SampleDescriptionPerCodec) {
  struct Case { const char *codec, *name; uint8_t source_depth; uint16_t depth; } const cases[] = {
      {"Hap1", "Hap", 32, 24},           {"Hap5", "Hap Alpha", 24, 32}, {"HapY", "Hap Q", 32, 24},
      {"HapM", "Hap Q Alpha", 24, 32},   {"HapA", "Hap Alpha-Only", 32, 24},
      {"Hap7", "Hap R", 24, 24},         {"Hap7", "Hap R", 32, 32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.codec << " from " << int(c.source_depth));
    const Extension_List extensions{GAMA_Writer(2, 0x3333), PASP_Writer(1920, 1920)};
    const Bytes b = SampleDescription_Video(1920, 1080, c.source_depth, fourcc(c.codec), extensions).serialise();
    ASSERT_EQ(b.size(), 118u);
    EXPECT_EQ(type_at(b, 0), c.codec);
    const uint8_t* p = b.data() + 8;
    EXPECT_EQ(Bytes(p, p + 24), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 'V', 'D', 'V', 'X', 0, 0, 0, 0,
                                       0, 0, 4, 0}));
    EXPECT_EQ((U32s{be16(p + 24), be16(p + 26), be32(p + 28), be32(p + 32), be32(p + 36), be16(p + 40)}),
              (U32s{1920, 1080, 0x00480000, 0x00480000, 0, 1}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 43), p[42]), c.name);
    EXPECT_EQ((U32s{be16(p + 74), be16(p + 76)}), (U32s{c.depth, 0xFFFF}));
    EXPECT_EQ(type_at(b, 8 + 78) + type_at(b, 8 + 90), "gamapasp");
    EXPECT_EQ((U32s{be32(p + 78 + 8), be32(p + 106)}), (U32s{0x00023333u, 0}));
  }
  EXPECT_EQ(printed_by([] { EXPECT_ANY_THROW(SampleDescription_Video(16, 16, 24, fourcc("avc1"), {})); }),
            "Sample Description Video Codec unsupported for vendor : avc1\n");
}

TEST(VideoAtoms, SampleTableOfTheWorkedExample) {
  Video_Fixture f;
  Extension_List extensions{GAMA_Writer(2, 0x3333)};
  STBL_Video_Writer stbl(1920, 1080, 24, fourcc("Hap1"), 1, {25, 1}, f.offsets, f.sizes, 1920, extensions);
  ASSERT_EQ(extensions.size(), 2u);
  EXPECT_EQ(std::string(extensions.back().type().data(), 4), "pasp");
  const Bytes b = stbl.serialise();
  ASSERT_EQ(b.size(), 251u);
  const size_t expected_sizes[] = {134, 24, 13, 28, 24, 20};
  const char* types[] = {"stsd", "stts", "sdtp", "stsc", "stsz", "stco"};
  for (size_t i = 0, at = 8; i < 6; at += expected_sizes[i++])
    EXPECT_EQ(type_at(b, at) + std::to_string(be32(&b[at])), types[i] + std::to_string(expected_sizes[i]));
  EXPECT_EQ(slice(b, find_atom(b, "sdtp") + 8, 5), (Bytes{0, 0, 0, 0, 0x28}));
  EXPECT_EQ(slice(b, find_atom(b, "stsz") + 8, 16), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 3, 0xE8}));
  EXPECT_EQ(slice(b, find_atom(b, "stco") + 8, 12), (Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x30}));
  EXPECT_EQ(slice(b, find_atom(b, "stts") + 16, 8), (Bytes{0, 0, 0, 1, 0, 0, 0, 1}));
  Extension_List none;
  const auto no_samples = [&] { STBL_Video_Writer(16, 16, 24, fourcc("Hap1"), 0, {25, 1}, {}, {}, 16, none); };
  EXPECT_EQ(printed_by([&] { EXPECT_THROW(no_samples(), std::runtime_error); }), "STBL : Duration 0 invalid\n");
}

TEST(VideoAtoms, ChunkOffsetsSwitchTo64BitsAtTheLimit) {
  const Bytes narrow = CO_Writer({48, 0xFFFFFFFEull}).serialise();
  EXPECT_EQ(type_at(narrow, 0), "stco");
  EXPECT_EQ((U32s{uint32_t(narrow.size()), be32(&narrow[20])}), (U32s{8 + 8 + 2 * 4, 0xFFFFFFFEu}));
  const uint64_t past = 0x100000000ull + 48;
  const Bytes wide = CO_Writer({48, 0xFFFFFFFFull, past}).serialise();
  EXPECT_EQ(type_at(wide, 0), "co64");
  EXPECT_EQ((U32s{uint32_t(wide.size()), be32(&wide[12])}), (U32s{8 + 8 + 3 * 8, 3}));
  EXPECT_EQ((std::vector<uint64_t>{be64(&wide[16]), be64(&wide[24]), be64(&wide[32])}),
            (std::vector<uint64_t>{48, 0xFFFFFFFFull, past}));
  EXPECT_EQ(type_at(CO_Writer({0xFFFFFFFFull}).serialise(), 0), "co64");
  EXPECT_EQ(CO_Writer({}).serialise().size(), 16u);
}

TEST(VideoAtoms, MovieTreeOfTheWorkedExample) {
  const Bytes b = Video_Fixture().moov();
  ASSERT_EQ(b.size(), 814u);
  const std::pair<const char*, size_t> order[] = {
      {"mvhd", 108}, {"trak", 698}, {"tkhd", 92}, {"tapt", 68}, {"load", 24}, {"edts", 36},  {"mdia", 470},
      {"mdhd", 32},  {"hdlr", 56},  {"minf", 374}, {"vmhd", 20}, {"hdlr", 59}, {"dinf", 36}, {"stbl", 251}};
  // In file order: each atom's header follows its parent's (or sibling's) bytes.
  size_t from = 8;
  for (const auto& [type, size] : order) {
    const size_t at = find_atom(b, type, from);
    ASSERT_NE(at, std::string::npos) << type;
    EXPECT_EQ(be32(&b[at]), size) << type;
    from = at + 8;
  }
  const size_t mvhd = find_atom(b, "mvhd") + 8, tkhd = find_atom(b, "tkhd") + 8;
  // Time scale, duration, next track ID.
  EXPECT_EQ((U32s{be32(&b[mvhd + 12]), be32(&b[mvhd + 16]), be32(&b[mvhd + 96])}), (U32s{25, 1, 2}));
  EXPECT_EQ((U32s{be32(&b[tkhd]), be32(&b[tkhd + 12]), be32(&b[tkhd + 76]), be32(&b[tkhd + 80])}),
            (U32s{0x0000000F, 1, 0x07800000, 0x04380000}));
  const size_t hdlr = find_atom(b, "hdlr");
  EXPECT_EQ(std::string(b.begin() + hdlr + 33, b.begin() + hdlr + 56), "Module de gestion video");
  const size_t dhlr = find_atom(b, "hdlr", hdlr + 8);
  EXPECT_EQ(b[dhlr + 32], 0x1A);
  EXPECT_EQ(b[dhlr + 47], 0x92);
}

TEST(VideoAtoms, DurationsFollowTheNormalisedRate) {
  const Bytes b = Video_Fixture(250, {50, 2}).moov();
  EXPECT_EQ(slice(b, find_atom(b, "mvhd") + 20, 8), (Bytes{0, 0, 0, 25, 0, 0, 0, 250}));
  EXPECT_EQ(slice(b, find_atom(b, "stts") + 16, 8), (Bytes{0, 0, 0, 250, 0, 0, 0, 1}));
  const Bytes n = Video_Fixture(10, {30000, 1001}).moov();
  EXPECT_EQ((U32s{be32(&n[find_atom(n, "mdhd") + 20]), be32(&n[find_atom(n, "mdhd") + 24]),
                  be32(&n[find_atom(n, "stts") + 20])}),
            (U32s{30000, 10010, 1001}));
  EXPECT_THROW(MVHD_Writer(0, 5000000, {30000, 1001}, 1), std::runtime_error);
  EXPECT_THROW(TKHD_Writer(0, 5000000, {30000, 1001}, 1, 1, 1, 0), std::runtime_error);
  EXPECT_THROW(EDTS_Writer(5000000, {30000, 1001}), std::runtime_error);
  EXPECT_THROW(MDHD_Writer(0, 5000000, {30000, 1001}), std::runtime_error);
  EXPECT_THROW(MVHD_Writer(0, 1, {25, 1}, 0xFFFFFFFE), std::runtime_error);
}

TEST(VideoAtoms, DisplayWidthFromPixelAspectRatio) {
  // 721.07 rounds to the odd 721, made even; the width is capped at 0xFFFE.
  EXPECT_EQ((U32s{uint32_t(display_width_for_ratio(721, 1.0001f)), uint32_t(display_width_for_ratio(16384, 4.0f))}),
            (U32s{722, 0xFFFE}));
  for (float ratio : {0.0f, -1.0f, NAN, INFINITY, -INFINITY, 1e-9f}) {
    int width = 0;
    const std::string printed = printed_by([&] { width = display_width_for_ratio(1280, ratio); });
    EXPECT_EQ(printed.rfind("WARNING : Video Track width_display <= 0 pour le pixel ratio : ", 0), 0u) << ratio;
    EXPECT_EQ(width, 1280) << ratio;
  }
  Video_Fixture f;
  f.video.width = 1440, f.video.pixel_aspect_ratio = 1.5f;
  const Bytes b = f.moov();
  EXPECT_EQ((U32s{be16(&b[find_atom(b, "tkhd") + 8 + 76]), be16(&b[find_atom(b, "clef") + 12]),
                  be16(&b[find_atom(b, "prof") + 12]), be16(&b[find_atom(b, "enof") + 12])}),
            (U32s{1440, 2160, 1440, 2160}));
  EXPECT_EQ(slice(b, find_atom(b, "pasp") + 8, 8), (Bytes{0, 0, 0x08, 0x70, 0, 0, 0x05, 0xA0}));  // 2160 : 1440
}

TEST(VideoAtoms, ExtensionAtoms) {
  EXPECT_EQ(FIEL_Writer(0).payload(), (Bytes{1, 0}));
  EXPECT_EQ(FIEL_Writer(2).payload(), (Bytes{2, 14}));
  EXPECT_THROW(FIEL_Writer(3), std::runtime_error);
  EXPECT_EQ(COLR_NCLC_Writer(0).payload(), (Bytes{'n', 'c', 'l', 'c', 0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(COLR_NCLC_Writer(1).payload(), (Bytes{'n', 'c', 'l', 'c', 0, 5, 0, 1, 0, 6}));
  EXPECT_THROW(COLR_NCLC_Writer(2), std::runtime_error);
  EXPECT_EQ(FTYP_Writer().serialise(), (Bytes{0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'q', 't', ' ', ' ', 0x20, 0x05, 3,
                                              0, 'q', 't', ' ', ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(GMHD_Writer().payload().size(), 71u);
  EXPECT_EQ(LOAD_Writer().payload(), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
}

// Premultiplied black is checked in a written movie; a 24-bit movie keeps only "VELN".
TEST(UserData, AlphaModes) {
  for (uint16_t depth : {32, 24}) {
    SCOPED_TRACE(depth);
    Movie_Metadata m;
    m.enable = 1, m.alpha_mode = 2;
    Video_Fixture f;
    f.video.depth = depth, f.video.codec = fourcc("Hap5");
    Moov_Video_Writer moov(f.video, {}, 0, f.extensions);
    set_user_data_atoms(moov, m);
    const Bytes b = moov.serialise();
    const size_t veln = find_atom(b, "VELN");
    ASSERT_NE(veln, std::string::npos);
    EXPECT_EQ(type_at(b, veln - 8), "udta");
    EXPECT_EQ(slice(b, veln + 8, 20), (Bytes{1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    if (depth == 24) {
      EXPECT_TRUE(find_atom(b, "ALFA") == std::string::npos && find_atom(b, "VELA") == std::string::npos);
      continue;
    }
    EXPECT_EQ(type_at(b, veln + 28) + type_at(b, veln + 46), "ALFAVELA");
    EXPECT_EQ(slice(b, veln + 36, 10), (Bytes{0, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(be32(&b[veln + 46]), 8u + 9);
    EXPECT_EQ(std::string(b.begin() + veln + 54, b.begin() + veln + 63), std::string("straight\0", 9));
  }
}

TEST(UserData, RefusedRecordsLeaveTheUserDataEmpty) {
  Video_Fixture f;
  f.video.width = 1280, f.video.height = 720;
  auto run = [&](const Movie_Metadata& m) {
    Extension_List extensions;
    Moov_Video_Writer moov(f.video, {}, 0, extensions);
    const std::string printed = printed_by([&] { set_user_data_atoms(moov, m); });
    return std::make_pair(moov.udta().is_empty(), printed);
  };
  Movie_Metadata m;
  m.enable = 1, m.alpha_mode = 1, m.version = 2;
  EXPECT_EQ(run(m), std::make_pair(true, std::string("Invalid version\nCan't write ALFA and VELN "
                                                     "metadata (invalid values)\n")));
  m.version = 1, m.alpha_mode = 3;
  EXPECT_EQ(run(m).second.rfind("Invalid alpha mode\n", 0), 0u);
  m.alpha_mode = 1, m.crop = 1, m.display_width = 1920, m.display_height = 1080, m.crop_x = 640, m.crop_y = 360;
  EXPECT_FALSE(run(m).first);
  m.crop_x = 641;
  EXPECT_EQ(run(m).second.rfind("Invalid crop box\n", 0), 0u);
  m.enable = 0;
  EXPECT_EQ(run(m), std::make_pair(true, std::string()));

  Movie_Metadata crop;
  crop.enable = 1, crop.crop = 1, crop.display_width = 1920, crop.display_height = 1080;
  crop.crop_x = 7, crop.crop_y = 9;
  const Bytes p = VelnoUDTA_Writer(crop).payload();
  EXPECT_EQ((U32s{p[3], uint32_t(p[4] | p[5] << 8), p[12], p[16]}), (U32s{1, 1920, 7, 9}));  // little-endian
  crop.version = 3;  // a version the writer does not know
  printed_by([&] {
    EXPECT_THROW(VelnoUDTA_Writer{crop}, std::runtime_error);
    EXPECT_THROW(AdobeAlfaUDTA_Writer{crop}, std::runtime_error);
    EXPECT_EQ(VelnoAlphaUDTA_Writer(crop).payload(), (Bytes{'u', 'n', 'k', 'n', 'o', 'w', 'n', 0}));
  });
}

// Without user data the dump names it instead; without a stream it goes to
// standard output.
TEST(AtomDump, EmptyUserDataAndStandardOutput) {
  Video_Fixture f;
  Moov_Video_Writer moov(f.video, {}, 0, f.extensions);
  const Lines lines = dump_lines(moov);
  ASSERT_EQ(lines.size(), 2u + 19 + 1);
  EXPECT_EQ(lines.front(), "ATOM : moov. LENGTH : 814");
  EXPECT_EQ(lines.back(), "UDTA : Empty (not write)");
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  EXPECT_EQ(printed_by([&] { dump_atom_tree(moov); }), text);
  // Sizes beyond 32 bits are printed whole.
  EXPECT_EQ(dump_lines(Claimed_Size_Atom(0x123456789ull)), Lines{"ATOM : free. LENGTH : 4886718345"});
  EXPECT_EQ(dump_lines(Test_Container({0x80000000ull, 0x7FFFFFF7ull}))[0], "ATOM : wide. LENGTH : 4294967303");
}

TEST(AtomDump, TreeWithAudioTimecodeAndUserData) {
  Video_Fixture f(250, {30000, 1001});
  f.video.depth = 32, f.video.codec = fourcc("Hap5");
  Timecode_Settings timecode;
  timecode.on = 1, timecode.sample_offset = 5000;
  Moov_Video_Writer moov(f.video, timecode, 2, f.extensions);
  const std::vector<uint64_t> audio_offsets{100};
  for (uint16_t channels : {2, 1}) moov.add_audio_track({16, 48000, channels, 0, 0}, 400400, audio_offsets);
  Movie_Metadata m;
  m.enable = 1, m.alpha_mode = 2;
  set_user_data_atoms(moov, m);

  // Tabs and type of every line, in writing order.
  const Lines lines = dump_lines(moov);
  std::string shape;
  for (const std::string& line : lines) {
    const size_t tabs = line.find_first_not_of('\t');
    ASSERT_EQ(line.compare(tabs, 7, "ATOM : "), 0) << line;
    shape += std::to_string(tabs) + line.substr(tabs + 7, 4) + " ";
  }
  const std::string stbl = "4stsd 4stts 4stsc 4stsz 4stco ";
  const std::string audio = "0trak 1tkhd 1edts 1tref 4tmcd 1mdia 2mdhd 2hdlr 2minf 3smhd 3hdlr 3dinf 3stbl " + stbl;
  EXPECT_EQ(shape, "0moov 0mvhd 0trak 1tkhd 1tapt 1load 1edts 1tref 4tmcd 1mdia 2mdhd 2hdlr 2minf 3vmhd 3hdlr "
                   "3dinf 3stbl 4stsd 4stts 4sdtp 4stsc 4stsz 4stco " + audio + audio +
                   "0trak 1tkhd 1edts 1mdia 2mdhd 2hdlr 2minf 3gmhd 3hdlr 3dinf 3stbl " + stbl +
                   "0udta 1VELN 1ALFA 1VELA ");
  // Each size is the one the serialised tree carries for that atom.
  const Bytes b = moov.serialise();
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t type = line.find("ATOM : ") + 7;
    at = find_atom(b, line.substr(type, 4), at);
    ASSERT_NE(at, std::string::npos) << line;
    EXPECT_EQ(line.substr(type + 4), ". LENGTH : " + std::to_string(be32(&b[at]))) << line;
    at += 8;
  }

  // A container's own dump starts unindented and goes on as its part of the
  // whole dump; "tapt" alone shows its three children.
  const Atom_Writer& video = *moov.children()[1];
  for (const Atom_Writer* part : {&video, &child(video, "mdia"), &child(video, "tref"), &child(moov, "udta")}) {
    const Lines own = dump_lines(*part);
    SCOPED_TRACE(own[0]);
    const auto first = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.substr(line.find_first_not_of('\t')) == own[0];
    });
    ASSERT_LE(own.size(), size_t(lines.end() - first));
    EXPECT_EQ(Lines(own.begin() + 1, own.end()), Lines(first + 1, first + own.size()));
  }
  EXPECT_EQ(dump_lines(child(video, "tapt")),
            (Lines{"ATOM : tapt. LENGTH : 68", "\t\t\t\tATOM : clef. LENGTH : 20", "\t\t\t\tATOM : prof. LENGTH : 20",
                   "\t\t\t\tATOM : enof. LENGTH : 20"}));
}
