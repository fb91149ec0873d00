// HAP frame byte format: exact section bytes, round trips over every format,
// chunk count and header form, worst-case sizes, and malformed frames.
#include <gtest/gtest.h>
#include <snappy-c.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "HAP/hap_format.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t all_formats[] = {Hap_Texture_Format_RGB_DXT1, Hap_Texture_Format_RGBA_DXT5,
                                Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1,
                                Hap_Texture_Format_RGBA_BPTC_UNORM};

Bytes random_bytes(size_t length, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes t(length);
  for (auto& b : t) b = uint8_t(rng());
  return t;
}

// Texture-like bytes: runs of repeated blocks with some noise, so snappy
// shrinks most chunks but not all.
Bytes make_texture(size_t length, uint32_t seed) {
  Bytes t = random_bytes(length, seed);
  for (size_t i = 0; i < length; ++i)
    if ((i / 64) % 3) t[i] = uint8_t(i % 8);
  return t;
}

Bytes snappy(const Bytes& in) {
  Bytes out(snappy_max_compressed_length(in.size()));
  size_t n = out.size();
  snappy_compress(reinterpret_cast<const char*>(in.data()), in.size(), reinterpret_cast<char*>(out.data()), &n);
  out.resize(n);
  return out;
}

Bytes head(const Bytes& b, size_t n, size_t from = 0) { return Bytes(b.begin() + from, b.begin() + from + n); }

// A 256-byte chunk whose snappy form is exactly `size` bytes: random bytes
// with a run of zeros, placed and sized by search.
Bytes chunk_compressing_to(size_t size) {
  for (size_t run = 0; run < 256; ++run)
    for (size_t from = 0; from + run <= 256; from += 16) {
      Bytes c = random_bytes(256, 7);
      std::fill(c.begin() + from, c.begin() + from + run, 0);
      if (snappy(c).size() == size) return c;
    }
  ADD_FAILURE() << "no chunk of that size";
  return {};
}

Bytes encode(const Bytes& texture, uint32_t format, uint32_t compressor, uint32_t chunks) {
  Bytes out(max_texture_encoded_length(texture.size(), format, compressor, chunks));
  uint32_t used = 0;
  EXPECT_EQ(hap_encode_texture(texture.data(), uint32_t(texture.size()), format, compressor, chunks, out.data(),
                               uint32_t(out.size()), &used),
            HapResult_No_Error);
  out.resize(used);
  return out;
}

void reverse_serial(Hap_Decode_Work work, Hap_Chunk_Decode_Record* records, uint32_t count, void*) {
  for (uint32_t i = count; i-- > 0;) work(records, i);  // any order must do
}

// Decodes texture `index` into `out` (resized to the bytes written on success).
HapResult decode(const Bytes& frame, uint32_t index, Bytes& out, uint32_t* format = nullptr) {
  uint32_t used = 0, f = 0;
  const HapResult r = hap_decode(frame.data(), uint32_t(frame.size()), index, reverse_serial, nullptr, out.data(),
                                 uint32_t(out.size()), &used, &f);
  if (r == HapResult_No_Error) out.resize(used);
  if (format) *format = f;
  return r;
}

// The texture of a one-texture frame, or empty when it does not decode.
Bytes decoded(const Bytes& frame, size_t length) {
  Bytes back(length);
  return decode(frame, 0, back) == HapResult_No_Error ? back : Bytes();
}

// A chunked DXT1 section built by hand: the given tables, then data.
Bytes chunked_section(const Bytes& compressors, const std::vector<uint32_t>& sizes,
                      const std::vector<uint32_t>* offsets, const Bytes& data) {
  auto section = [](Bytes& to, uint8_t type, const Bytes& content) {
    Bytes h(content.empty() ? 8 : 4);  // an empty section can only be written in the long form
    write_section_header(h.data(), uint32_t(h.size()), uint32_t(content.size()), type);
    to.insert(to.end(), h.begin(), h.end());
    to.insert(to.end(), content.begin(), content.end());
  };
  auto words = [](const std::vector<uint32_t>& v) {
    Bytes b(4 * v.size());
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(v[i / 4] >> (8 * (i % 4)));
    return b;
  };
  Bytes tables, content, frame;
  section(tables, 0x02, compressors);
  section(tables, 0x03, words(sizes));
  if (offsets) section(tables, 0x04, words(*offsets));
  section(content, 0x01, tables);
  content.insert(content.end(), data.begin(), data.end());
  section(frame, 0xCB, content);
  return frame;
}

}  // namespace

TEST(HapFormat, ChunkedExampleBytes) {
  const Bytes chunk = chunk_compressing_to(100);
  Bytes texture;
  for (int i = 0; i < 4; ++i) texture.insert(texture.end(), chunk.begin(), chunk.end());
  const Bytes out = encode(texture, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 4);
  ASSERT_EQ(out.size(), 436u);
  EXPECT_EQ(head(out, 36), (Bytes{0xB0, 0x01, 0x00, 0xCB, 0x1C, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x02,
                                  0x0B, 0x0B, 0x0B, 0x0B, 0x10, 0x00, 0x00, 0x03, 0x64, 0, 0, 0,
                                  0x64, 0, 0, 0, 0x64, 0, 0, 0, 0x64, 0, 0, 0}));
  // One chunk that does not shrink is stored raw; the chunked form still pays.
  const Bytes noise = random_bytes(256, 99);
  std::copy(noise.begin(), noise.end(), texture.begin() + 512);
  const Bytes mixed = encode(texture, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 4);
  ASSERT_EQ(mixed.size(), 4u + 4 + 28 + 300 + 256);
  EXPECT_EQ(mixed[3], 0xCB);
  EXPECT_EQ(head(mixed, 4, 12), (Bytes{0x0B, 0x0B, 0x0A, 0x0B}));
  EXPECT_EQ(head(mixed, 4, 28), (Bytes{0, 1, 0, 0}));
  EXPECT_EQ(decoded(mixed, 1024), texture);
  // A chunk whose snappy form is exactly as long as the chunk gains nothing
  // from it: stored raw.
  const Bytes tie = chunk_compressing_to(256);
  std::copy(chunk.begin(), chunk.end(), texture.begin() + 512);
  std::copy(tie.begin(), tie.end(), texture.begin() + 768);
  const Bytes tied = encode(texture, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 4);
  EXPECT_EQ(head(tied, 20, 12), (Bytes{0x0B, 0x0B, 0x0B, 0x0A, 0x10, 0, 0, 0x03, 0x64, 0, 0, 0,
                                       0x64, 0, 0, 0, 0x64, 0, 0, 0}));
  EXPECT_EQ(head(tied, 4, 32), (Bytes{0, 1, 0, 0}));
  EXPECT_EQ(decoded(tied, 1024), texture);
  // A single chunk that shrinks takes the chunked form all the same: one
  // entry in each table, 4 + 13 + 100 bytes of content.
  const Bytes single = encode(chunk, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 1);
  ASSERT_EQ(single.size(), 121u);
  EXPECT_EQ(head(single, 21), (Bytes{0x75, 0, 0, 0xCB, 0x0D, 0, 0, 0x01, 0x01, 0, 0, 0x02, 0x0B, 0x04, 0, 0,
                                     0x03, 0x64, 0, 0, 0}));
  EXPECT_EQ(decoded(single, 256), chunk);
  // A single chunk that does not shrink: a raw section.
  const Bytes small = random_bytes(16, 3);
  const Bytes raw = encode(small, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 1);
  EXPECT_EQ(head(raw, 4), (Bytes{0x10, 0, 0, 0xAB}));
  EXPECT_EQ(Bytes(raw.begin() + 4, raw.end()), small);
}

// Readers elsewhere know the section types by these numbers only, so they are
// written out here rather than taken from the writer's names for them.
TEST(HapFormat, SectionTypesAsWritten) {
  struct Case {
    uint32_t format;       // its OpenGL number (1 for YCoCg-DXT5)
    uint32_t block_bytes;
    uint8_t raw, chunked;  // texture section types
  };
  const Case cases[] = {{0x83F0, 8, 0xAB, 0xCB}, {0x83F3, 16, 0xAE, 0xCE}, {0x0001, 16, 0xAF, 0xCF},
                        {0x8DBB, 8, 0xA1, 0xC1}, {0x8E8C, 16, 0xAC, 0xCC}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    // 32 blocks: the first half shrinks under snappy, the second does not.
    const uint32_t half = 16 * c.block_bytes;
    Bytes texture(half, 0);
    const Bytes noise = random_bytes(half, c.format);
    texture.insert(texture.end(), noise.begin(), noise.end());
    EXPECT_EQ(encode(texture, c.format, 0, 2)[3], c.raw);
    // Texture header, decode instructions (0x01) holding the compressor table
    // (0x02: snappy 0x0B, raw 0x0A) and the size table (0x03).
    const Bytes chunked = encode(texture, c.format, 1, 2);
    EXPECT_EQ((Bytes{chunked[3], chunked[7], chunked[11], chunked[12], chunked[13], chunked[17]}),
              (Bytes{c.chunked, 0x01, 0x02, 0x0B, 0x0A, 0x03}));
  }
  // Two textures go in a multiple-texture container (0x0D), colour first.
  const Bytes colour = make_texture(16 * 64, 1), alpha = make_texture(8 * 64, 2);
  const uint8_t* textures[2] = {colour.data(), alpha.data()};
  const uint32_t lengths[2] = {16 * 64, 8 * 64}, formats[2] = {0x0001, 0x8DBB}, chunks[2] = {4, 4};
  for (uint32_t compressor : {0u, 1u}) {
    const uint32_t compressors[2] = {compressor, compressor};
    Bytes frame(8192);
    uint32_t used = 0;
    ASSERT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunks, frame.data(), 8192, &used),
              HapResult_No_Error);
    const uint32_t first_size = 4 + (frame[4] | frame[5] << 8 | frame[6] << 16);
    ASSERT_LT(4 + first_size + 4, used);
    EXPECT_EQ((Bytes{frame[3], frame[7], frame[4 + first_size + 3]}),
              (compressor ? Bytes{0x0D, 0xCF, 0xC1} : Bytes{0x0D, 0xAF, 0xA1}));
  }
}

TEST(HapFormat, ChunkCountLimits) {
  EXPECT_EQ(limit_chunk_count(250 * 250 * 8, Hap_Texture_Format_RGB_DXT1, 64), 50u);
  EXPECT_EQ(limit_chunk_count(320 * 180 * 8, Hap_Texture_Format_RGB_DXT1, 64), 64u);
  EXPECT_EQ(limit_chunk_count(97 * 16, Hap_Texture_Format_RGBA_DXT5, 64), 1u);
  EXPECT_EQ(limit_chunk_count(5, Hap_Texture_Format_RGB_DXT1, 64), 1u);  // no whole block: one chunk
  EXPECT_LE(limit_chunk_count(0x10000000, Hap_Texture_Format_RGB_DXT1, 0xFFFFFFFF), hap_max_chunk_count);
}

TEST(HapFormat, RoundTripEveryFormatCountAndCompressor) {
  // 360 blocks have many divisors; 96 blocks plus a tail of 3 bytes leave
  // the tail to the last chunk; 97 blocks have no divisor, and 5 bytes hold
  // no whole block.
  for (uint32_t format : all_formats) {
    const uint32_t block = (format == Hap_Texture_Format_RGB_DXT1 || format == Hap_Texture_Format_A_RGTC1) ? 8 : 16;
    for (size_t length : {size_t(360) * block, size_t(96) * block + 3, size_t(97) * block + 3, size_t(5)}) {
      const Bytes texture = make_texture(length, uint32_t(length));
      for (uint32_t compressor : {0u, 1u})
        for (uint32_t chunks = 1; chunks <= 64; ++chunks) {
          SCOPED_TRACE(testing::Message() << format << " " << length << " " << compressor << " " << chunks);
          const Bytes frame = encode(texture, format, compressor, chunks);
          Bytes back(length);
          uint32_t found = 0, count = 0;
          ASSERT_EQ(decode(frame, 0, back, &found), HapResult_No_Error);
          EXPECT_EQ(back, texture);
          EXPECT_EQ(found, format);
          ASSERT_EQ(get_texture_chunk_count(frame.data(), uint32_t(frame.size()), 0, &count), HapResult_No_Error);
          const bool chunked = (frame[3] >> 4) == Hap_Storage_Chunked;
          EXPECT_EQ(count, chunked ? limit_chunk_count(uint32_t(length), format, chunks) : 1u);
        }
    }
  }
}

TEST(HapFormat, WorstCaseRoomAlwaysSuffices) {
  // Incompressible data with a remainder: the last chunk is the longest.
  for (size_t length : {size_t(64 * 8 + 7), size_t(6 * 8 + 5), size_t(1000)}) {
    const Bytes texture = random_bytes(length, 11);
    for (uint32_t chunks = 1; chunks <= 64; ++chunks) {
      const uint64_t room = max_texture_encoded_length(length, Hap_Texture_Format_RGB_DXT1, 1, chunks);
      Bytes out(room, 0xEE);
      auto encode_in = [&](uint64_t size) {
        uint32_t used = 0, format = Hap_Texture_Format_RGB_DXT1;
        return hap_encode_texture(texture.data(), uint32_t(length), format, 1, chunks, out.data(), uint32_t(size),
                                  &used);
      };
      EXPECT_EQ(encode_in(room - 1), HapResult_Buffer_Too_Small);
      EXPECT_EQ(out, Bytes(room, 0xEE));  // nothing written on failure
      EXPECT_EQ(encode_in(room), HapResult_No_Error);
    }
  }
  // The frame bound covers both textures and the container header.
  const uint32_t lengths[2] = {16 * 97 + 9, 8 * 97 + 1}, chunks[2] = {64, 64}, compressors[2] = {1, 1};
  const uint32_t formats[2] = {Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1};
  const uint32_t bound = max_frame_encoded_length(2, lengths, formats, chunks);
  const Bytes t0 = random_bytes(lengths[0], 1), t1 = random_bytes(lengths[1], 2);
  const uint8_t* textures[2] = {t0.data(), t1.data()};
  Bytes out(bound);
  uint32_t used = 0;
  EXPECT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunks, out.data(), bound, &used),
            HapResult_No_Error);
  const uint32_t zero_chunks[2] = {64, 0}, huge[1] = {0xFFFFFFF0};
  EXPECT_EQ(max_frame_encoded_length(2, lengths, formats, zero_chunks), 0u);
  EXPECT_EQ(max_frame_encoded_length(3, lengths, formats, chunks), 0u);
  EXPECT_EQ(max_frame_encoded_length(1, huge, formats, chunks), 0u);
}

TEST(HapFormat, LongSectionHeaders) {
  Bytes texture(0x1000000, 0);
  for (size_t i = 0; i < texture.size(); i += 4096) texture[i] = uint8_t(i >> 12);
  const Bytes raw = encode(texture, Hap_Texture_Format_RGB_DXT1, 0, 1);
  EXPECT_EQ(head(raw, 8), (Bytes{0, 0, 0, 0xAB, 0, 0, 0, 1}));
  EXPECT_EQ(decoded(raw, texture.size()), texture);
  EXPECT_EQ(head(encode(Bytes(0xFFFFFF, 1), Hap_Texture_Format_A_RGTC1, 0, 1), 4), (Bytes{0xFF, 0xFF, 0xFF, 0xA1}));
  // Snappy chunks near the limit take the long form, compressed or not.
  // 0xFFFFE0 bytes in 4 chunks: length + 5 x 4 + 12 is just above 0xFFFFFF.
  EXPECT_EQ(head(encode(random_bytes(0xFFFFE0, 5), Hap_Texture_Format_RGB_DXT1, 1, 4), 4), (Bytes{0, 0, 0, 0xAB}));
  const Bytes compressible(0xFFFFE0, 0);
  const Bytes chunked = encode(compressible, Hap_Texture_Format_RGB_DXT1, 1, 4);
  EXPECT_EQ(head(chunked, 4), (Bytes{0, 0, 0, 0xCB}));
  EXPECT_EQ(decoded(chunked, compressible.size()), compressible);
}

// Two textures that each fit the short form but not together: the container
// takes the long form (a 4096 x 4096 HAPQA frame without snappy).
TEST(HapFormat, LongTwoTextureContainer) {
  const Bytes colour = make_texture(0x800000, 3), alpha = make_texture(0x800000, 4);
  const uint8_t* textures[2] = {colour.data(), alpha.data()};
  const uint32_t lengths[2] = {0x800000, 0x800000}, compressors[2] = {0, 0}, chunks[2] = {1, 1};
  const uint32_t formats[2] = {Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1};
  Bytes frame(max_frame_encoded_length(2, lengths, formats, chunks));
  uint32_t used = 0;
  ASSERT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunks, frame.data(),
                       uint32_t(frame.size()), &used),
            HapResult_No_Error);
  frame.resize(used);
  EXPECT_EQ(used, 8u + 2 * (4 + 0x800000));
  EXPECT_EQ(head(frame, 8), (Bytes{0, 0, 0, 0x0D, 8, 0, 0, 1}));
  Bytes back(0x800000);
  ASSERT_EQ(decode(frame, 1, back), HapResult_No_Error);
  EXPECT_EQ(back, alpha);
}

TEST(HapFormat, TwoTextureContainer) {
  const Bytes colour = make_texture(16 * 64, 1), alpha = make_texture(8 * 64, 2);
  const uint8_t* textures[2] = {colour.data(), alpha.data()};
  const uint32_t lengths[2] = {16 * 64, 8 * 64}, compressors[2] = {1, 0}, chunks[2] = {4, 3}, bad_chunks[2] = {4, 0};
  const uint32_t refused[2] = {Hap_Texture_Format_RGB_DXT1, Hap_Texture_Format_RGBA_DXT5};
  const uint32_t ok_formats[2] = {Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1};
  Bytes out(8192);
  uint32_t used = 0;
  EXPECT_EQ(hap_encode(2, textures, lengths, refused, compressors, chunks, out.data(), 8192, &used),
            HapResult_Bad_Arguments);
  EXPECT_EQ(hap_encode(2, textures, lengths, ok_formats, compressors, bad_chunks, out.data(), 8192, &used),
            HapResult_Bad_Arguments);
  for (bool swapped : {false, true}) {
    const uint32_t formats[2] = {ok_formats[swapped], ok_formats[!swapped]};
    ASSERT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunks, out.data(), 8192, &used),
              HapResult_No_Error);
    const Bytes frame(out.begin(), out.begin() + used);
    EXPECT_EQ(frame[3], 0x0D);
    uint32_t count = 0, format = 0, stated = 0;
    ASSERT_EQ(get_texture_count(frame.data(), used, &count), HapResult_No_Error);
    EXPECT_EQ(count, 2u);
    for (uint32_t i = 0; i < 2; ++i) {
      Bytes back(lengths[i]);
      ASSERT_EQ(decode(frame, i, back, &format), HapResult_No_Error);
      ASSERT_EQ(get_texture_format(frame.data(), used, i, &stated), HapResult_No_Error);
      EXPECT_EQ((std::vector<uint32_t>{format, stated}), (std::vector<uint32_t>{formats[i], formats[i]}));
      EXPECT_EQ(back, i == 0 ? colour : alpha);
    }
    Bytes back(16);
    EXPECT_EQ(decode(frame, 2, back), HapResult_Bad_Arguments);
  }
}

TEST(HapFormat, WholeTextureSnappySection) {
  const Bytes texture = make_texture(512, 5);
  auto section = [](const Bytes& content) {
    Bytes frame(4);
    write_section_header(frame.data(), 4, uint32_t(content.size()), 0xBB);
    frame.insert(frame.end(), content.begin(), content.end());
    return frame;
  };
  const Bytes good = section(snappy(texture));
  EXPECT_EQ(decoded(good, 512), texture);
  Bytes small(511);
  EXPECT_EQ(decode(good, 0, small), HapResult_Buffer_Too_Small);
  // Any snappy failure on a whole texture, from its length or its body, is
  // an internal error, not a bad frame.
  Bytes cut_body = snappy(texture);
  cut_body.resize(cut_body.size() / 2);
  for (Bytes room(1024); const Bytes& content : {Bytes(6, 0xFF), cut_body})
    EXPECT_EQ(decode(section(content), 0, room), HapResult_Internal_Error);
}

TEST(HapFormat, TextureCountNeedsInnerSectionsInsideTheFrameOnly) {
  // A container whose stated length covers only the second texture's header;
  // that texture's content follows in the frame.
  Bytes frame(4);
  write_section_header(frame.data(), 4, 20 + 4, Hap_Section_Multiple_Textures);
  for (uint32_t length : {16u, 8u}) {
    Bytes inner(4 + length, 0x11);
    write_section_header(inner.data(), 4, length, 0xA1);
    frame.insert(frame.end(), inner.begin(), inner.end());
  }
  uint32_t count = 0;
  ASSERT_EQ(get_texture_count(frame.data(), uint32_t(frame.size()), &count), HapResult_No_Error);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(get_texture_count(frame.data(), uint32_t(frame.size() - 1), &count), HapResult_Bad_Frame);
}

TEST(HapFormat, ReaderQueriesAndArguments) {
  const Bytes frame = encode(make_texture(800, 4), Hap_Texture_Format_RGB_DXT1, 1, 5);
  uint32_t length = 7, format = 0;
  Bytes back(800), small(799);
  EXPECT_EQ(decode(frame, 1, back), HapResult_Bad_Arguments);
  const uint8_t* content = nullptr;
  uint8_t type = 7;
  EXPECT_EQ(find_texture_section(frame.data(), uint32_t(frame.size()), 1, &content, &length, &type),
            HapResult_Bad_Arguments);
  EXPECT_EQ(content, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(hap_decode(frame.data(), uint32_t(frame.size()), 0, nullptr, nullptr, back.data(), 800, nullptr, &format),
            HapResult_Bad_Arguments);
  EXPECT_EQ(decode(frame, 0, small), HapResult_Buffer_Too_Small);
}

TEST(HapFormat, MalformedFramesAreRefused) {
  const Bytes data = make_texture(64, 3);
  // Sound hand-made frame first: two raw chunks, with an offset table that swaps them.
  const std::vector<uint32_t> swap{32, 0}, outside{0, 40};
  const Bytes good = chunked_section({0x0A, 0x0A}, {32, 32}, &swap, data);
  const Bytes back = decoded(good, 64);
  ASSERT_EQ(back.size(), 64u);
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 32, data.begin() + 32));

  // A snappy chunk that claims fewer bytes than it decodes to.
  Bytes squeezed = snappy(make_texture(256, 9));
  ASSERT_EQ(squeezed[0], 0x80);
  squeezed[0] = 0xFF;
  squeezed[1] = 0x01;
  Bytes bad_format = good, bad_storage = good;
  bad_format[3] = 0xC5;
  bad_storage[3] = 0xDB;
  const std::pair<const char*, Bytes> cases[] = {
      {"tables disagree", chunked_section({0x0A, 0x0A, 0x0A}, {16, 16, 16, 16}, nullptr, data)},
      {"sizes beyond the data", chunked_section({0x0A, 0x0A}, {32, 40}, nullptr, data)},
      {"offset beyond the data", chunked_section({0x0A, 0x0A}, {32, 32}, &outside, data)},
      {"unknown chunk code", chunked_section({0x0A, 0x0C}, {32, 32}, nullptr, data)},
      {"empty compressor table", chunked_section({}, {32, 32}, nullptr, data)},
      {"unknown format nibble", bad_format},
      {"unknown storage nibble", bad_storage},
      {"three bytes", Bytes{1, 0, 0}},
      {"long form cut", Bytes{0, 0, 0, 0xAB, 4, 0}},
      {"snappy chunk decodes past its size",
       chunked_section({0x0B}, {uint32_t(squeezed.size())}, nullptr, squeezed)}};
  for (const auto& [what, frame] : cases) {
    Bytes room(1024);
    EXPECT_EQ(decode(frame, 0, room), HapResult_Bad_Frame) << what;
  }
  // Every truncation of a real chunked frame is refused.
  const Bytes real = encode(make_texture(2048, 1), Hap_Texture_Format_RGB_DXT1, 1, 8);
  for (size_t cut = 1; cut < real.size(); ++cut) {
    Bytes room(2048);
    EXPECT_EQ(decode(Bytes(real.begin(), real.begin() + cut), 0, room), HapResult_Bad_Frame) << cut;
  }
}

TEST(HapFormat, CorruptedFramesNeverReadOutOfBounds) {
  // Random byte damage: whatever the result, no crash, and success only with
  // the whole output accounted for.
  const Bytes real = encode(make_texture(4096, 8), Hap_Texture_Format_RGBA_DXT5, 1, 16);
  std::mt19937 rng(1);
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes damaged = real, room(4096);
    for (int k = 0; k < 3; ++k) damaged[rng() % std::min<size_t>(damaged.size(), 120)] = uint8_t(rng());
    uint32_t used = 0xFFFFFFFF, format = 0;
    if (hap_decode(damaged.data(), uint32_t(damaged.size()), 0, reverse_serial, nullptr, room.data(), 4096, &used,
                   &format) == HapResult_No_Error) {
      EXPECT_LE(used, 4096u);
    }
  }
}
