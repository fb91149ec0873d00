// HAP frame byte format: exact section bytes, round trips over every format,
// chunk count and header form, worst-case sizes, and malformed frames.
#include <gtest/gtest.h>
#include <snappy-c.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "HAP/hap_format.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t all_formats[] = {Hap_Texture_Format_RGB_DXT1, Hap_Texture_Format_RGBA_DXT5,
                                Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1,
                                Hap_Texture_Format_RGBA_BPTC_UNORM};

// Texture-like bytes: runs of repeated blocks with some noise, so snappy
// shrinks most chunks but not all.
Bytes make_texture(size_t length, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes t(length);
  for (size_t i = 0; i < length; ++i) t[i] = (i / 64) % 3 == 0 ? uint8_t(rng()) : uint8_t(i % 8);
  return t;
}

Bytes random_bytes(size_t length, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes t(length);
  for (auto& b : t) b = uint8_t(rng());
  return t;
}

size_t snappy_size(const Bytes& in) {
  Bytes out(snappy_max_compressed_length(in.size()));
  size_t n = out.size();
  snappy_compress(reinterpret_cast<const char*>(in.data()), in.size(),
                  reinterpret_cast<char*>(out.data()), &n);
  return n;
}

// A 256-byte chunk whose snappy form is exactly 100 bytes: random head, zero
// middle and a short random tail, sized by search.
Bytes chunk_compressing_to_100() {
  for (size_t head = 32; head <= 200; ++head) {
    for (size_t tail = 0; tail < 16; ++tail) {
      Bytes c = random_bytes(256, 7);
      std::fill(c.begin() + head, c.end() - tail, 0);
      if (snappy_size(c) == 100) return c;
    }
  }
  ADD_FAILURE() << "no chunk of that size";
  return {};
}

Bytes encode(const Bytes& texture, uint32_t format, uint32_t compressor, uint32_t chunks) {
  Bytes out(max_texture_encoded_length(texture.size(), format, compressor, chunks));
  uint32_t used = 0;
  EXPECT_EQ(hap_encode_texture(texture.data(), uint32_t(texture.size()), format, compressor, chunks,
                               out.data(), uint32_t(out.size()), &used),
            HapResult_No_Error);
  out.resize(used);
  return out;
}

int callback_calls = 0;
void counting_serial(Hap_Decode_Work work, Hap_Chunk_Decode_Record* records, uint32_t count, void*) {
  ++callback_calls;
  for (uint32_t i = count; i-- > 0;) work(records, i);  // any order must do
}

HapResult decode(const Bytes& frame, uint32_t index, Bytes& out, uint32_t* format = nullptr) {
  uint32_t used = 0, f = 0;
  const HapResult r = hap_decode(frame.data(), uint32_t(frame.size()), index, counting_serial,
                                 nullptr, out.data(), uint32_t(out.size()), &used, &f);
  if (r == HapResult_No_Error) out.resize(used);
  if (format) *format = f;
  return r;
}

}  // namespace

TEST(HapFormat, SectionHeadersShortAndLong) {
  uint8_t b[8];
  write_section_header(b, 4, 0x123456, 0xAB);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x56, 0x34, 0x12, 0xAB}));
  write_section_header(b, 8, 0x1000000, 0xAB);
  EXPECT_EQ(Bytes(b, b + 8), (Bytes{0, 0, 0, 0xAB, 0, 0, 0, 1}));
  for (uint8_t nibble : {0xB, 0xE, 0xF, 0x1, 0xC})
    EXPECT_EQ(texture_code_from_format(texture_format_from_code(nibble)), nibble);
  EXPECT_EQ(texture_format_from_code(0x5), 0u);
}

TEST(HapFormat, ChunkedExampleBytes) {
  const Bytes chunk = chunk_compressing_to_100();
  Bytes texture;
  for (int i = 0; i < 4; ++i) texture.insert(texture.end(), chunk.begin(), chunk.end());
  const Bytes out = encode(texture, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 4);
  ASSERT_EQ(out.size(), 436u);
  const Bytes head{0xB0, 0x01, 0x00, 0xCB, 0x1C, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x02,
                   0x0B, 0x0B, 0x0B, 0x0B, 0x10, 0x00, 0x00, 0x03, 0x64, 0, 0, 0,
                   0x64, 0, 0, 0, 0x64, 0, 0, 0, 0x64, 0, 0, 0};
  EXPECT_EQ(Bytes(out.begin(), out.begin() + head.size()), head);

  // One chunk that does not shrink is stored raw; the chunked form still pays.
  const Bytes noise = random_bytes(256, 99);
  std::copy(noise.begin(), noise.end(), texture.begin() + 512);
  const Bytes mixed = encode(texture, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 4);
  ASSERT_EQ(mixed.size(), 4u + 4 + 28 + 300 + 256);
  EXPECT_EQ(mixed[3], 0xCB);
  EXPECT_EQ(Bytes(mixed.begin() + 12, mixed.begin() + 16), (Bytes{0x0B, 0x0B, 0x0A, 0x0B}));
  EXPECT_EQ(Bytes(mixed.begin() + 28, mixed.begin() + 32), (Bytes{0, 1, 0, 0}));
  Bytes back(1024);
  ASSERT_EQ(decode(mixed, 0, back), HapResult_No_Error);
  EXPECT_EQ(back, texture);
}

TEST(HapFormat, IncompressibleSingleChunkIsStoredRaw) {
  const Bytes texture = random_bytes(16, 3);
  const Bytes out = encode(texture, Hap_Texture_Format_RGB_DXT1, Hap_Compressor_Snappy, 1);
  ASSERT_EQ(out.size(), 20u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x10, 0, 0, 0xAB}));
  EXPECT_EQ(Bytes(out.begin() + 4, out.end()), texture);
}

TEST(HapFormat, ChunkCountLimits) {
  EXPECT_EQ(limit_chunk_count(250 * 250 * 8, Hap_Texture_Format_RGB_DXT1, 64), 50u);
  EXPECT_EQ(limit_chunk_count(320 * 180 * 8, Hap_Texture_Format_RGB_DXT1, 64), 64u);
  EXPECT_EQ(limit_chunk_count(97 * 16, Hap_Texture_Format_RGBA_DXT5, 64), 1u);
  // No whole block: one chunk holding every byte.
  EXPECT_EQ(limit_chunk_count(5, Hap_Texture_Format_RGB_DXT1, 64), 1u);
  EXPECT_EQ(limit_chunk_count(0x10000000, Hap_Texture_Format_RGB_DXT1, 0xFFFFFFFF) <= hap_max_chunk_count,
            true);
}

TEST(HapFormat, RoundTripEveryFormatCountAndCompressor) {
  // 360 blocks have many divisors; 97 blocks plus a tail of 3 bytes have
  // none, and 5 bytes hold no whole block.
  for (uint32_t format : all_formats) {
    const uint32_t block = (format == Hap_Texture_Format_RGB_DXT1 || format == Hap_Texture_Format_A_RGTC1) ? 8 : 16;
    for (size_t length : {size_t(360) * block, size_t(97) * block + 3, size_t(5)}) {
      const Bytes texture = make_texture(length, uint32_t(length));
      for (uint32_t compressor : {0u, 1u}) {
        for (uint32_t chunks = 1; chunks <= 64; ++chunks) {
          SCOPED_TRACE(testing::Message() << "format " << format << " length " << length
                                          << " compressor " << compressor << " chunks " << chunks);
          const Bytes frame = encode(texture, format, compressor, chunks);
          Bytes back(length);
          uint32_t found = 0;
          ASSERT_EQ(decode(frame, 0, back, &found), HapResult_No_Error);
          EXPECT_EQ(back, texture);
          EXPECT_EQ(found, format);
          uint32_t count = 0;
          ASSERT_EQ(get_texture_chunk_count(frame.data(), uint32_t(frame.size()), 0, &count),
                    HapResult_No_Error);
          if ((frame[3] >> 4) == Hap_Storage_Chunked)
            EXPECT_EQ(count, limit_chunk_count(uint32_t(length), format, chunks));
          else
            EXPECT_EQ(count, 1u);
        }
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
      Bytes out(room);
      uint32_t used = 0;
      EXPECT_EQ(hap_encode_texture(texture.data(), uint32_t(length), Hap_Texture_Format_RGB_DXT1, 1,
                                   chunks, out.data(), uint32_t(room), &used),
                HapResult_No_Error);
      Bytes short_out(room - 1, 0xEE);
      EXPECT_EQ(hap_encode_texture(texture.data(), uint32_t(length), Hap_Texture_Format_RGB_DXT1, 1,
                                   chunks, short_out.data(), uint32_t(room - 1), &used),
                HapResult_Buffer_Too_Small);
      EXPECT_TRUE(std::all_of(short_out.begin(), short_out.end(), [](uint8_t b) { return b == 0xEE; }));
    }
  }
  // The frame bound covers both textures and the container header.
  const uint32_t lengths[2] = {16 * 97 + 9, 8 * 97 + 1};
  const uint32_t formats[2] = {Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1};
  const uint32_t chunks[2] = {64, 64};
  const uint32_t bound = max_frame_encoded_length(2, lengths, formats, chunks);
  const Bytes t0 = random_bytes(lengths[0], 1), t1 = random_bytes(lengths[1], 2);
  const uint8_t* textures[2] = {t0.data(), t1.data()};
  const uint32_t compressors[2] = {1, 1};
  Bytes out(bound);
  uint32_t used = 0;
  EXPECT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunks, out.data(), bound, &used),
            HapResult_No_Error);
  const uint32_t zero_chunks[2] = {64, 0};
  EXPECT_EQ(max_frame_encoded_length(2, lengths, formats, zero_chunks), 0u);
  EXPECT_EQ(max_frame_encoded_length(3, lengths, formats, chunks), 0u);
  const uint32_t huge[1] = {0xFFFFFFF0};
  EXPECT_EQ(max_frame_encoded_length(1, huge, formats, chunks), 0u);
}

TEST(HapFormat, LongSectionHeaders) {
  Bytes texture(0x1000000, 0);
  for (size_t i = 0; i < texture.size(); i += 4096) texture[i] = uint8_t(i >> 12);
  const Bytes raw = encode(texture, Hap_Texture_Format_RGB_DXT1, 0, 1);
  EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 8), (Bytes{0, 0, 0, 0xAB, 0, 0, 0, 1}));
  Bytes back(texture.size());
  ASSERT_EQ(decode(raw, 0, back), HapResult_No_Error);
  EXPECT_EQ(back, texture);

  const Bytes exact(0xFFFFFF, 1);
  const Bytes fits = encode(exact, Hap_Texture_Format_A_RGTC1, 0, 1);
  EXPECT_EQ(Bytes(fits.begin(), fits.begin() + 4), (Bytes{0xFF, 0xFF, 0xFF, 0xA1}));

  // Snappy chunks near the limit take the long form, compressed or not.
  // 0xFFFFE0 bytes in 4 chunks: length + 5 x 4 + 12 is just above 0xFFFFFF.
  const Bytes near = random_bytes(0xFFFFE0, 5);
  const Bytes fallback = encode(near, Hap_Texture_Format_RGB_DXT1, 1, 4);
  EXPECT_EQ(Bytes(fallback.begin(), fallback.begin() + 4), (Bytes{0, 0, 0, 0xAB}));
  Bytes compressible(0xFFFFE0, 0);
  const Bytes chunked = encode(compressible, Hap_Texture_Format_RGB_DXT1, 1, 4);
  EXPECT_EQ(Bytes(chunked.begin(), chunked.begin() + 4), (Bytes{0, 0, 0, 0xCB}));
  back.assign(compressible.size(), 1);
  ASSERT_EQ(decode(chunked, 0, back), HapResult_No_Error);
  EXPECT_EQ(back, compressible);

  // A hand-made long header on a small section reads the same.
  Bytes small(8 + 16);
  write_section_header(small.data(), 8, 16, 0xA1);
  std::iota(small.begin() + 8, small.end(), uint8_t(0));
  back.assign(16, 0);
  ASSERT_EQ(decode(small, 0, back), HapResult_No_Error);
  EXPECT_EQ(Bytes(small.begin() + 8, small.end()), back);
}

TEST(HapFormat, TwoTextureContainer) {
  const Bytes colour = make_texture(16 * 64, 1), alpha = make_texture(8 * 64, 2);
  const uint8_t* textures[2] = {colour.data(), alpha.data()};
  const uint32_t lengths[2] = {16 * 64, 8 * 64};
  const uint32_t compressors[2] = {1, 0};
  const uint32_t chunks[2] = {4, 3};
  Bytes out(8192);
  uint32_t used = 0;
  const uint32_t refused[2] = {Hap_Texture_Format_RGB_DXT1, Hap_Texture_Format_RGBA_DXT5};
  EXPECT_EQ(hap_encode(2, textures, lengths, refused, compressors, chunks, out.data(), 8192, &used),
            HapResult_Bad_Arguments);
  const uint32_t bad_chunks[2] = {4, 0};
  const uint32_t ok_formats[2] = {Hap_Texture_Format_YCoCg_DXT5, Hap_Texture_Format_A_RGTC1};
  EXPECT_EQ(hap_encode(2, textures, lengths, ok_formats, compressors, bad_chunks, out.data(), 8192, &used),
            HapResult_Bad_Arguments);

  for (bool swapped : {false, true}) {
    const uint32_t formats[2] = {swapped ? Hap_Texture_Format_A_RGTC1 : Hap_Texture_Format_YCoCg_DXT5,
                                 swapped ? Hap_Texture_Format_YCoCg_DXT5 : Hap_Texture_Format_A_RGTC1};
    ASSERT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunks, out.data(), 8192, &used),
              HapResult_No_Error);
    const Bytes frame(out.begin(), out.begin() + used);
    EXPECT_EQ(frame[3], Hap_Section_Multiple_Textures);
    uint32_t count = 0;
    ASSERT_EQ(get_texture_count(frame.data(), used, &count), HapResult_No_Error);
    EXPECT_EQ(count, 2u);
    for (uint32_t i = 0; i < 2; ++i) {
      Bytes back(lengths[i]);
      uint32_t format = 0;
      ASSERT_EQ(decode(frame, i, back, &format), HapResult_No_Error);
      EXPECT_EQ(format, formats[i]);
      EXPECT_EQ(back, i == 0 ? colour : alpha);
      ASSERT_EQ(get_texture_format(frame.data(), used, i, &format), HapResult_No_Error);
      EXPECT_EQ(format, formats[i]);
    }
    Bytes back(16);
    EXPECT_EQ(decode(frame, 2, back), HapResult_Bad_Arguments);
  }
}

TEST(HapFormat, ReaderQueriesAndArguments) {
  const Bytes texture = make_texture(800, 4);
  const Bytes frame = encode(texture, Hap_Texture_Format_RGB_DXT1, 1, 5);
  uint32_t count = 0;
  ASSERT_EQ(get_texture_count(frame.data(), uint32_t(frame.size()), &count), HapResult_No_Error);
  EXPECT_EQ(count, 1u);
  Bytes back(800);
  EXPECT_EQ(decode(frame, 1, back), HapResult_Bad_Arguments);
  const uint8_t* content = nullptr;
  uint32_t length = 7;
  uint8_t type = 7;
  EXPECT_EQ(find_texture_section(frame.data(), uint32_t(frame.size()), 1, &content, &length, &type),
            HapResult_Bad_Arguments);
  EXPECT_EQ(content, nullptr);
  EXPECT_EQ(length, 0u);
  uint32_t format = 0;
  EXPECT_EQ(hap_decode(frame.data(), uint32_t(frame.size()), 0, nullptr, nullptr, back.data(), 800,
                       nullptr, &format),
            HapResult_Bad_Arguments);
  Bytes small(799);
  EXPECT_EQ(decode(frame, 0, small), HapResult_Buffer_Too_Small);

  // A single chunk is decoded without the callback.
  const Bytes one = encode(make_texture(512, 1), Hap_Texture_Format_RGB_DXT1, 1, 1);
  ASSERT_EQ(one[3], 0xCB);
  callback_calls = 0;
  back.assign(512, 0);
  ASSERT_EQ(decode(one, 0, back), HapResult_No_Error);
  EXPECT_EQ(callback_calls, 0);
  const Bytes many = encode(make_texture(512, 1), Hap_Texture_Format_RGB_DXT1, 1, 4);
  ASSERT_EQ(decode(many, 0, back), HapResult_No_Error);
  EXPECT_EQ(callback_calls, 1);
}

namespace {

// A chunked DXT1 section built by hand: the given tables, then data.
Bytes chunked_section(const Bytes& compressors, const std::vector<uint32_t>& sizes,
                      const std::vector<uint32_t>* offsets, const Bytes& data) {
  Bytes tables;
  auto section = [&](uint8_t type, const Bytes& content) {
    // An empty table can only be written in the long form.
    Bytes h(content.empty() ? 8 : 4);
    write_section_header(h.data(), uint32_t(h.size()), uint32_t(content.size()), type);
    tables.insert(tables.end(), h.begin(), h.end());
    tables.insert(tables.end(), content.begin(), content.end());
  };
  auto words = [](const std::vector<uint32_t>& v) {
    Bytes b;
    for (uint32_t x : v)
      for (int i = 0; i < 4; ++i) b.push_back(uint8_t(x >> (8 * i)));
    return b;
  };
  section(0x02, compressors);
  section(0x03, words(sizes));
  if (offsets) section(0x04, words(*offsets));
  Bytes content(4);
  write_section_header(content.data(), 4, uint32_t(tables.size()), 0x01);
  content.insert(content.end(), tables.begin(), tables.end());
  content.insert(content.end(), data.begin(), data.end());
  Bytes frame(4);
  write_section_header(frame.data(), 4, uint32_t(content.size()), 0xCB);
  frame.insert(frame.end(), content.begin(), content.end());
  return frame;
}

}  // namespace

TEST(HapFormat, MalformedFramesAreRefused) {
  const Bytes data = make_texture(64, 3);
  Bytes out(256);
  // Sound hand-made frame first: two raw chunks, with an offset table that swaps them.
  const std::vector<uint32_t> swap{32, 0};
  Bytes good = chunked_section({0x0A, 0x0A}, {32, 32}, &swap, data);
  ASSERT_EQ(decode(good, 0, out), HapResult_No_Error);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 32, data.begin() + 32));

  struct Case {
    const char* what;
    Bytes frame;
  };
  const std::vector<uint32_t> outside{0, 40};
  std::vector<Case> cases{
      {"tables disagree", chunked_section({0x0A, 0x0A, 0x0A}, {16, 16, 16, 16}, nullptr, data)},
      {"sizes beyond the data", chunked_section({0x0A, 0x0A}, {32, 40}, nullptr, data)},
      {"offset beyond the data", chunked_section({0x0A, 0x0A}, {32, 32}, &outside, data)},
      {"unknown chunk code", chunked_section({0x0A, 0x0C}, {32, 32}, nullptr, data)},
      {"empty compressor table", chunked_section({}, {32, 32}, nullptr, data)},
  };
  cases.push_back({"unknown format nibble", good});
  cases.back().frame[3] = 0xC5;
  cases.push_back({"unknown storage nibble", good});
  cases.back().frame[3] = 0xDB;
  cases.push_back({"header longer than frame", Bytes(good.begin(), good.end() - 1)});
  cases.push_back({"three bytes", Bytes{1, 0, 0}});
  cases.push_back({"long form cut", Bytes{0, 0, 0, 0xAB, 4, 0}});

  // A snappy chunk that claims fewer bytes than it decodes to.
  const Bytes chunk = make_texture(256, 9);
  Bytes squeezed(snappy_max_compressed_length(256));
  size_t n = squeezed.size();
  snappy_compress(reinterpret_cast<const char*>(chunk.data()), 256,
                  reinterpret_cast<char*>(squeezed.data()), &n);
  squeezed.resize(n);
  ASSERT_EQ(squeezed[0], 0x80);
  squeezed[0] = 0xFF;
  squeezed[1] = 0x01;
  cases.push_back({"snappy chunk decodes past its size",
                   chunked_section({0x0B}, {uint32_t(squeezed.size())}, nullptr, squeezed)});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes room(1024);
    EXPECT_EQ(decode(c.frame, 0, room), HapResult_Bad_Frame);
  }

  // Every truncation of a real chunked frame is refused.
  const Bytes real = encode(make_texture(2048, 1), Hap_Texture_Format_RGB_DXT1, 1, 8);
  for (size_t cut = 1; cut < real.size(); ++cut) {
    Bytes room(2048);
    Bytes truncated(real.begin(), real.begin() + cut);
    EXPECT_EQ(decode(truncated, 0, room), HapResult_Bad_Frame) << cut;
  }
}

TEST(HapFormat, CorruptedFramesNeverReadOutOfBounds) {
  // Random byte damage: whatever the result, no crash, and success only with
  // the whole output accounted for.
  const Bytes texture = make_texture(4096, 8);
  const Bytes real = encode(texture, Hap_Texture_Format_RGBA_DXT5, 1, 16);
  std::mt19937 rng(1);
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes damaged = real;
    for (int k = 0; k < 3; ++k) damaged[rng() % std::min<size_t>(damaged.size(), 120)] = uint8_t(rng());
    Bytes room(4096);
    uint32_t used = 0xFFFFFFFF, format = 0;
    const HapResult r = hap_decode(damaged.data(), uint32_t(damaged.size()), 0, counting_serial,
                                   nullptr, room.data(), 4096, &used, &format);
    if (r == HapResult_No_Error) {
      EXPECT_LE(used, 4096u);
    }
  }
}
