// One texture encoder: the table of block kernels chosen at set-up, the two
// block-worker slots, then the frame geometry and its slice plan.
//
// Where things are defined:
//   - this header: the context, its constants, every slot type, and the
//     records that several kernel families pass to each other
//     (Ycocg_Block, Cocg_Block, Cocg_Candidate, Cs_Gathered_Block,
//     Cluster_Partition_Sums, Cluster_Fit_Best, Partition_Code);
//   - texture_encoder/installers.h: the installers of the YCoCg, DXT1/DXT5 and
//     BC7 sets, which live with those kernels;
//   - the kernels themselves are declared in the header of their own area
//     (pixel_formats.h, partial_block_padding.h, alpha_block.h, ycocg_*.h,
//     dxt1_*.h, cs_*.h, cluster_fit/*.h).
//
// Block workers receive the kernel head by const reference and call kernels
// only through it; set-up is the only writer, so every slice reads it freely.
#pragma once
#include <cstddef>
#include <cstdint>

// What a context produces; bytes per 4x4 block in texture_geometry.h.
enum Texture_Code : uint32_t {
  Texture_Code_Dxt1 = 0,
  Texture_Code_Dxt5 = 1,
  Texture_Code_Rgtc1_Luma = 2,
  Texture_Code_Rgtc1_Alpha = 3,
  Texture_Code_Ycocg_Dxt5 = 4,
  Texture_Code_Ycocg_Dxt5_Rgtc1 = 5,  // two textures: YCoCg-DXT5, then RGTC1 alpha
  Texture_Code_Bc7 = 6,
};

// Processor features a caller allows. No vector kernel is installed without
// Simd_Flag_Enable; set-up first clears what the processor lacks.
enum Simd_Flags : uint32_t {
  Simd_Flag_Enable = 0x08,
  Simd_Flag_Avx = 0x20,
  Simd_Flag_Fma = 0x40,
  Simd_Flag_Avx2 = 0x80,
};

// What happens to the partial blocks at the right and bottom edges.
enum Pad_Mode : uint32_t {
  Pad_Mode_Edge = 0,   // repeat the last valid column, then the last row
  Pad_Mode_Black = 1,  // opaque black
  Pad_Mode_Zero = 2,   // all-zero samples
  Pad_Mode_Crop = 3,   // partial blocks are left out; block counts round down
};

// Source layouts the engine accepts (the others exist for the conversion
// templates of pixel_formats.h only).
enum Pix_Fmt : uint32_t {
  Pix_Fmt_Bgra8 = 1,            // B, G, R, A bytes, rows top-down
  Pix_Fmt_Bgra8_Bottom_Up = 2,  // the same, rows stored bottom-up
};

constexpr int Max_Slices = 64;

// ---- Records passed between kernel families --------------------------------

// Chroma of one block, as the CoCg encoders take it. Neutral chroma is 128/255.
struct alignas(32) Cocg_Block {
  float co[16];
  float cg[16];
  float cocg_box[4];  // Co min, Cg min, Co max, Cg max (encoders edit it in place)
};

// One block in YCoCg floats (0..1), as to_ycocg writes it: y at float 0,
// y_min/y_max at 16/17, cocg.co at 24, cocg.cg at 40, cocg.cocg_box at 56.
struct alignas(32) Ycocg_Block {
  float y[16];
  float y_min, y_max;
  float unused[6];
  Cocg_Block cocg;
};
static_assert(offsetof(Ycocg_Block, cocg) == 24 * sizeof(float));

// Endpoint codes of a CoCg candidate: (a0, b0) low endpoint (colour1),
// (a1, b1) high endpoint (colour0); a are 5-bit Co codes, b 6-bit Cg codes.
struct Cocg_Candidate {
  int32_t a0, b0, a1, b1;
};

// Distinct colours of one block, in order of first appearance.
struct alignas(32) Cs_Gathered_Block {
  uint64_t count;        // 1..16
  float colours[16][4];  // R, G, B in 0..1; the fourth lane is not written
  float weights[16];     // sqrt of each colour's occurrence count (block loop)
  uint32_t map[16];      // colour index of each pixel, raster order
  uint32_t counts[16];   // occurrences of each colour
};

// Stage-A sums of every contiguous run of sorted colours, addressed by byte
// offsets from the partition tables; sized for the largest (16-colour) layout.
// Stage A also copies them channel by channel into `lanes` (layout in
// cluster_fit/partition_tables.h), where the vector stages read the values of
// four neighbouring runs with one load.
struct alignas(32) Cluster_Partition_Sums {
  float data[6596 / 4 + 3 * 12];  // three spare records: the copy reads whole quads
  alignas(32) float lanes[4 * 1768];
};

// Best candidate of one block's cluster fit so far. The block loop starts it
// at a = b = 0 and error = the largest finite float.
struct alignas(16) Cluster_Fit_Best {
  float a[4];
  float b[4];
  float error;
};

// Cluster boundaries of the best candidate: cluster 0 is [0, i1), 1 [i1, i2),
// 2 [i2, i3), 3 [i3, n). The block loop starts it at (0, 0, 1).
struct Partition_Code {
  uint8_t i1, i2, i3;
};

// ---- Slot types ------------------------------------------------------------
// Source blocks are addressed by plane pointers and signed byte strides (row to
// row); packed formats use plane 0 only.

// Writes one full 4x4 block in the source's own layout into pad_block (planes
// at k * 4 * block step, row stride = block step); missing pixels follow the
// pad mode. valid_columns and valid_rows are 1..4.
using Pad_Kernel_Fn = void (*)(uint8_t* pad_block, const uint8_t* const planes[4],
                               const int64_t strides[4], uint16_t valid_columns,
                               uint16_t valid_rows);
// 16 alpha bytes of a block in raster order, with their minimum and maximum.
using Extract_Plane_Alpha_Fn = void (*)(uint8_t* out16, const uint8_t* plane0,
                                        const uint8_t* plane3, int64_t stride0, int64_t stride3,
                                        uint64_t* min, uint64_t* max);
// 16 luma bytes (R + G + B) / 3, with their minimum and maximum.
using Extract_Plane_Luma_Fn = void (*)(uint8_t* out16, const uint8_t* plane0, const uint8_t* plane1,
                                       const uint8_t* plane2, int64_t stride0, int64_t stride1,
                                       int64_t stride2, uint64_t* min, uint64_t* max);
// Minimum over the values other than 0, maximum over those other than 255.
using Rgtc1_Block_Min_Max_Fn = void (*)(const uint8_t* values16, uint64_t* min, uint64_t* max);
// Nearest palette index of each value (ties to the lower index); the sum of
// squared differences is stored through error and returned.
using Rgtc1_Fit_Indices_Fn = int64_t (*)(const uint8_t* values16, const uint8_t* palette8,
                                         uint8_t* indices16, int64_t* error);

using Ycocg_Load_Block_Fn = void (*)(Ycocg_Block* out, const uint8_t* source, int64_t stride,
                                     uint64_t* all_black);
using Ycocg_Load_Planar_Block_Fn = void (*)(Ycocg_Block* out, const uint8_t* const planes[3],
                                            const int64_t strides[3], uint64_t* all_black);
using Ycocg_Encode_Y_Alpha_Fn = void (*)(uint8_t* alpha_half, Ycocg_Block* block);
using Ycocg_Encode_Cocg_Fn = void (*)(uint8_t* colour_half, Cocg_Block* block);

using Cocg_Inset_Bbox_Fn = void (*)(const float box[4], Cocg_Candidate* out);
using Cocg_Endpoint_Trial_Fn = void (*)(Cocg_Block* block, float* best_error,
                                        const Cocg_Candidate* candidate, float* best_distances,
                                        Cocg_Candidate* best);
using Cocg_Final_Pack_Fn = void (*)(const float* best_distances, uint32_t* index_word);
using Cocg_Endpoint_Search_Fn = void (*)(const Cocg_Block* block, const Cocg_Candidate* initial,
                                         float* best_error, Cocg_Candidate* best,
                                         float* best_distances);

// The CoCg endpoint kernels; the member of each group of three is scale / 2.
struct Cocg_Endpoint_Kernels {
  Cocg_Inset_Bbox_Fn inset_bbox[6];            // [0..2] inset, [3..5] widened
  Cocg_Endpoint_Trial_Fn endpoint_trial[3];    // flat chroma
  Cocg_Final_Pack_Fn final_pack;
  Cocg_Endpoint_Search_Fn endpoint_search[3];  // varying chroma, whole neighbourhood
};

// The block as planar R, G, B bytes (48). Quality-1 loader: result 1 when all
// 16 pixels share one colour. Quality-2 loader: result = largest channel range,
// also returned.
using Dxt_Load_Block_Fn = uint64_t (*)(uint8_t* block48, const uint8_t* plane0,
                                       const uint8_t* plane1, const uint8_t* plane2,
                                       int64_t stride0, int64_t stride1, int64_t stride2,
                                       uint64_t* result);
using Dxt1_Compute_Indices_Fn = void (*)(const uint8_t* block48, uint16_t c0, uint16_t c1,
                                         uint32_t* indices, const uint8_t* expand_table);
// channel_sums: u32 places 0..2 the sums R, G, B, places 4..6 the rounded means.
using Dxt1_Initial_Endpoints_Fn = void (*)(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                                           uint32_t* channel_sums);
using Dxt1_Refine_Endpoints_Fn = void (*)(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                                          uint32_t indices, const uint32_t* channel_sums);

using Cs_Gather_Block_Fn = void (*)(Cs_Gathered_Block* out, const uint8_t* plane0,
                                    const uint8_t* plane1, const uint8_t* plane2, int64_t stride0,
                                    int64_t stride1, int64_t stride2);
// endpoints: a then b, four floats each (R, G, B in 0..1).
using Dxt1_Pack_From_Float_Fn = void (*)(const float* endpoints8, const uint8_t* indices16,
                                         uint64_t* block);
// endpoints: a then b, four bytes each (5-, 6-, 5-bit fields).
using Dxt1_Pack_From_565_Fn = void (*)(const uint8_t* endpoints8, const uint8_t* indices16,
                                       uint64_t* block);
using Cs_Principal_Axis_Fn = void (*)(float* axis3, const float (*colours)[4],
                                      const float* weights);
using Cs_Project_On_Axis_Fn = void (*)(float* keys, const float (*colours)[4], const float* axis3);
// order holds 0..n-1 on entry.
using Cs_Sort_Order_Fn = void (*)(const float* keys, uint8_t* order);

// The eighteen cluster set-up kernels, in slot order [0..17].
struct Cs_Kernels {
  Cs_Gather_Block_Fn gather_block;                // [0]
  Dxt1_Pack_From_Float_Fn pack_block_from_float;  // [1]
  Dxt1_Pack_From_565_Fn pack_block_from_565;      // [2]
  Cs_Principal_Axis_Fn principal_axis[15];        // [3..17], index n - 2
};

// Stage A: weighted colours (4 floats each, sorted) to partition sums.
using Cluster_Partition_Sums_Fn = void (*)(const float* weighted_colours,
                                           Cluster_Partition_Sums* sums);
// Stage B of every count.
using Cluster_Fit_Mean_Pairs_Fn = void (*)(Cluster_Fit_Best* best, Partition_Code* code,
                                           const Cluster_Partition_Sums* sums);
// Stages C to F below 16 colours: the table pair (entries, codes) of that stage and count.
using Cluster_Fit_Stage_Fn = void (*)(Cluster_Fit_Best* best, Partition_Code* code,
                                      const Cluster_Partition_Sums* sums, const uint64_t* entries,
                                      const uint8_t* codes);
// Stages C to F of 16 colours.
using Cluster_Fit_N16_Stage_Fn = void (*)(Cluster_Fit_Best* best, Partition_Code* code,
                                          const Cluster_Partition_Sums* sums,
                                          const float* reciprocal_determinant_table,
                                          const uint64_t* entries, const uint8_t* codes);

// 16 RGBA pixels (64 bytes) of one block.
using Bc7_Row_Converter_Fn = void (*)(uint8_t* rgba64, const uint8_t* plane0, const uint8_t* plane1,
                                      const uint8_t* plane2, const uint8_t* plane3,
                                      int64_t stride0);

// ---- The context -----------------------------------------------------------

// Count-indexed arrays are indexed by (distinct colours - 2).
struct Dxt_Kernel_Head {
  Pad_Kernel_Fn pad_kernel;
  Extract_Plane_Alpha_Fn extract_plane_alpha;
  Extract_Plane_Luma_Fn extract_plane_luma;
  Rgtc1_Block_Min_Max_Fn rgtc1_block_min_max;
  Rgtc1_Fit_Indices_Fn rgtc1_fit_indices;
  Ycocg_Load_Block_Fn ycocg_load_block;
  Ycocg_Load_Planar_Block_Fn ycocg_load_planar_block;  // never filled: planar sources are refused
  Ycocg_Encode_Y_Alpha_Fn ycocg_encode_y_alpha;
  Ycocg_Encode_Cocg_Fn ycocg_encode_cocg;
  Ycocg_Encode_Cocg_Fn ycocg_encode_cocg_flat;
  Cocg_Endpoint_Kernels cocg_endpoint_kernels;
  Dxt_Load_Block_Fn dxt_load_block_q1;
  Dxt_Load_Block_Fn dxt_load_block_q2;
  Dxt1_Compute_Indices_Fn dxt1_compute_indices;
  Dxt1_Initial_Endpoints_Fn dxt1_initial_endpoints;
  Dxt1_Refine_Endpoints_Fn dxt1_refine_endpoints;
  Cs_Kernels cs_kernels;
  Cs_Project_On_Axis_Fn cs_project_on_axis[15];
  Cs_Sort_Order_Fn cs_sort_order[15];
  Cluster_Partition_Sums_Fn cluster_partition_sums[15];
  Cluster_Fit_Stage_Fn cluster_fit_three_levels[14];     // filled for 5..15
  Cluster_Fit_Stage_Fn cluster_fit_four_levels[14];      // filled for 5..15
  Cluster_Fit_Stage_Fn cluster_fit_records[14];          // filled for 2..15
  Cluster_Fit_Stage_Fn cluster_fit_final[14];            // filled for 2, 3, 7, 8, 10, 11, 15
  Cluster_Fit_Mean_Pairs_Fn cluster_fit_mean_pairs[14];  // filled for 3..15
  Cluster_Fit_Mean_Pairs_Fn cluster_fit_n16_mean_pairs;
  Cluster_Fit_N16_Stage_Fn cluster_fit_n16_three_levels;
  Cluster_Fit_N16_Stage_Fn cluster_fit_n16_four_levels;
  Cluster_Fit_N16_Stage_Fn cluster_fit_n16_records;
  Cluster_Fit_N16_Stage_Fn cluster_fit_n16_final;
  Bc7_Row_Converter_Fn bc7_row_converter;
};

// Encodes one 4x4 block at out from the given planes (the pad block for
// partial blocks). The head is shared by every slice and only read.
using Slice_Worker_Fn = void (*)(const Dxt_Kernel_Head& head, uint8_t* out,
                                 const uint8_t* const planes[4], const int64_t strides[4]);

// Value-initialise before use (Dxt_Encoder_Context context{}); set-up clears
// everything but source_has_no_alpha, and the driver never calls an empty slot.
struct Dxt_Encoder_Context {
  Dxt_Kernel_Head head;
  Slice_Worker_Fn slice_worker;
  Slice_Worker_Fn slice_worker_second;  // RGTC1 alpha texture of code 5
  uint8_t quality;
  uint8_t reserved_flag;
  uint8_t source_has_no_alpha;  // written by the caller before set-up
  uint32_t texture_code;
  uint32_t pix_fmt;
  uint32_t pad_mode;
  uint16_t thread_count;  // slices; 0 or 1 means the whole frame on the calling thread
  uint16_t width;
  uint16_t height;
  uint16_t slice_start_rows[Max_Slices];
  uint16_t slice_row_counts[Max_Slices];
};

// Fills the context for one frame geometry and returns 0, or prints one line
// and returns 1 (unknown pixel format, texture code or quality, or a kernel set
// that is not available). mask is a Simd_Flags request.
uint32_t setup_dxt_encoder(Dxt_Encoder_Context* context, uint16_t width, uint16_t height,
                           uint32_t texture_code, uint8_t quality, uint8_t reserved_flag,
                           uint32_t pix_fmt, uint32_t pad_mode, uint32_t thread_request,
                           uint32_t mask);

// Plans the slices from the stored height: a request of 0 means the processor
// count; at most 64 slices and at least 32 rows a slice where the height allows.
void set_thread_count(Dxt_Encoder_Context* context, uint32_t request);
