// Test pictures and the error measures used to judge decoded textures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "tests/support/test_support.h"

Test_Image load_test_image(const std::string& file_name) {
  // The size is the "<width>x<height>" after the last '_' of the name.
  const size_t underscore = file_name.rfind('_');
  Test_Image image;
  char tail = 0;
  if (underscore == std::string::npos ||
      std::sscanf(file_name.c_str() + underscore + 1, "%dx%d%c", &image.width, &image.height, &tail) != 3 ||
      tail != '.' || image.width <= 0 || image.height <= 0) {
    throw std::runtime_error("test image name carries no size: " + file_name);
  }
  const std::string path = std::string(HAP_TESTDATA_DIR) + "/" + file_name;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw std::runtime_error("cannot open test image " + path);
  image.bgra.resize(size_t(image.width) * image.height * 4);
  if (std::fread(image.bgra.data(), 1, image.bgra.size(), file.get()) != image.bgra.size() ||
      std::fgetc(file.get()) != EOF) {
    throw std::runtime_error("test image " + path + " does not hold exactly its size in pixels");
  }
  return image;
}

Test_Image flip_rows(const Test_Image& image) {
  Test_Image out = image;
  const size_t row = size_t(image.width) * 4;
  for (int y = 0; y < image.height; ++y)
    std::memcpy(&out.bgra[y * row], &image.bgra[(image.height - 1 - y) * row], row);
  return out;
}

double psnr_bgra(const uint8_t* a, const uint8_t* b, size_t pixel_count, bool with_alpha) {
  const int channels = with_alpha ? 4 : 3;
  double sum = 0;
  for (size_t p = 0; p < pixel_count; ++p) {
    for (int c = 0; c < channels; ++c) {
      const double d = double(a[4 * p + c]) - double(b[4 * p + c]);
      sum += d * d;
    }
  }
  if (sum == 0) return std::numeric_limits<double>::infinity();
  const double mse = sum / (double(pixel_count) * channels);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

int max_abs_error(const uint8_t* a, const uint8_t* b, size_t byte_count) {
  int worst = 0;
  for (size_t i = 0; i < byte_count; ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}
