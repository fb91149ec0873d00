// Constant tables of the BC7 format and of the encoder's own, and the storage
// of the single-colour tables.
#include "src/bc7_internal.h"

// subsets, partition bits, rotation bits, index-selector bits, colour bits,
// alpha bits, p-bit per endpoint, shared p-bit, index bits, second index bits
const Bc7_Mode_Info bc7_modes[8] = {
    {3, 4, 0, 0, 4, 0, 1, 0, 3, 0},
    {2, 6, 0, 0, 6, 0, 0, 1, 3, 0},
    {3, 6, 0, 0, 5, 0, 0, 0, 2, 0},
    {2, 6, 0, 0, 7, 0, 1, 0, 2, 0},
    {1, 0, 2, 1, 5, 6, 0, 0, 2, 3},
    {1, 0, 2, 0, 7, 8, 0, 0, 2, 2},
    {1, 0, 0, 0, 7, 7, 1, 0, 4, 0},
    {2, 6, 0, 0, 5, 5, 1, 0, 2, 0},
};

const uint32_t bc7_weights2[4] = {0, 21, 43, 64};
const uint32_t bc7_weights3[8] = {0, 9, 18, 27, 37, 46, 55, 64};
const uint32_t bc7_weights4[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};

// The first three factors are kept to six decimals, as the encoder has always
// used them; w itself is exact.
const float bc7_factors2[4][4] = {
    {0.0f, 0.0f, 1.0f, 0.0f},
    {0.107666f, 0.220459f, 0.451416f, 0.328125f},
    {0.451416f, 0.220459f, 0.107666f, 0.671875f},
    {1.0f, 0.0f, 0.0f, 1.0f},
};
const float bc7_factors3[8][4] = {
    {0.0f, 0.0f, 1.0f, 0.0f},
    {0.019775f, 0.12085f, 0.738525f, 0.140625f},
    {0.079102f, 0.202148f, 0.516602f, 0.28125f},
    {0.177979f, 0.243896f, 0.334229f, 0.421875f},
    {0.334229f, 0.243896f, 0.177979f, 0.578125f},
    {0.516602f, 0.202148f, 0.079102f, 0.71875f},
    {0.738525f, 0.12085f, 0.019775f, 0.859375f},
    {1.0f, 0.0f, 0.0f, 1.0f},
};
const float bc7_factors4[16][4] = {
    {0.0f, 0.0f, 1.0f, 0.0f},
    {0.003906f, 0.058594f, 0.878906f, 0.0625f},
    {0.019775f, 0.12085f, 0.738525f, 0.140625f},
    {0.04126f, 0.161865f, 0.63501f, 0.203125f},
    {0.070557f, 0.195068f, 0.539307f, 0.265625f},
    {0.107666f, 0.220459f, 0.451416f, 0.328125f},
    {0.165039f, 0.241211f, 0.352539f, 0.40625f},
    {0.219727f, 0.249023f, 0.282227f, 0.46875f},
    {0.282227f, 0.249023f, 0.219727f, 0.53125f},
    {0.352539f, 0.241211f, 0.165039f, 0.59375f},
    {0.451416f, 0.220459f, 0.107666f, 0.671875f},
    {0.539307f, 0.195068f, 0.070557f, 0.734375f},
    {0.63501f, 0.161865f, 0.04126f, 0.796875f},
    {0.738525f, 0.12085f, 0.019775f, 0.859375f},
    {0.878906f, 0.058594f, 0.003906f, 0.9375f},
    {1.0f, 0.0f, 0.0f, 1.0f},
};

const uint16_t bc7_partitions2[64] = {
    0xCCCC, 0x8888, 0xEEEE, 0xECC8, 0xC880, 0xFEEC, 0xFEC8, 0xEC80,
    0xC800, 0xFFEC, 0xFE80, 0xE800, 0xFFE8, 0xFF00, 0xFFF0, 0xF000,
    0xF710, 0x008E, 0x7100, 0x08CE, 0x008C, 0x7310, 0x3100, 0x8CCE,
    0x088C, 0x3110, 0x6666, 0x366C, 0x17E8, 0x0FF0, 0x718E, 0x399C,
    0xAAAA, 0xF0F0, 0x5A5A, 0x33CC, 0x3C3C, 0x55AA, 0x9696, 0xA55A,
    0x73CE, 0x13C8, 0x324C, 0x3BDC, 0x6996, 0xC33C, 0x9966, 0x0660,
    0x0272, 0x04E4, 0x4E40, 0x2720, 0xC936, 0x936C, 0x39C6, 0x639C,
    0x9336, 0x9CC6, 0x817E, 0xE718, 0xCCF0, 0x0FCC, 0x7744, 0xEE22,
};

const uint32_t bc7_partitions3[64] = {
    0xAA685050, 0x6A5A5040, 0x5A5A4200, 0x5450A0A8, 0xA5A50000, 0xA0A05050,
    0x5555A0A0, 0x5A5A5050, 0xAA550000, 0xAA555500, 0xAAAA5500, 0x90909090,
    0x94949494, 0xA4A4A4A4, 0xA9A59450, 0x2A0A4250, 0xA5945040, 0x0A425054,
    0xA5A5A500, 0x55A0A0A0, 0xA8A85454, 0x6A6A4040, 0xA4A45000, 0x1A1A0500,
    0x0050A4A4, 0xAAA59090, 0x14696914, 0x69691400, 0xA08585A0, 0xAA821414,
    0x50A4A450, 0x6A5A0200, 0xA9A58000, 0x5090A0A8, 0xA8A09050, 0x24242424,
    0x00AA5500, 0x24924924, 0x24499224, 0x50A50A50, 0x500AA550, 0xAAAA4444,
    0x66660000, 0xA5A0A5A0, 0x50A050A0, 0x69286928, 0x44AAAA44, 0x66666600,
    0xAA444444, 0x54A854A8, 0x95809580, 0x96969600, 0xA85454A8, 0x80959580,
    0xAA141414, 0x96960000, 0xAAAA1414, 0xA05050A0, 0xA0A5A5A0, 0x96000000,
    0x40804080, 0xA9A8A9A8, 0xAAAAAA44, 0x2A4A5254,
};

const uint8_t bc7_anchors2[64] = {
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
    15, 2, 8, 2, 2, 8, 8, 15, 2, 8, 2, 2, 8, 8, 2, 2,
    15, 15, 6, 8, 2, 8, 15, 15, 2, 8, 2, 2, 2, 15, 15, 6,
    6, 2, 6, 8, 15, 15, 2, 2, 15, 15, 15, 15, 15, 2, 2, 15,
};

const uint8_t bc7_anchors3[64][2] = {
    {3, 15}, {3, 8}, {15, 8}, {15, 3}, {8, 15}, {3, 15}, {15, 3}, {15, 8},
    {8, 15}, {8, 15}, {6, 15}, {6, 15}, {6, 15}, {5, 15}, {3, 15}, {3, 8},
    {3, 15}, {3, 8}, {8, 15}, {15, 3}, {3, 15}, {3, 8}, {6, 15}, {10, 8},
    {5, 3}, {8, 15}, {8, 6}, {6, 10}, {8, 15}, {5, 15}, {15, 10}, {15, 8},
    {8, 15}, {15, 3}, {3, 15}, {5, 10}, {6, 10}, {10, 8}, {8, 9}, {15, 10},
    {15, 6}, {3, 15}, {15, 8}, {5, 15}, {15, 3}, {15, 6}, {15, 6}, {15, 8},
    {3, 15}, {15, 3}, {5, 15}, {5, 15}, {5, 15}, {8, 15}, {5, 15}, {10, 15},
    {5, 15}, {10, 15}, {8, 15}, {13, 15}, {15, 3}, {12, 15}, {3, 15}, {3, 8},
};

// Partitions that separate smooth gradients and edges early come first.
const uint8_t bc7_partition_order[64] = {
    0, 13, 1, 2, 15, 14, 10, 16, 3, 23, 26, 6, 7, 21, 19, 29,
    8, 4, 9, 20, 5, 31, 22, 17, 18, 11, 12, 30, 24, 25, 28, 27,
    32, 33, 34, 45, 46, 51, 49, 50, 48, 38, 39, 37, 53, 52, 54, 36,
    57, 58, 55, 41, 40, 42, 43, 59, 44, 56, 47, 35, 60, 63, 62, 61,
};

// Indexed by partition 0..34; all bits set where no first-14 winner rules it out.
const uint32_t bc7_partition_prune_masks[35] = {
    0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
    0x00000106, 0x0000008A, 0xFFFFFFFF, 0xFFFFFFFF, 0x00010104,
    0x00008088, 0xFFFFFFFF, 0x00014100, 0x0000C080, 0xFFFFFFFF,
    0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x0000C000, 0x00414000,
    0x01024000, 0x0000C006, 0xFFFFFFFF, 0x0041400A, 0xFFFFFFFF,
    0x01028006, 0x0040000A, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
    0x0003C000, 0xFFFFFFFF, 0xFFFFFFFF, 0x0900001E, 0x0803C800,
};

Bc7_Single_Color_Entry g_bc7_mode_1_optimal_endpoints[256][2];
Bc7_Single_Color_Entry g_bc7_mode_7_optimal_endpoints[256][2][2];
