// Frame records: the padded buffer pool, Dxt_Frame sizes and block operations,
// and Hap_Frame packing, parsing and decoding.
#include <gtest/gtest.h>
#include <snappy-c.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "HAP/DXT_Frame.h"
#include "HAP/buffers_list.h"
#include "HAP/hap_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

// Texture-like bytes that snappy can shrink.
Bytes texture_bytes(size_t n, uint32_t seed) {
  Bytes b = random_bytes(n, seed);
  for (size_t i = 0; i < n; ++i)
    if ((i / 32) % 2) b[i] = uint8_t(i / 256);
  return b;
}

// A square texture of texture_bytes and the HAP frame that stores it,
// chunked, with the first compressor.
struct Stored_Texture {
  Dxt_Frame texture;
  Bytes bytes;
  Hap_Frame frame;
  Stored_Texture(uint32_t size, Dxt_Codec codec, uint32_t hap_codec, uint32_t chunks, uint32_t seed) {
    alloc_dxt_frame_data(&texture, size, size, codec);
    bytes = texture_bytes(texture.length, seed);
    std::memcpy(texture.data, bytes.data(), bytes.size());
    init_hap_frame(&frame, size, size, hap_codec, chunks);
    encode_hap_frame(&frame, &texture, nullptr, chunks, 1);
  }
  ~Stored_Texture() {
    free_hap_frame(&frame);
    free_dxt_frame_data(&texture);
  }
};

}  // namespace

// ---------------------------------------------------------------- buffer pool

TEST(PaddedBuffer, GrowsKeepsAndZeroesPadding) {
  Padded_Buffer b;
  b.padding = 16;
  alloc_padded_buffer(&b, 100);
  EXPECT_EQ(b.capacity, 116u);
  for (int i = 100; i < 116; ++i) EXPECT_EQ(b.data[i], 0);
  std::memset(b.data, 0xAA, 116);
  uint8_t* kept = b.data;
  alloc_padded_buffer(&b, 90);
  EXPECT_EQ(b.data, kept);
  EXPECT_EQ(b.capacity, 116u);
  for (int i = 90; i < 106; ++i) EXPECT_EQ(b.data[i], 0);
  EXPECT_EQ(b.data[106], 0xAA);
  alloc_padded_buffer(&b, 101);
  EXPECT_EQ(b.capacity, 117u);
  free_padded_buffer(&b);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.capacity, 0u);
  free_padded_buffer(&b);  // nothing held: nothing done
}

TEST(PaddedBuffer, RefusesWhatCannotBeHeld) {
  EXPECT_EQ(error_text([] { alloc_padded_buffer(nullptr, 1); }), "buf obj est null");
  Padded_Buffer b;
  EXPECT_EQ(error_text([&] { alloc_padded_buffer(&b, 0xFFFFFFFFu); }),
            "Alloc buffer : Taille demandee ne laisse pas la place au padding : New size : "
            "4294967295 ; padding : 0");
  b.padding = 16;
  EXPECT_EQ(error_text([&] { alloc_padded_buffer(&b, 0xFFFFFFFFu - 16); }),
            "Alloc buffer : Taille demandee ne laisse pas la place au padding : New size : "
            "4294967279 ; padding : 16");
  EXPECT_EQ(b.data, nullptr);
}

TEST(BuffersList, CountsAndReuse) {
  Buffers_List list;
  EXPECT_EQ(error_text([] { init_buffers_list(nullptr, 1, 0); }), "Buffers_List obj est null");
  // A count beyond the list's 16-bit count is refused, not truncated to 0.
  EXPECT_EQ(error_text([&] { init_buffers_list(&list, 65536, 0); }),
            "Buffers_List : nombre de buffers > 65535");
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.entries, nullptr);
  // A count of 0 leaves an empty list, with nothing to leak.
  init_buffers_list(&list, 0, 8);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.entries, nullptr);

  init_buffers_list_allocated(&list, 10, 3, 4);
  ASSERT_EQ(list.count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list.entries[i].capacity, 14u);
    EXPECT_EQ(list.entries[i].padding, 4);
  }
  Padded_Buffer* before = list.entries;
  EXPECT_EQ(error_text([&] { init_buffers_list(&list, 2, 0); }),
            "Buffers_List obj a deja des buffers alloues");
  EXPECT_EQ(list.entries, before);
  free_buffers_list(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.entries, nullptr);
  free_buffers_list(&list);

  init_buffers_list(&list, 65535, 0);
  EXPECT_EQ(list.count, 65535);
  EXPECT_EQ(list.entries[65534].data, nullptr);
  free_buffers_list(&list);
}

// ------------------------------------------------------------------ Dxt_Frame

TEST(DxtFrame, SizesAndSetUp) {
  EXPECT_EQ(dxt_frame_size(1920, 1080, Dxt_Codec_DXT1), 480u * 270 * 8);
  EXPECT_EQ(dxt_frame_size(6, 6, Dxt_Codec_DXT5), 64u);
  EXPECT_EQ(dxt_blocks_across(451), 113u);
  EXPECT_EQ(dxt_round_up_to_block(5), 8u);
  EXPECT_EQ(dxt_frame_size(65535, 65535, Dxt_Codec_BC7), 16384ull * 16384 * 16);
  EXPECT_EQ(error_text([] { dxt_block_bytes(Dxt_Codec(4)); }), "Unknown dxt codec");

  Padded_Buffer buffer;
  Dxt_Frame frame;
  alloc_dxt_frame(&frame, &buffer, 10, 6, Dxt_Codec_RGTC1);
  EXPECT_EQ(frame.length, 3u * 2 * 8);
  EXPECT_EQ(buffer.length, 48u);
  EXPECT_EQ(frame.data, buffer.data);
  EXPECT_EQ(error_text([&] { set_dxt_frame_from_buffer(&frame, &buffer, 16, 16, Dxt_Codec_DXT5); }),
            "set_dxt_frame_from_buffer, le buffer n'est pas assez grand pour la frame dxt");
  EXPECT_EQ(error_text([&] { alloc_dxt_frame(&frame, &buffer, 65535, 65535, Dxt_Codec_BC7); }),
            "Taille dxt frame > UINT32_MAX");
  EXPECT_EQ(error_text([&] { alloc_dxt_frame(&frame, &buffer, 0, 4, Dxt_Codec_DXT1); }), "width > 0");
  free_padded_buffer(&buffer);

  alloc_dxt_frame_data(&frame, 8, 8, Dxt_Codec_DXT1);
  EXPECT_EQ(frame.length, 32u);
  free_dxt_frame_data(&frame);
  EXPECT_EQ(frame.data, nullptr);
  free_dxt_frame_data(&frame);
}

TEST(DxtFrame, ConversionsBetweenCodecs) {
  Dxt_Frame dxt1, dxt5, back, alpha;
  alloc_dxt_frame_data(&dxt1, 8, 8, Dxt_Codec_DXT1);
  alloc_dxt_frame_data(&dxt5, 8, 8, Dxt_Codec_DXT5);
  alloc_dxt_frame_data(&back, 8, 8, Dxt_Codec_DXT1);
  alloc_dxt_frame_data(&alpha, 8, 8, Dxt_Codec_RGTC1);
  const Bytes blocks = random_bytes(32, 1);
  std::memcpy(dxt1.data, blocks.data(), 32);
  convert_dxt_frame(&dxt1, &dxt5);
  for (int b = 0; b < 4; ++b) {
    EXPECT_EQ(Bytes(dxt5.data + 16 * b, dxt5.data + 16 * b + 8), (Bytes{0xFF, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(0, std::memcmp(dxt5.data + 16 * b + 8, blocks.data() + 8 * b, 8));
  }
  convert_dxt_frame(&dxt5, &back);
  EXPECT_EQ(0, std::memcmp(back.data, blocks.data(), 32));
  convert_dxt_frame(&dxt5, &alpha);
  EXPECT_EQ(alpha.data[0], 0xFF);
  EXPECT_EQ(alpha.data[8], 0xFF);

  testing::internal::CaptureStdout();
  EXPECT_EQ(error_text([&] { convert_dxt_frame(&dxt1, &back); }),
            "conversion dxt invalide (src / cible codec non supporte");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERR : Codec DXT source et cible non coherent\n");
  Dxt_Frame wide = back;
  wide.width = 12;
  EXPECT_EQ(error_text([&] { convert_dxt_frame(&dxt1, &wide); }),
            "conversion dxt : largeur non identique entre source et cible");
  Dxt_Frame small = dxt5;
  small.length = 40;
  EXPECT_NE(error_text([&] { convert_dxt_frame(&dxt1, &small); }), "(no exception)");
  for (Dxt_Frame* f : {&dxt1, &dxt5, &back, &alpha}) free_dxt_frame_data(f);
}

TEST(DxtFrame, CropByBlocks) {
  Dxt_Frame source, target;
  alloc_dxt_frame_data(&source, 16, 12, Dxt_Codec_DXT1);  // 4 x 3 blocks
  for (int b = 0; b < 12; ++b) std::memset(source.data + 8 * b, b, 8);
  alloc_dxt_frame_data(&target, 8, 8, Dxt_Codec_DXT1);  // 2 x 2 blocks
  crop_dxt_frame(&source, &target, 1, 1, 2, 2);
  const uint8_t expected[4] = {5, 6, 9, 10};
  for (int b = 0; b < 4; ++b) EXPECT_EQ(target.data[8 * b], expected[b]);
  EXPECT_EQ(error_text([&] { crop_dxt_frame(&source, &target, 3, 1, 2, 2); }),
            "crop dxt : la zone demandee depasse l'image source");
  EXPECT_EQ(error_text([&] { crop_dxt_frame(&source, &target, 0, 0, 3, 2); }),
            "crop dxt : l'image cible n'a pas le bon nombre de bloc DXT en largeur");
  EXPECT_EQ(error_text([&] { crop_dxt_frame(&source, &target, 0, 0, 2, 1); }),
            "crop dxt : l'image cible n'a pas le bon nombre de bloc DXT en hauteur");
  free_dxt_frame_data(&source);
  free_dxt_frame_data(&target);
}

TEST(DxtFrame, AlphaBlocksAndReferenceDecoders) {
  uint8_t block[8] = {10, 20, 0, 0, 0, 0, 0, 0};
  uint64_t bits = 0;
  for (int i = 0; i < 16; ++i) bits |= uint64_t(6) << (3 * i);
  for (int i = 0; i < 6; ++i) block[2 + i] = uint8_t(bits >> (8 * i));
  uint8_t value = 9;
  EXPECT_TRUE(dxt_alpha_block_uniform(block, &value));
  EXPECT_EQ(value, 0);
  std::memset(block + 2, 0xFF, 6);
  EXPECT_TRUE(dxt_alpha_block_uniform(block, &value));
  EXPECT_EQ(value, 255);
  block[2] = 0;
  EXPECT_FALSE(dxt_alpha_block_uniform(block, &value));

  // Against the independent decoders, on random blocks (within one step of
  // rounding in the interpolated entries).
  std::mt19937 rng(3);
  Dxt_Frame frame;
  alloc_dxt_frame_data(&frame, 4, 4, Dxt_Codec_DXT5);
  for (int trial = 0; trial < 300; ++trial) {
    for (int i = 0; i < 16; ++i) frame.data[i] = uint8_t(rng());
    uint16_t c0 = frame.data[8] | frame.data[9] << 8, c1 = frame.data[10] | frame.data[11] << 8;
    if (c0 <= c1) std::swap(frame.data[8], frame.data[10]), std::swap(frame.data[9], frame.data[11]);
    c0 = frame.data[8] | frame.data[9] << 8, c1 = frame.data[10] | frame.data[11] << 8;
    if (c0 == c1) continue;
    uint8_t ours[64], ref[64];
    decode_dxt5_block(&frame, 0, ours);
    decode_dxt5_block(frame.data, ref);
    for (int p = 0; p < 16; ++p) {
      EXPECT_NEAR(ours[4 * p], ref[4 * p + 3], 1);      // A
      EXPECT_NEAR(ours[4 * p + 1], ref[4 * p + 2], 1);  // R
      EXPECT_NEAR(ours[4 * p + 2], ref[4 * p + 1], 1);  // G
      EXPECT_NEAR(ours[4 * p + 3], ref[4 * p], 1);      // B
    }
  }
  // YCoCg: Y 100 in the alpha half; Co 4, Cg 2 at scale 1 in the colour half.
  const uint16_t colour = 16 << 11 | 32 << 5;
  const uint8_t ycocg_block[16] = {100, 100, 0, 0, 0, 0, 0, 0, uint8_t(colour), uint8_t(colour >> 8),
                                   uint8_t(colour), uint8_t(colour >> 8), 0, 0, 0, 0};
  std::memcpy(frame.data, ycocg_block, 16);
  uint8_t rgb[48];
  decode_ycocg_block(&frame, 0, rgb);
  EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{102, 102, 94}));
  uint8_t out[64];
  EXPECT_NE(error_text([&] { decode_dxt5_block(&frame, 16, out); }), "(no exception)");
  free_dxt_frame_data(&frame);
}

namespace {

// An RGTC1 frame of w x h blocks: opaque (255) inside the box, transparent outside.
Dxt_Frame alpha_grid(uint32_t across, uint32_t down, uint32_t x0, uint32_t x1, uint32_t y0,
                     uint32_t y1) {
  Dxt_Frame f;
  alloc_dxt_frame_data(&f, across * 4, down * 4, Dxt_Codec_RGTC1);
  for (uint32_t r = 0; r < down; ++r)
    for (uint32_t c = 0; c < across; ++c) {
      uint8_t* b = f.data + 8 * (r * across + c);
      std::memset(b, 0, 8);
      if (c >= x0 && c <= x1 && r >= y0 && r <= y1) b[0] = 255;
    }
  return f;
}

}  // namespace

TEST(DxtFrame, EmptyBorderDetection) {
  uint16_t t, b, l, r;
  Dxt_Frame box = alpha_grid(8, 10, 2, 5, 3, 6);
  detect_dxt_crop_alpha(&box, &t, &b, &l, &r);
  EXPECT_EQ((std::vector<int>{t, b, l, r}), (std::vector<int>{3, 3, 2, 2}));
  free_dxt_frame_data(&box);

  Dxt_Frame empty = alpha_grid(4, 4, 9, 9, 9, 9);
  detect_dxt_crop_alpha(&empty, &t, &b, &l, &r);
  EXPECT_EQ((std::vector<int>{t, b, l, r}), (std::vector<int>{4, 0, 0, 0}));
  free_dxt_frame_data(&empty);

  Dxt_Frame full = alpha_grid(4, 4, 0, 3, 0, 3);
  detect_dxt_crop_alpha(&full, &t, &b, &l, &r);
  EXPECT_EQ((std::vector<int>{t, b, l, r}), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(error_text([&] {
              Dxt_Frame f = full;
              f.codec = Dxt_Codec_DXT1;
              detect_dxt_crop_alpha(&f, &t, &b, &l, &r);
            }),
            "Crop detect alpha DXT non supporte pour detection sur crop (DXT5(alpha) ou RGTC1 supporte)");
  // Auto mode leaves RGTC1 alone.
  t = b = l = r = 7;
  detect_dxt_crop_auto(&full, &t, &b, &l, &r);
  EXPECT_EQ(t, 7);
  free_dxt_frame_data(&full);
}

TEST(DxtFrame, NeedAlphaAndCanonicalForm) {
  Dxt_Frame f;
  alloc_dxt_frame_data(&f, 8, 4, Dxt_Codec_DXT5);
  std::memset(f.data, 0, 32);
  f.data[0] = f.data[16] = 0xFF;
  f.data[1] = 0x12;
  EXPECT_FALSE(detect_dxt_need_alpha(&f));
  f.data[16] = 10;
  f.data[17] = 20;
  std::memset(f.data + 18, 0xFF, 6);
  f.data[20] = 0x7F;
  EXPECT_TRUE(detect_dxt_need_alpha(&f));

  // DXT1 block with every index 1 becomes colour 1 as colour 0 and zeros.
  Dxt_Frame d;
  alloc_dxt_frame_data(&d, 4, 4, Dxt_Codec_DXT1);
  const uint8_t block[8] = {0x34, 0x12, 0x78, 0x56, 0x55, 0x55, 0x55, 0x55};
  std::memcpy(d.data, block, 8);
  canonicalize_uniform_dxt_blocks(&d);
  EXPECT_EQ(Bytes(d.data, d.data + 8), (Bytes{0x78, 0x56, 0, 0, 0, 0, 0, 0}));
  free_dxt_frame_data(&d);
  free_dxt_frame_data(&f);
}

// ------------------------------------------------------------------ Hap_Frame

TEST(HapFrame, CapacityIsTheWorstCase) {
  Hap_Frame f;
  init_hap_frame(&f, 64, 64, Hap_Internal_YCoCg_DXT5_RGTC1, 4);
  EXPECT_EQ(f.texture_count, 2u);
  EXPECT_EQ(f.capacity, 8 + (20 + (snappy_max_compressed_length(1024) + 5) * 4) +
                            (20 + (snappy_max_compressed_length(512) + 5) * 4));
  EXPECT_EQ(max_hap_frame_size(64, 64, Hap_Internal_YCoCg_DXT5_RGTC1, 4), f.capacity);
  Dxt_Frame colour;
  alloc_dxt_frame_data(&colour, 64, 64, Dxt_Codec_DXT5);
  EXPECT_EQ(error_text([&] { encode_hap_frame(&f, &colour, nullptr, 4, 1); }),
            "HAPQA : Dxt Buffer 2 == NULL");
  free_dxt_frame_data(&colour);
  free_hap_frame(&f);
  EXPECT_EQ(f.buffer, nullptr);
  free_hap_frame(&f);
  EXPECT_EQ(error_text([&] { init_hap_frame(&f, 4, 4, 6, 1); }), "Unknown codec");
}

TEST(HapFrame, PackParseAndDecodeEveryCodec) {
  const uint32_t width = 100, height = 52;  // partial blocks at both edges
  for (uint32_t codec = 0; codec <= 5; ++codec) {
    for (uint32_t chunking : {0u, 1u}) {
      for (uint32_t chunks : {1u, 7u, 64u}) {
        SCOPED_TRACE(testing::Message() << "codec " << codec << " chunking " << chunking
                                        << " chunks " << chunks);
        uint32_t first = 0, second = 0;
        hap_codec_to_dxt_codecs(codec, &first, &second);
        Dxt_Frame t1, t2;
        alloc_dxt_frame_data(&t1, width, height, Dxt_Codec(first));
        const Bytes b1 = texture_bytes(t1.length, codec);
        std::memcpy(t1.data, b1.data(), b1.size());
        Bytes b2;
        if (codec == Hap_Internal_YCoCg_DXT5_RGTC1) {
          alloc_dxt_frame_data(&t2, width, height, Dxt_Codec(second));
          b2 = texture_bytes(t2.length, 50 + codec);
          std::memcpy(t2.data, b2.data(), b2.size());
        }
        Hap_Frame f;
        init_hap_frame(&f, width, height, codec, chunks);
        encode_hap_frame(&f, &t1, b2.empty() ? nullptr : &t2, chunks, chunking);
        ASSERT_GT(f.bytes_used, 0u);

        Padded_Buffer stored;
        alloc_padded_buffer(&stored, f.bytes_used);
        std::memcpy(stored.data, f.buffer, f.bytes_used);
        stored.length = f.bytes_used;
        Hap_Frame read;
        set_hap_frame_from_buffer(&read, width, height, &stored);
        EXPECT_EQ(read.codec, codec == Hap_Internal_YCoCg_DXT5 ? codec : codec);
        EXPECT_EQ(read.texture_count, b2.empty() ? 1u : 2u);
        Dxt_Frame out;
        alloc_dxt_frame_data(&out, width, height, Dxt_Codec(first));
        decode_hap_texture(&read, &out, 0);
        EXPECT_EQ(Bytes(out.data, out.data + out.length), b1);
        std::memset(out.data, 0, out.length);
        decode_hap_texture_parallel(&read, &out, 0);
        EXPECT_EQ(Bytes(out.data, out.data + out.length), b1);
        free_dxt_frame_data(&out);
        if (!b2.empty()) {
          alloc_dxt_frame_data(&out, width, height, Dxt_Codec(second));
          decode_hap_texture_parallel(&read, &out, 1);
          EXPECT_EQ(Bytes(out.data, out.data + out.length), b2);
          free_dxt_frame_data(&out);
          free_dxt_frame_data(&t2);
        }
        free_padded_buffer(&stored);
        free_hap_frame(&f);
        free_dxt_frame_data(&t1);
      }
    }
  }
}

TEST(HapFrame, ReadingRefusals) {
  Stored_Texture stored_texture(32, Dxt_Codec_DXT5, Hap_Internal_DXT5, 4, 1);
  Dxt_Frame& t = stored_texture.texture;
  const Hap_Frame& f = stored_texture.frame;
  Hap_Frame read = f;
  read.owns_buffer = false;
  read.capacity = f.bytes_used;
  parse_hap_frame(&read);
  EXPECT_EQ(read.codec, Hap_Internal_DXT5);
  EXPECT_EQ(read.chunk_count_1, 4u);

  testing::internal::CaptureStdout();
  EXPECT_EQ(error_text([&] { decode_hap_texture(&read, &t, 1); }), "Invalid texture count");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Texture count : 1. NumTexture : 1\n");
  Dxt_Frame longer = t;
  longer.length += 16;
  Bytes room(longer.length);
  longer.data = room.data();
  EXPECT_EQ(error_text([&] { decode_hap_texture(&read, &longer, 0); }), "Nb bytes decode != nb bytes dxt");
  EXPECT_EQ(error_text([&] { decode_hap_texture_parallel(&read, &longer, 0); }),
            "Nb byte decode != nb bytes dxt");
  Dxt_Frame shorter = t;
  shorter.length -= 16;
  EXPECT_EQ(error_text([&] { decode_hap_texture(&read, &shorter, 0); }), "HapResult_Buffer_Too_Small");

  // A stored frame whose size table overruns its data is refused while parsing.
  Hap_Frame broken = read;
  Bytes damaged(f.buffer, f.buffer + f.bytes_used);
  damaged[4 + 12 + 4 + 3] = 0x7F;  // high byte of the first stored chunk length
  broken.buffer = damaged.data();
  EXPECT_EQ(error_text([&] { decode_hap_texture(&broken, &t, 0); }), "HapResult_Bad_Frame");

  // Two textures with RGTC1 first.
  const Bytes a = texture_bytes(128, 2), c = texture_bytes(256, 3);
  const uint8_t* textures[2] = {a.data(), c.data()};
  const uint32_t lengths[2] = {128, 256}, formats[2] = {Hap_Texture_Format_A_RGTC1, Hap_Texture_Format_YCoCg_DXT5};
  const uint32_t compressors[2] = {0, 0}, chunk_counts[2] = {1, 1};
  Bytes two(1024);
  uint32_t used = 0;
  ASSERT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunk_counts, two.data(), 1024, &used),
            HapResult_No_Error);
  Padded_Buffer stored;
  stored.data = two.data();
  stored.length = used;
  Hap_Frame parsed;
  EXPECT_EQ(error_text([&] { set_hap_frame_from_buffer(&parsed, 8, 8, &stored); }),
            "First tex (of two) not YcoCg DXT5");

  EXPECT_STREQ(hap_result_text(3), "HapResult_Bad_Frame");
  EXPECT_STREQ(hap_result_text(9), "HapResult : Error unknown");
  EXPECT_STREQ(hap_codec_name(4), "HAPAlpha Only");
  EXPECT_EQ(error_text([] { uint32_t x; hap_codec_to_dxt_codecs(3, &x, nullptr); }), "Hapqa : sec text == NULL");
}

TEST(HapFrame, ReadFromFile) {
  Stored_Texture stored_texture(16, Dxt_Codec_RGTC1, Hap_Internal_RGTC1, 2, 4);
  Dxt_Frame& t = stored_texture.texture;
  const Hap_Frame& f = stored_texture.frame;
  const Bytes& bytes = stored_texture.bytes;

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const Bytes lead(100, 0x55);
  std::fwrite(lead.data(), 1, lead.size(), file);
  std::fwrite(f.buffer, 1, f.bytes_used, file);
  Hap_Frame read;
  read_hap_frame_from_file(&read, 16, 16, file, 100, f.bytes_used);
  EXPECT_EQ(read.codec, Hap_Internal_RGTC1);
  EXPECT_EQ(read.bytes_used, f.bytes_used);
  std::memset(t.data, 0, t.length);
  decode_hap_texture(&read, &t, 0);
  EXPECT_EQ(Bytes(t.data, t.data + t.length), bytes);
  free_hap_frame(&read);

  testing::internal::CaptureStdout();
  EXPECT_EQ(error_text([&] { read_hap_frame_from_file(&read, 16, 16, file, 100, f.bytes_used + 5); }),
            "File read error");
  testing::internal::GetCapturedStdout();
  std::fclose(file);
}
