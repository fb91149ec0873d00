// Helpers shared by the test programs: the test images, error measures,
// reference decoders for every texture format the encoder writes, and file,
// path and exception helpers. The decoders are written independently of the
// encoders so that a round trip checks the bit layout as well as the quality.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A test picture: 8-bit BGRA, top-down, rows tightly packed.
struct Test_Image {
  int width = 0, height = 0;
  std::vector<uint8_t> bgra;
};

// Loads a raw BGRA file from the test data folder; the size comes from the
// name ("chelsea_451x300.bgra"). Throws std::runtime_error when the name has
// no size or the file is missing or of the wrong length.
Test_Image load_test_image(const std::string& file_name);

// The picture with its rows in the opposite order.
Test_Image flip_rows(const Test_Image& image);

// Block decoders: 16 pixels, row-major, 4 bytes each in B, G, R, A order.

// DXT1 (BC1): four colours when colour0 > colour1, otherwise three colours
// and transparent black for index 3.
void decode_dxt1_block(const uint8_t* in8, uint8_t* out64);

// DXT5 (BC3): an 8-byte alpha block followed by a DXT1 colour block that is
// always read with four colours.
void decode_dxt5_block(const uint8_t* in16, uint8_t* out64);

// RGTC1 unsigned (BC4): 16 single-channel values; the 8-value palette when
// the first endpoint is larger, otherwise 6 values plus 0 and 255.
void decode_rgtc1_block(const uint8_t* in8, uint8_t* out16);

// Scaled YCoCg-DXT5: Y in the alpha block, Co and Cg in the red and green
// fields of a four-colour block, chroma scale - 1 in the blue field.
// Output alpha is 255.
void decode_ycocg_dxt5_block(const uint8_t* in16, uint8_t* out64);

// BC7: all eight modes, with rotation, index selection and p-bits. Reserved
// mode bytes (no mode bit set) decode to transparent black.
void decode_bc7_block(const uint8_t* in16, uint8_t* out64);

enum class Tex { Dxt1, Dxt5, Rgtc1, YcocgDxt5, Bc7 };

// Whole texture (blocks row-major, ceil(w/4) x ceil(h/4) blocks) -> BGRA image
// w x h, top-down. For Rgtc1 the value goes to B, G and R, alpha 255.
std::vector<uint8_t> decode_texture(Tex kind, const uint8_t* data, int width, int height);

// PSNR in dB over B, G, R (and A when with_alpha) of two BGRA pictures;
// infinity when they are equal.
double psnr_bgra(const uint8_t* a, const uint8_t* b, size_t pixel_count, bool with_alpha);

// Largest absolute difference between two byte arrays.
int max_abs_error(const uint8_t* a, const uint8_t* b, size_t byte_count);

// ---- Files and errors --------------------------------------------------------

// The message of the std::exception that `call` throws, or "(no exception)".
std::string error_text(const std::function<void()>& call);

// What `call` prints on standard output (exceptions pass through).
std::string printed_by(const std::function<void()>& call);

// A path in the test temporary folder, unique to this process (the process id
// goes before `name`), so test programs running side by side do not collide.
std::string temp_path(const std::string& name);

// A temp_path that is removed when it goes out of scope.
struct Temp_File {
  explicit Temp_File(const std::string& name) : path(temp_path(name)) {}
  ~Temp_File();
  Temp_File(const Temp_File&) = delete;
  Temp_File& operator=(const Temp_File&) = delete;
  const std::string path;
};

// Every byte of a file; empty when it cannot be read.
std::vector<uint8_t> read_file(const std::string& path);

// UTF-8 to the UTF-16 the movie writer and the host take paths in.
std::u16string to_u16(const std::string& utf8);
