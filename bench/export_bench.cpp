// End-to-end speed of the main job: hap-export run over a natural clip (a
// slow pan across a mosaic of the test pictures, no audio), per codec at Fast
// and Normal. For each run it prints frames per second, cores busy ((user +
// system time) / wall time) and peak memory (the child's maximum resident set
// from wait4). Given a second hap-export (shown as "baseline"), it runs both on
// every case, one after the other, and prints the ratios of the first to the
// second.
//
//   export_bench [options] HAP_EXPORT [BASELINE_HAP_EXPORT]
//     --frames N          frames of the clip (default 120)
//     --size WxH          frame size (default 1920x1080)
//     --codecs LIST       comma-separated codec numbers of ADBEVideoCodec (default 1,2,3,4,6,8)
//     --qualities LIST    comma-separated ComboboxQuality values (default 0,1: Fast, Normal)
//     --runs N            runs of each case and program; the median by speed is shown (default 1)
//     --processors N      make the exports believe the machine has N processors
//                         (loads the fake-processor library beside this program)
//     --param ID=VALUE    extra export parameter for every run (repeatable)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> bgra;
};

Image read_image(const std::string& name, int width, int height) {
  std::ifstream in(std::string(HAP_TESTDATA_DIR) + "/" + name, std::ios::binary);
  Image image{width, height, std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {})};
  if (image.bgra.size() != size_t(width) * height * 4) throw std::runtime_error("missing test image " + name);
  return image;
}

// The four test pictures in a 2 x 2 mosaic of 600 x 512 cells, each picture
// repeated to fill its cell; the alpha picture keeps its alpha, the others are
// opaque.
Image mosaic() {
  const Image pictures[] = {read_image("astronaut_alpha_512x512.bgra", 512, 512),
                            read_image("coffee_600x400.bgra", 600, 400), read_image("chelsea_451x300.bgra", 451, 300),
                            read_image("astronaut_512x512.bgra", 512, 512)};
  constexpr int cell_w = 600, cell_h = 512;
  Image m{2 * cell_w, 2 * cell_h, std::vector<uint8_t>(size_t(4) * cell_w * cell_h * 4)};
  for (int y = 0; y < m.height; ++y)
    for (int x = 0; x < m.width; ++x) {
      const Image& p = pictures[(y / cell_h) * 2 + x / cell_w];
      const uint8_t* s = &p.bgra[(size_t(y % cell_h % p.height) * p.width + x % cell_w % p.width) * 4];
      std::memcpy(&m.bgra[(size_t(y) * m.width + x) * 4], s, 4);
    }
  return m;
}

// The clip: frame k is a width x height window of the mosaic stretched
// (bilinear) over a larger world, moved right and down a little every frame.
void write_clip(const std::string& path, int width, int height, int frames) {
  const Image m = mosaic();
  const int step_x = std::max(1, width / 320), step_y = std::max(1, height / 360);
  const int world_w = width + frames * step_x, world_h = height + frames * step_y;
  std::vector<uint8_t> world(size_t(world_w) * world_h * 4);
  for (int y = 0; y < world_h; ++y) {
    const double v = (y + 0.5) * m.height / world_h - 0.5;
    const int y0 = std::clamp(int(std::floor(v)), 0, m.height - 1), y1 = std::min(y0 + 1, m.height - 1);
    const double fy = std::clamp(v - y0, 0.0, 1.0);
    for (int x = 0; x < world_w; ++x) {
      const double u = (x + 0.5) * m.width / world_w - 0.5;
      const int x0 = std::clamp(int(std::floor(u)), 0, m.width - 1), x1 = std::min(x0 + 1, m.width - 1);
      const double fx = std::clamp(u - x0, 0.0, 1.0);
      for (int c = 0; c < 4; ++c) {
        auto at = [&](int xx, int yy) { return double(m.bgra[(size_t(yy) * m.width + xx) * 4 + c]); };
        const double top = at(x0, y0) * (1 - fx) + at(x1, y0) * fx;
        const double bottom = at(x0, y1) * (1 - fx) + at(x1, y1) * fx;
        world[(size_t(y) * world_w + x) * 4 + c] = uint8_t(std::lround(top * (1 - fy) + bottom * fy));
      }
    }
  }
  const std::string partial = path + ".part";
  std::ofstream out(partial, std::ios::binary);
  for (int k = 0; k < frames; ++k)
    for (int y = 0; y < height; ++y)
      out.write(reinterpret_cast<const char*>(&world[((size_t(y) + k * step_y) * world_w + k * step_x) * 4]),
                std::streamsize(width) * 4);
  out.close();
  if (!out) throw std::runtime_error("cannot write " + partial);
  fs::rename(partial, path);
}

struct Options {
  int frames = 120, width = 1920, height = 1080, runs = 1, processors = 0;
  std::vector<int> codecs{1, 2, 3, 4, 6, 8};
  std::vector<int> qualities{0, 1};
  std::vector<std::string> params;
  std::vector<std::string> programs;
};

std::vector<int> number_list(const std::string& text) {
  std::vector<int> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) out.push_back(std::stoi(item));
  return out;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&] {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return std::string(argv[++i]);
    };
    if (arg == "--frames") {
      o.frames = std::stoi(value());
    } else if (arg == "--size") {
      const std::string v = value();
      o.width = std::stoi(v.substr(0, v.find('x')));
      o.height = std::stoi(v.substr(v.find('x') + 1));
    } else if (arg == "--codecs") {
      o.codecs = number_list(value());
    } else if (arg == "--qualities") {
      o.qualities = number_list(value());
    } else if (arg == "--runs") {
      o.runs = std::max(1, std::stoi(value()));
    } else if (arg == "--processors") {
      o.processors = std::stoi(value());
    } else if (arg == "--param") {
      o.params.push_back(value());
    } else if (!arg.empty() && arg[0] == '-') {
      throw std::runtime_error("unknown option " + arg);
    } else {
      o.programs.push_back(arg);
    }
  }
  if (o.programs.empty() || o.programs.size() > 2)
    throw std::runtime_error("usage: export_bench [options] HAP_EXPORT [BASELINE_HAP_EXPORT]");
  return o;
}

struct Measure {
  double seconds = 0, cores = 0, peak_mib = 0;
  bool ok = false;
};

// Runs one export in a child process and measures it.
Measure run_export(const std::string& program, const std::vector<std::string>& args, const std::string& preload) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);  // the child must not print what the parent buffered
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    if (!preload.empty()) setenv("LD_PRELOAD", preload.c_str(), 1);
    execv(program.c_str(), argv.data());
    std::perror(program.c_str());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) throw std::runtime_error("wait4 failed");
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  Measure m;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  m.cores = (seconds(usage.ru_utime) + seconds(usage.ru_stime)) / wall;
  m.peak_mib = double(usage.ru_maxrss) / 1024.0;
  m.seconds = wall;
  return m;
}

const char* quality_name(int q) { return q == 0 ? "Fast" : q == 1 ? "Normal" : q == 2 ? "Slow" : "?"; }
const char* codec_name(int c) {
  static const char* names[] = {"?", "HAP", "HAPA", "HAPQ", "HAPQA", "Alpha(L)", "Alpha(A)", "HAPR", "HAPRA"};
  return c >= 1 && c <= 8 ? names[c] : "?";
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse(argc, argv);
    const fs::path clip = fs::temp_directory_path() / ("hap_export_bench_" + std::to_string(o.width) + "x" +
                                                       std::to_string(o.height) + "x" + std::to_string(o.frames) +
                                                       ".bgra");
    if (!fs::exists(clip)) {
      std::fprintf(stderr, "making %s\n", clip.c_str());
      write_clip(clip.string(), o.width, o.height, o.frames);
    }
    std::string preload;
    if (o.processors > 0) {
      preload = (fs::canonical("/proc/self/exe").parent_path() / "libhap_fake_processors.so").string();
      if (!fs::exists(preload)) throw std::runtime_error("missing " + preload);
      setenv("HAP_FAKE_PROCESSORS", std::to_string(o.processors).c_str(), 1);
    }
    const std::string size = std::to_string(o.width) + "x" + std::to_string(o.height);
    const std::string movie = (fs::temp_directory_path() / ("hap_export_bench_" + std::to_string(getpid()) + ".mov"));
    std::printf("%d frames of %s%s, %u processors online\n", o.frames, size.c_str(),
                o.processors ? (", exports told " + std::to_string(o.processors) + " processors").c_str() : "",
                unsigned(sysconf(_SC_NPROCESSORS_ONLN)));
    std::printf("%-9s %-7s %-9s %8s %7s %9s\n", "codec", "quality", "program", "fps", "cores", "peak MiB");
    for (int codec : o.codecs)
      for (int quality : o.qualities) {
        std::vector<std::string> args{"--input", clip.string(), "--size", size, "--frames",
                                      std::to_string(o.frames), "--audio", "none",
                                      "--param", "ADBEVideoWidth=" + std::to_string(o.width),
                                      "--param", "ADBEVideoHeight=" + std::to_string(o.height),
                                      "--param", "ADBEVideoCodec=" + std::to_string(codec),
                                      "--param", "ComboboxQuality=" + std::to_string(quality)};
        for (const std::string& p : o.params) args.insert(args.end(), {"--param", p});
        args.push_back(movie);
        std::vector<std::vector<Measure>> runs(o.programs.size());
        for (int r = 0; r < o.runs; ++r)
          for (size_t p = 0; p < o.programs.size(); ++p) {
            runs[p].push_back(run_export(o.programs[p], args, preload));
            fs::remove(movie);
          }
        std::vector<Measure> shown;
        for (size_t p = 0; p < o.programs.size(); ++p) {
          std::vector<Measure>& list = runs[p];
          std::sort(list.begin(), list.end(),
                    [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
          const Measure& m = list[list.size() / 2];
          shown.push_back(m);
          std::printf("%-9s %-7s %-9s %8.1f %7.2f %9.0f%s\n", codec_name(codec), quality_name(quality),
                      p == 0 ? "new" : "baseline", o.frames / m.seconds, m.cores, m.peak_mib,
                      m.ok ? "" : "  (export failed)");
        }
        if (shown.size() == 2)
          std::printf("%-9s %-7s %-9s %7.2fx %6.2fx %8.2fx\n", "", "", "ratio", shown[1].seconds / shown[0].seconds,
                      shown[0].cores / shown[1].cores, shown[0].peak_mib / shown[1].peak_mib);
        std::fflush(stdout);
      }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "export_bench: %s\n", e.what());
    return 1;
  }
}
