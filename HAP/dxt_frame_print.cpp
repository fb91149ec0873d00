// Debugging dumps of texture records and of their first block.
#include <cstdio>
#include <stdexcept>

#include "HAP/DXT_Frame.h"

void print_index_bits(uint32_t word) {
  for (int bit = 31; bit >= 0; --bit) std::printf("%u", (word >> bit) & 1u);
}

namespace {

const char* codec_label(uint32_t codec) {
  static const char* const labels[] = {"DXT1", "DXT5", "RGTC1", "BC7"};
  return codec < 4 ? labels[codec] : "Codec invalide";
}

void print_colour_line(const uint8_t* block) {
  const unsigned c0 = block[0] | block[1] << 8, c1 = block[2] | block[3] << 8;
  const uint32_t index = dxt_colour_index_word(block);
  std::printf("Color 0 : %u Color 1 :%u Index : %u\nIndexs Bits : ", c0, c1, index);
  print_index_bits(index);
  std::printf("\n");
}

void print_alpha_lines(const uint8_t* block) {
  std::printf("Alpha 0 : %u Alpha 1 :%u\nIndexs uint8 : ", block[0], block[1]);
  for (int i = 2; i < 8; ++i) std::printf("%u ", block[i]);
  std::printf("\nIndexs Bits : ");
  for (int i = 2; i < 8; ++i) {
    for (int bit = 7; bit >= 0; --bit) std::printf("%u", (block[i] >> bit) & 1u);
    std::printf(" ");
  }
  std::printf("\n");
}

// The block the dump reads, refusing a record that does not hold a whole one
// (a cleared record has no data at all).
const uint8_t* first_block(const Dxt_Frame* frame) {
  if (frame->length == 0) throw std::logic_error("frame->length > 0");
  if (!frame->data || frame->length < dxt_block_bytes(frame->codec))
    throw std::runtime_error("print premier bloc : la frame dxt ne contient pas un bloc entier");
  return frame->data;
}

}  // namespace

void print_dxt_frame(const Dxt_Frame* frame) {
  std::printf("Dxt Frame. Resolution : %u x %u ; Codec : %s ; Data length : %llu\n", frame->width,
              frame->height, codec_label(frame->codec),
              static_cast<unsigned long long>(frame->length));
}

void print_first_dxt_block(const Dxt_Frame* frame) {
  // Only the codecs whose block is printed need the record to hold one.
  const bool prints_block = frame->codec <= Dxt_Codec_RGTC1;
  const uint8_t* block = prints_block ? first_block(frame) : nullptr;
  switch (frame->codec) {
    case Dxt_Codec_DXT1:
      std::printf("DXT1 :");
      print_colour_line(block);
      break;
    case Dxt_Codec_DXT5:
      std::printf("DXT5 : Partie 1 (Alpha) : \n");
      print_alpha_lines(block);
      std::printf("DXT5 : Partie 2 (RGB) : ");
      print_colour_line(block + 8);
      break;
    case Dxt_Codec_RGTC1:
      std::printf("RGTC1 : ");
      print_alpha_lines(block);
      break;
    case Dxt_Codec_BC7:
      std::printf("BC7 : NOT IMP");
      break;
    default:
      std::printf("Codec Inconnu pour le print du premier bloc\n");
  }
}
