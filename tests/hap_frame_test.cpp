// Frame records: the padded buffer pool, Dxt_Frame sizes and block operations,
// and Hap_Frame packing, parsing and decoding.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "HAP/DXT_Frame.h"
#include "HAP/buffers_list.h"
#include "HAP/hap_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Ints = std::vector<int>;

// Texture-like bytes that snappy can shrink: random runs between runs of one value.
Bytes texture_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = (i / 32) % 2 ? uint8_t(i / 256) : uint8_t(rng());
  return b;
}

// A Dxt_Frame with blocks of its own.
struct Dxt : Dxt_Frame {
  Dxt(uint32_t w, uint32_t h, Dxt_Codec c, const Bytes& fill = {}) {
    alloc_dxt_frame_data(this, w, h, c);
    if (!fill.empty()) std::memcpy(data, fill.data(), length);
  }
  ~Dxt() { free_dxt_frame_data(this); }
  Dxt(const Dxt&) = delete;
  Bytes bytes() const { return Bytes(data, data + length); }
};

// A square texture of texture_bytes and the HAP frame that stores it, chunked.
struct Stored_Texture {
  Bytes bytes;
  Dxt texture;
  Hap_Frame frame;
  Stored_Texture(uint32_t size, Dxt_Codec codec, uint32_t hap_codec, uint32_t chunks, uint32_t seed)
      : bytes(texture_bytes(dxt_frame_size(size, size, codec), seed)), texture(size, size, codec, bytes) {
    init_hap_frame(&frame, size, size, hap_codec, chunks);
    encode_hap_frame(&frame, &texture, nullptr, chunks, 1);
  }
  ~Stored_Texture() { free_hap_frame(&frame); }
};

}  // namespace

// ---------------------------------------------------------------- buffer pool

TEST(PaddedBuffer, GrowsKeepsAndZeroesPadding) {
  Padded_Buffer b;
  b.padding = 16;
  alloc_padded_buffer(&b, 100);
  EXPECT_EQ(b.capacity, 116u);
  EXPECT_EQ(Bytes(b.data + 100, b.data + 116), Bytes(16, 0));
  std::memset(b.data, 0xAA, 116);
  uint8_t* kept = b.data;
  alloc_padded_buffer(&b, 90);  // smaller: same block, its new padding zeroed
  EXPECT_EQ(b.data, kept);
  EXPECT_EQ(b.capacity, 116u);
  EXPECT_EQ(Bytes(b.data + 90, b.data + 107), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}));
  free_padded_buffer(&b);
  EXPECT_EQ(b.data, nullptr);
  b.padding = 0;
  alloc_padded_buffer(&b, 0);  // a block of capacity 0, released all the same
  EXPECT_NE(b.data, nullptr);
  free_padded_buffer(&b);
  EXPECT_EQ(b.data, nullptr);

  EXPECT_EQ(error_text([] { alloc_padded_buffer(nullptr, 1); }), "buf obj est null");
  Padded_Buffer c;
  const std::string no_room = "Alloc buffer : Taille demandee ne laisse pas la place au padding : New size : ";
  EXPECT_EQ(error_text([&] { alloc_padded_buffer(&c, 0xFFFFFFFFu); }), no_room + "4294967295 ; padding : 0");
  c.padding = 16;
  EXPECT_EQ(error_text([&] { alloc_padded_buffer(&c, 0xFFFFFFFFu - 16); }),
            no_room + "4294967279 ; padding : 16");
  EXPECT_EQ(c.data, nullptr);
}

TEST(BuffersList, CountsAndReuse) {
  Buffers_List list;
  EXPECT_EQ(error_text([] { init_buffers_list(nullptr, 1, 0); }), "Buffers_List obj est null");
  // A count beyond the list's 16-bit count is refused, not truncated to 0.
  EXPECT_EQ(error_text([&] { init_buffers_list(&list, 65536, 0); }), "Buffers_List : nombre de buffers > 65535");
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.entries, nullptr);

  init_buffers_list_allocated(&list, 10, 3, 4);
  ASSERT_EQ(list.count, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ((Ints{int(list.entries[i].capacity), list.entries[i].padding}), (Ints{14, 4}));
  Padded_Buffer* before = list.entries;
  EXPECT_EQ(error_text([&] { init_buffers_list(&list, 2, 0); }), "Buffers_List obj a deja des buffers alloues");
  EXPECT_EQ(list.entries, before);
  free_buffers_list(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.entries, nullptr);
}

// ------------------------------------------------------------------ Dxt_Frame

TEST(DxtFrame, SizesAndSetUp) {
  EXPECT_EQ(dxt_frame_size(6, 6, Dxt_Codec_DXT5), 64u);
  EXPECT_EQ(dxt_round_up_to_block(5), 8u);
  EXPECT_EQ(dxt_frame_size(65535, 65535, Dxt_Codec_BC7), 16384ull * 16384 * 16);
  EXPECT_EQ(error_text([] { dxt_block_bytes(Dxt_Codec(4)); }), "Unknown dxt codec");

  Padded_Buffer buffer;
  Dxt_Frame frame;
  alloc_dxt_frame(&frame, &buffer, 10, 6, Dxt_Codec_RGTC1);
  EXPECT_EQ((Ints{int(frame.length), int(buffer.length)}), (Ints{3 * 2 * 8, 48}));
  EXPECT_EQ(frame.data, buffer.data);
  EXPECT_EQ(error_text([&] { set_dxt_frame_from_buffer(&frame, &buffer, 16, 16, Dxt_Codec_DXT5); }),
            "set_dxt_frame_from_buffer, le buffer n'est pas assez grand pour la frame dxt");
  EXPECT_EQ(error_text([&] { alloc_dxt_frame(&frame, &buffer, 65535, 65535, Dxt_Codec_BC7); }),
            "Taille dxt frame > UINT32_MAX");
  EXPECT_EQ(error_text([&] { alloc_dxt_frame(&frame, &buffer, 0, 4, Dxt_Codec_DXT1); }), "width > 0");
  free_padded_buffer(&buffer);
}

// The conversions and crops themselves, and a box beyond the source, are
// checked through process_hap_frame (hap_utilities_test); here, what else
// they refuse.
TEST(DxtFrame, ConversionAndCropRefusals) {
  Dxt dxt1(8, 8, Dxt_Codec_DXT1, texture_bytes(32, 1)), dxt5(8, 8, Dxt_Codec_DXT5), back(8, 8, Dxt_Codec_DXT1);
  std::string message;
  EXPECT_EQ(printed_by([&] { message = error_text([&] { convert_dxt_frame(&dxt1, &back); }); }),
            "ERR : Codec DXT source et cible non coherent\n");
  EXPECT_EQ(message, "conversion dxt invalide (src / cible codec non supporte");
  Dxt_Frame wide = dxt5;
  wide.width = 12;
  EXPECT_EQ(error_text([&] { convert_dxt_frame(&dxt1, &wide); }),
            "conversion dxt : largeur non identique entre source et cible");
  Dxt_Frame small = dxt5;
  small.length = 40;
  EXPECT_NE(error_text([&] { convert_dxt_frame(&dxt1, &small); }), "(no exception)");

  Dxt source(16, 12, Dxt_Codec_DXT1);  // 4 x 3 blocks into 2 x 2
  const std::string crop = "crop dxt : ";
  EXPECT_EQ(error_text([&] { crop_dxt_frame(&source, &back, 0, 0, 3, 2); }),
            crop + "l'image cible n'a pas le bon nombre de bloc DXT en largeur");
  EXPECT_EQ(error_text([&] { crop_dxt_frame(&source, &back, 0, 0, 2, 1); }),
            crop + "l'image cible n'a pas le bon nombre de bloc DXT en hauteur");
}

// process_hap_frame crops into whole blocks only. A 10 x 10 target has 3 x 3
// blocks, the last column and row partial.
TEST(DxtFrame, CropIntoPartialBlocks) {
  const std::string crop = "crop dxt : ";
  Bytes blocks(4 * 3 * 8);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = uint8_t(i);
  const Dxt numbered(16, 12, Dxt_Codec_DXT1, blocks);
  Dxt partial(10, 10, Dxt_Codec_DXT1);
  EXPECT_EQ(error_text([&] { crop_dxt_frame(&numbered, &partial, 1, 0, 2, 3); }),
            crop + "l'image cible n'a pas le bon nombre de bloc DXT en largeur");
  crop_dxt_frame(&numbered, &partial, 1, 0, 3, 3);
  Bytes box;
  for (int row = 0; row < 3; ++row) box.insert(box.end(), &blocks[(4 * row + 1) * 8], &blocks[(4 * row + 4) * 8]);
  EXPECT_EQ(partial.bytes(), box);
}

TEST(DxtFrame, NeedAlphaNearOpaque) {
  // An alpha block whose sixteen pixels all take one index.
  auto alpha_block = [](uint8_t a0, uint8_t a1, uint64_t index) {
    Bytes block{a0, a1};
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) bits |= index << (3 * i);
    for (int i = 0; i < 6; ++i) block.push_back(uint8_t(bits >> (8 * i)));
    return block;
  };
  auto need_alpha = [](const Bytes& alpha, Dxt_Codec codec) {
    Bytes block = alpha;
    if (codec == Dxt_Codec_DXT5) block.resize(16, 0);
    const Dxt frame(4, 4, codec, block);
    return detect_dxt_need_alpha(&frame);
  };
  // 254 everywhere from each branch of the rule: equal endpoints, the second
  // at 255, the first at 255 with a seven-step palette, the first above the
  // second, and the second endpoint of a six-step palette.
  const Bytes at_254[] = {alpha_block(254, 254, 0), alpha_block(250, 255, 5), alpha_block(255, 248, 2),
                          alpha_block(254, 0, 0), alpha_block(0, 254, 1)};
  // 255 everywhere: the first endpoint, the second, and entry 7 of a six-step palette.
  const Bytes at_255[] = {alpha_block(255, 3, 0), alpha_block(200, 255, 1), alpha_block(10, 20, 7)};
  for (Dxt_Codec codec : {Dxt_Codec_DXT5, Dxt_Codec_RGTC1}) {
    for (const Bytes& block : at_254) {
      uint8_t value = 0;
      ASSERT_TRUE(dxt_alpha_block_uniform(block.data(), &value) && value == 254);
      EXPECT_TRUE(need_alpha(block, codec)) << int(block[0]) << " " << int(block[1]) << " codec " << codec;
    }
    for (const Bytes& block : at_255) EXPECT_FALSE(need_alpha(block, codec)) << int(block[0]) << " " << int(block[1]);
  }
}

TEST(DxtFrame, AlphaBlocksAndReferenceDecoders) {
  uint8_t block[8] = {10, 20, 0, 0, 0, 0, 0, 0};
  uint64_t bits = 0;
  for (int i = 0; i < 16; ++i) bits |= uint64_t(6) << (3 * i);  // every index: the entry 0
  for (int i = 0; i < 6; ++i) block[2 + i] = uint8_t(bits >> (8 * i));
  uint8_t value = 9;
  EXPECT_TRUE(dxt_alpha_block_uniform(block, &value) && value == 0);
  std::memset(block + 2, 0xFF, 6);
  EXPECT_TRUE(dxt_alpha_block_uniform(block, &value) && value == 255);
  block[2] = 0;
  EXPECT_FALSE(dxt_alpha_block_uniform(block, &value));

  // Against the independent decoders, on random blocks with endpoints in
  // either order, equal ones included (within one step of rounding in the
  // interpolated entries): DXT5 colour halves always have four colours, DXT1
  // blocks three and black when colour 0 is not above colour 1.
  std::mt19937 rng(3);
  Dxt frame(4, 4, Dxt_Codec_DXT5), dxt1(4, 4, Dxt_Codec_DXT1);
  uint8_t* d = frame.data;
  for (int trial = 0; trial < 600; ++trial) {
    for (int i = 0; i < 16; ++i) d[i] = uint8_t(rng());
    if (trial % 4 == 0) std::memcpy(d + 10, d + 8, 2);
    uint8_t ours[64], ref[64], rgb[48];
    decode_dxt5_block(&frame, 0, ours);  // A, R, G, B
    decode_dxt5_block(d, ref);           // B, G, R, A
    for (int p = 0; p < 64; ++p) ASSERT_NEAR(ours[p], ref[(p & ~3) + 3 - p % 4], 1) << trial << " " << p;
    std::memcpy(dxt1.data, d + 8, 8);
    decode_dxt1_block(&dxt1, 0, rgb);
    decode_dxt1_block(d + 8, ref);
    for (int p = 0; p < 48; ++p) ASSERT_NEAR(rgb[p], ref[4 * (p / 3) + 2 - p % 3], 1) << trial << " " << p;
  }
  // YCoCg: Y 100 in the alpha half; Co 4, Cg 2 at scale 1 in the colour half.
  const uint16_t colour = 16 << 11 | 32 << 5;
  const uint8_t ycocg_block[16] = {100, 100, 0, 0, 0, 0, 0, 0, uint8_t(colour), uint8_t(colour >> 8),
                                   uint8_t(colour), uint8_t(colour >> 8), 0, 0, 0, 0};
  std::memcpy(d, ycocg_block, 16);
  uint8_t rgb[48], out[64];
  decode_ycocg_block(&frame, 0, rgb);
  EXPECT_EQ(Bytes(rgb, rgb + 3), (Bytes{102, 102, 94}));
  EXPECT_NE(error_text([&] { decode_dxt5_block(&frame, 16, out); }), "(no exception)");
}

TEST(DxtFrame, EmptyFrameIsAllTopBorder) {
  // The boxed case and the refusal of colour-only codecs are checked through
  // detect_hap_frame_crop (hap_utilities_test).
  uint16_t t = 9, b = 9, l = 9, r = 9;
  Dxt empty(16, 16, Dxt_Codec_RGTC1, Bytes(128, 0));
  detect_dxt_crop_alpha(&empty, &t, &b, &l, &r);
  EXPECT_EQ((Ints{t, b, l, r}), (Ints{4, 0, 0, 0}));
}

// A DXT1 block is black when colour 0 and all sixteen indices are zero,
// whatever colour 1 holds. On a 6 x 5 block grid ('.' black, 'X' colour 0 of
// 0x0100 and zero indices, 'a' and 'b' colour 0 of zero with the index of the
// last pixel or of the first one at 1) the border is 1 row on top and below,
// no column on the left (row 2 starts with 'a') and 2 on the right (row 3
// ends in 'b' and two black blocks).
TEST(DxtFrame, BlackBordersAndTheAutomaticMode) {
  const char* const grid[5] = {"......", ".XX...", "a.X...", "..Xb..", "......"};
  Bytes dxt1, dxt5;
  for (const char* row : grid)
    for (const char* b = row; *b; ++b) {
      // Colour 1 is set in every block, black ones included.
      Bytes block = {0, 0, 0xFF, 0xFF, 0, 0, 0, 0};
      if (*b == 'X') block[1] = 0x01;
      if (*b == 'a') block[7] = 0x40;
      if (*b == 'b') block[4] = 0x01;
      dxt1.insert(dxt1.end(), block.begin(), block.end());
      // The same pattern in alpha, over colour halves that are all black.
      const uint8_t a0 = *b == '.' ? 0 : 255;
      dxt5.insert(dxt5.end(), {a0, 0, 0, 0, 0, 0, 0, 0});
      dxt5.insert(dxt5.end(), 8, 0);
    }
  const Dxt black_borders(24, 20, Dxt_Codec_DXT1, dxt1), transparent_borders(24, 20, Dxt_Codec_DXT5, dxt5);
  const Ints expected = {1, 1, 0, 2};
  auto borders = [](const Dxt_Frame& frame, auto detect) {
    uint16_t t = 9, b = 9, l = 9, r = 9;
    detect(&frame, &t, &b, &l, &r);
    return Ints{t, b, l, r};
  };
  EXPECT_EQ(borders(black_borders, [](auto... a) { detect_dxt_crop(a..., 0); }), expected);
  EXPECT_EQ(borders(black_borders, detect_dxt_crop_auto), expected);
  EXPECT_EQ(borders(transparent_borders, detect_dxt_crop_auto), expected);
  EXPECT_EQ(error_text([&] { borders(transparent_borders, [](auto... a) { detect_dxt_crop(a..., 0); }); }),
            "Crop detect black DXT non supporte pour detection sur crop (DXT1 supporte)");
  // Other codecs: the outputs keep what the caller put there.
  const Dxt empty_rgtc1(24, 20, Dxt_Codec_RGTC1, Bytes(6 * 5 * 8, 0)), bc7(24, 20, Dxt_Codec_BC7, Bytes(6 * 5 * 16, 0));
  EXPECT_EQ(borders(empty_rgtc1, detect_dxt_crop_auto), (Ints{9, 9, 9, 9}));
  EXPECT_EQ(borders(bc7, detect_dxt_crop_auto), (Ints{9, 9, 9, 9}));
}

TEST(DxtFrame, CanonicalForm) {
  // DXT1 block with every index 1 becomes colour 1 as colour 0 and zeros.
  Dxt d(4, 4, Dxt_Codec_DXT1, {0x34, 0x12, 0x78, 0x56, 0x55, 0x55, 0x55, 0x55});
  canonicalize_uniform_dxt_blocks(&d);
  EXPECT_EQ(d.bytes(), (Bytes{0x78, 0x56, 0, 0, 0, 0, 0, 0}));
  // Every index 3 with colour 0 below colour 1: transparent black in DXT1,
  // a colour in a DXT5 colour half, which stays as it is.
  const Bytes three = {0x1F, 0x00, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF};
  Dxt d1(4, 4, Dxt_Codec_DXT1, three);
  canonicalize_uniform_dxt_blocks(&d1);
  EXPECT_EQ(d1.bytes(), Bytes(8, 0));
  Bytes half(8, 0);
  half[0] = 0xFF;
  half.insert(half.end(), three.begin(), three.end());
  Dxt d5(4, 4, Dxt_Codec_DXT5, half);
  canonicalize_uniform_dxt_blocks(&d5);
  EXPECT_EQ(d5.bytes(), half);
}

TEST(DxtFrame, DebuggingDumps) {
  Dxt_Frame record;
  record.width = 10, record.height = 6, record.length = 5000000000ull;
  const char* const labels[] = {"DXT1", "DXT5", "RGTC1", "BC7", "Codec invalide"};
  for (uint32_t codec = 0; codec < 5; ++codec) {
    record.codec = Dxt_Codec(codec);
    EXPECT_EQ(printed_by([&] { print_dxt_frame(&record); }),
              std::string("Dxt Frame. Resolution : 10 x 6 ; Codec : ") + labels[codec] +
                  " ; Data length : 5000000000\n");
  }

  // Colour 0x1234 and 0x5678, indices 0x800000E4; alpha 200 and 3 with six index bytes.
  const Bytes colour = {0x34, 0x12, 0x78, 0x56, 0xE4, 0x00, 0x00, 0x80}, alpha = {200, 3, 1, 2, 4, 8, 16, 0x81};
  const std::string colour_line =
      "Color 0 : 4660 Color 1 :22136 Index : 2147483876\nIndexs Bits : 10000000000000000000000011100100\n";
  const std::string alpha_lines =
      "Alpha 0 : 200 Alpha 1 :3\nIndexs uint8 : 1 2 4 8 16 129 \n"
      "Indexs Bits : 00000001 00000010 00000100 00001000 00010000 10000001 \n";
  Bytes both = alpha;
  both.insert(both.end(), colour.begin(), colour.end());
  both.resize(32);  // a second block, which is not printed
  Dxt dxt1(4, 4, Dxt_Codec_DXT1, colour), dxt5(8, 4, Dxt_Codec_DXT5, both), rgtc1(4, 4, Dxt_Codec_RGTC1, alpha);
  const auto first_block = [](const Dxt_Frame& f) { return printed_by([&] { print_first_dxt_block(&f); }); };
  EXPECT_EQ(first_block(dxt1), "DXT1 :" + colour_line);
  EXPECT_EQ(first_block(dxt5), "DXT5 : Partie 1 (Alpha) : \n" + alpha_lines + "DXT5 : Partie 2 (RGB) : " + colour_line);
  EXPECT_EQ(first_block(rgtc1), "RGTC1 : " + alpha_lines);
  Dxt_Frame other = dxt1;
  other.codec = Dxt_Codec_BC7;
  EXPECT_EQ(first_block(other), "BC7 : NOT IMP");
  other.codec = Dxt_Codec(4);
  EXPECT_EQ(first_block(other), "Codec Inconnu pour le print du premier bloc\n");
  EXPECT_EQ(printed_by([] { print_index_bits(0x80000001u); }), "1" + std::string(30, '0') + "1");

  // A cleared record, or one shorter than a block, is refused before anything is printed.
  Dxt_Frame cleared = dxt5;
  clear_dxt_frame(&cleared);
  EXPECT_EQ(cleared.data, nullptr);
  EXPECT_EQ(printed_by([&] { print_dxt_frame(&cleared); }),
            "Dxt Frame. Resolution : 0 x 0 ; Codec : DXT1 ; Data length : 0\n");
  Dxt_Frame short_frame = dxt5;
  short_frame.length = 8;
  std::string empty_refusal, short_refusal;
  EXPECT_EQ(printed_by([&] {
              empty_refusal = error_text([&] { print_first_dxt_block(&cleared); });
              short_refusal = error_text([&] { print_first_dxt_block(&short_frame); });
            }),
            "");
  EXPECT_EQ(empty_refusal, "frame->length > 0");
  EXPECT_EQ(short_refusal, "print premier bloc : la frame dxt ne contient pas un bloc entier");
}

// ------------------------------------------------------------------ Hap_Frame

TEST(HapFrame, CapacityIsTheWorstCase) {
  Hap_Frame f;
  init_hap_frame(&f, 64, 64, Hap_Internal_YCoCg_DXT5_RGTC1, 4);
  EXPECT_EQ(f.texture_count, 2u);
  EXPECT_EQ(max_hap_frame_size(64, 64, Hap_Internal_YCoCg_DXT5_RGTC1, 4), f.capacity);
  {
    // Noise does not shrink: the frame must still fit.
    Bytes noise(4096);
    std::mt19937 rng(9);
    for (auto& x : noise) x = uint8_t(rng());
    Dxt colour(64, 64, Dxt_Codec_DXT5, noise), alpha(64, 64, Dxt_Codec_RGTC1, noise);
    EXPECT_EQ(error_text([&] { encode_hap_frame(&f, &colour, nullptr, 4, 1); }), "HAPQA : Dxt Buffer 2 == NULL");
    encode_hap_frame(&f, &colour, &alpha, 4, 1);
    EXPECT_GT(f.bytes_used, 4096u + 2048);
    EXPECT_LE(f.bytes_used, f.capacity);
  }
  free_hap_frame(&f);
  EXPECT_EQ(f.buffer, nullptr);
  EXPECT_EQ(error_text([&] { init_hap_frame(&f, 4, 4, 6, 1); }), "Unknown codec");
}

TEST(HapFrame, PackParseAndDecodeEveryCodec) {
  const uint32_t width = 100, height = 52;  // partial blocks at both edges
  for (uint32_t codec = 0; codec <= 5; ++codec)
    for (uint32_t chunking : {0u, 1u})
      for (uint32_t chunks : {1u, 7u, 64u}) {
        SCOPED_TRACE(testing::Message() << "codec " << codec << " chunking " << chunking << " chunks " << chunks);
        uint32_t first = 0, second = 0;
        hap_codec_to_dxt_codecs(codec, &first, &second);
        const bool two = codec == Hap_Internal_YCoCg_DXT5_RGTC1;
        const Bytes b1 = texture_bytes(dxt_frame_size(width, height, Dxt_Codec(first)), codec);
        const Bytes b2 = two ? texture_bytes(dxt_frame_size(width, height, Dxt_Codec(second)), 50 + codec) : Bytes();
        Dxt t1(width, height, Dxt_Codec(first), b1);
        std::unique_ptr<Dxt> t2(two ? new Dxt(width, height, Dxt_Codec(second), b2) : nullptr);
        Hap_Frame f;
        init_hap_frame(&f, width, height, codec, chunks);
        encode_hap_frame(&f, &t1, t2.get(), chunks, chunking);
        Bytes copy(f.buffer, f.buffer + f.bytes_used);
        Padded_Buffer stored;
        stored.data = copy.data(), stored.length = stored.capacity = f.bytes_used;
        free_hap_frame(&f);
        Hap_Frame read;
        set_hap_frame_from_buffer(&read, width, height, &stored);
        EXPECT_EQ((Ints{int(read.codec), int(read.texture_count)}), (Ints{int(codec), two ? 2 : 1}));
        Dxt out(width, height, Dxt_Codec(first));
        decode_hap_texture(&read, &out, 0);
        EXPECT_EQ(out.bytes(), b1);
        std::memset(out.data, 0, out.length);
        decode_hap_texture_parallel(&read, &out, 0);
        EXPECT_EQ(out.bytes(), b1);
        if (two) {
          Dxt out2(width, height, Dxt_Codec(second));
          decode_hap_texture_parallel(&read, &out2, 1);
          EXPECT_EQ(out2.bytes(), b2);
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
  EXPECT_EQ((Ints{int(read.codec), int(read.chunk_count_1)}), (Ints{Hap_Internal_DXT5, 4}));

  std::string message;
  EXPECT_EQ(printed_by([&] { message = error_text([&] { decode_hap_texture(&read, &t, 1); }); }),
            "Texture count : 1. NumTexture : 1\n");
  EXPECT_EQ(message, "Invalid texture count");
  Dxt_Frame longer = t;
  longer.length += 16;
  Bytes room(longer.length);
  longer.data = room.data();
  EXPECT_EQ(error_text([&] { decode_hap_texture(&read, &longer, 0); }), "Nb bytes decode != nb bytes dxt");
  EXPECT_EQ(error_text([&] { decode_hap_texture_parallel(&read, &longer, 0); }), "Nb byte decode != nb bytes dxt");
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
  Padded_Buffer stored;
  stored.data = two.data(), stored.capacity = 1024;
  ASSERT_EQ(hap_encode(2, textures, lengths, formats, compressors, chunk_counts, two.data(), 1024, &stored.length),
            HapResult_No_Error);
  Hap_Frame parsed;
  EXPECT_EQ(error_text([&] { set_hap_frame_from_buffer(&parsed, 8, 8, &stored); }),
            "First tex (of two) not YcoCg DXT5");

  EXPECT_EQ(error_text([] { uint32_t x; hap_codec_to_dxt_codecs(3, &x, nullptr); }), "Hapqa : sec text == NULL");
}

TEST(HapFrame, ReadFromFile) {
  Stored_Texture stored_texture(16, Dxt_Codec_RGTC1, Hap_Internal_RGTC1, 2, 4);
  Dxt& t = stored_texture.texture;
  const Hap_Frame& f = stored_texture.frame;
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const Bytes lead(100, 0x55);
  std::fwrite(lead.data(), 1, lead.size(), file);
  std::fwrite(f.buffer, 1, f.bytes_used, file);
  Hap_Frame read;
  read_hap_frame_from_file(&read, 16, 16, file, 100, f.bytes_used);
  EXPECT_EQ(read.bytes_used, f.bytes_used);
  std::memset(t.data, 0, t.length);
  decode_hap_texture(&read, &t, 0);
  EXPECT_EQ(t.bytes(), stored_texture.bytes);
  free_hap_frame(&read);
  printed_by([&] {
    EXPECT_EQ(error_text([&] { read_hap_frame_from_file(&read, 16, 16, file, 100, f.bytes_used + 5); }),
              "File read error");
  });
  std::fclose(file);
}

TEST(HapFrame, PackFromRawBuffers) {
  // HAPQA: both textures come back from the stored frame, with the chunk counts asked.
  const uint32_t width = 64, height = 32;
  const Bytes colour = texture_bytes(dxt_frame_size(width, height, Dxt_Codec_DXT5), 5);
  const Bytes alpha = texture_bytes(dxt_frame_size(width, height, Dxt_Codec_RGTC1), 6);
  Hap_Frame f;
  init_hap_frame(&f, width, height, Hap_Internal_YCoCg_DXT5_RGTC1, 4);
  encode_hap_frame_from_buffers(&f, colour.data(), alpha.data(), uint32_t(colour.size()), uint32_t(alpha.size()), 4, 1);
  Bytes stored(f.buffer, f.buffer + f.bytes_used);
  Padded_Buffer record;
  record.data = stored.data(), record.length = record.capacity = uint32_t(stored.size());
  Hap_Frame read;
  set_hap_frame_from_buffer(&read, width, height, &record);
  EXPECT_EQ((Ints{int(read.codec), int(read.texture_count), int(read.chunk_count_1), int(read.chunk_count_2)}),
            (Ints{Hap_Internal_YCoCg_DXT5_RGTC1, 2, 4, 4}));
  Dxt colour_out(width, height, Dxt_Codec_DXT5), alpha_out(width, height, Dxt_Codec_RGTC1);
  decode_hap_texture(&read, &colour_out, 0);
  decode_hap_texture(&read, &alpha_out, 1);
  EXPECT_EQ(colour_out.bytes(), colour);
  EXPECT_EQ(alpha_out.bytes(), alpha);
  EXPECT_EQ(error_text([&] { encode_hap_frame_from_buffers(&f, colour.data(), nullptr, 2048, 0, 4, 1); }),
            "HAPQA : Dxt Buffer 2 == NULL");
  free_hap_frame(&f);

  // Without chunking a DXT1 texture is stored raw behind a 4-byte header.
  const Bytes blocks = texture_bytes(128, 7);
  init_hap_frame(&f, 16, 16, Hap_Internal_DXT1, 1);
  encode_hap_frame_from_buffers(&f, blocks.data(), nullptr, 128, 0, 1, 0);
  Bytes raw{128, 0, 0, 0xAB};
  raw.insert(raw.end(), blocks.begin(), blocks.end());
  EXPECT_EQ(Bytes(f.buffer, f.buffer + f.bytes_used), raw);
  // More bytes than the record was made for: refused, and nothing counts as packed.
  const Bytes larger = texture_bytes(4096, 8);
  std::string message;
  EXPECT_EQ(printed_by([&] {
              message = error_text([&] { encode_hap_frame_from_buffers(&f, larger.data(), nullptr, 4096, 0, 1, 1); });
            }),
            "ERROR : HapResult_Buffer_Too_Small\n");
  EXPECT_EQ(message, "HapResult_Buffer_Too_Small");
  EXPECT_EQ(f.bytes_used, 0u);
  free_hap_frame(&f);
}

TEST(HapFrame, SummaryLineCodecNamesAndClearing) {
  Hap_Frame record;
  uint8_t byte = 0;
  record.width = 1920, record.height = 1080, record.buffer = &byte, record.capacity = 5000000000ull;
  record.bytes_used = 4000000000u, record.chunk_count_1 = 3, record.chunk_count_2 = 5;
  const char* const summary_names[] = {"HAP", "HAPA", "HAPQ", "HAPQA", "HAPAlphaOnly", "HAPBC7", "Codec invalide"};
  const char* const names[] = {"HAP", "HAPA", "HAPQ", "HAPQA", "HAPAlpha Only", "HAPBC7", "Unknown"};
  for (uint32_t codec = 0; codec < 7; ++codec) {
    record.codec = codec, record.texture_count = codec == Hap_Internal_YCoCg_DXT5_RGTC1 ? 2 : 1;
    EXPECT_EQ(printed_by([&] { print_hap_frame(&record); }),
              std::string("Hap Frame. Resolution : 1920 x 1080 ; Codec : ") + summary_names[codec] +
                  " ; Chunk count : 3" + (record.texture_count == 2 ? " ; 5" : "") +
                  " ; Data size : 5000000000 ; Length used data : 4000000000\n");
    EXPECT_STREQ(hap_codec_name(codec), names[codec]);
  }
  record.owns_buffer = true;
  clear_hap_frame(&record);
  EXPECT_TRUE(record.buffer == nullptr && !record.owns_buffer);
  EXPECT_EQ(printed_by([&] { print_hap_frame(&record); }),
            "Hap Frame. Resolution : 0 x 0 ; Codec : HAP ; Chunk count : 0 ; Data size : 0 ; Length used data : 0\n");
}

TEST(HapFrame, ClearingZeroesEveryField) {
  uint8_t bytes[16] = {};
  Hap_Frame record;
  record.width = 64, record.height = 32, record.buffer = bytes, record.capacity = sizeof bytes;
  record.bytes_used = 12, record.texture_count = 2, record.chunk_count_1 = 3, record.chunk_count_2 = 4;
  record.codec = Hap_Internal_YCoCg_DXT5_RGTC1, record.owns_buffer = true;
  clear_hap_frame(&record);
  EXPECT_EQ(record.buffer, nullptr);
  EXPECT_EQ((std::vector<uint64_t>{record.width, record.height, record.capacity, record.bytes_used,
                                   record.texture_count, record.chunk_count_1, record.chunk_count_2, record.codec,
                                   record.owns_buffer}),
            std::vector<uint64_t>(9, 0));
}

// The second chunk count follows the record's texture count, whatever its
// codec says.
TEST(HapFrame, SummaryShowsASecondChunkCountForTwoTextures) {
  Hap_Frame record;
  record.width = 64, record.height = 32, record.capacity = 900, record.bytes_used = 800;
  record.chunk_count_1 = 3, record.chunk_count_2 = 5;
  record.codec = Hap_Internal_YCoCg_DXT5_RGTC1, record.texture_count = 1;
  EXPECT_EQ(printed_by([&] { print_hap_frame(&record); }),
            "Hap Frame. Resolution : 64 x 32 ; Codec : HAPQA ; Chunk count : 3 ; Data size : 900 ; "
            "Length used data : 800\n");
  record.codec = Hap_Internal_DXT1, record.texture_count = 2;
  EXPECT_EQ(printed_by([&] { print_hap_frame(&record); }),
            "Hap Frame. Resolution : 64 x 32 ; Codec : HAP ; Chunk count : 3 ; 5 ; Data size : 900 ; "
            "Length used data : 800\n");
}
