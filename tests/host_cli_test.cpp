// hap-export's command line: help, summaries, parameter listing, and clear
// errors with a non-zero exit for bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/mov_inspector.h"

namespace {

struct Cli_Run {
  int status = -1;
  std::string output;  // standard output and error together
};

Cli_Run hap_export(const std::string& args) {
  Cli_Run run;
  FILE* pipe = popen((std::string(HAP_EXPORT_PATH) + " " + args + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

TEST(Host_Cli, help_lists_every_option) {
  const Cli_Run run = hap_export("--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--plugin", "--param", "--input", "--size", "--rate", "--audio", "--start-timecode",
                             "--frames", "--list-params", "--summary"})
    EXPECT_NE(run.output.find(option), std::string::npos) << option;
}

TEST(Host_Cli, summary_prints_the_three_lines) {
  Cli_Run run = hap_export("--summary --param ADBEVideoCodec=3 --param ComboboxQuality=1 --rate 25");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "1920x1080, 25.00 fps, 1.0000 PAR, HAPQ, normal, Chunks 8\n"
            "PCM 16 bits, Stereo, 48000 Hz)\n"
            "Bitrate estimation not available\n");
  run = hap_export("--summary --audio none --param CheckboxSnappy=0 --param ADBEVideoCodec=5 --size 640x360");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "640x360, 30.00 fps, 1.0000 PAR, HAP AlphaOnly (Luma), No snappy\n\n"
            "Bitrate estimation not available\n");
}

TEST(Host_Cli, list_params_shows_current_values_and_states) {
  const Cli_Run run = hap_export("--list-params --param ADBEVideoCodec=6 --param AudioChannels=2");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("ADBEVideoCodec \"Codec\" integer = 6"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("CheckboxPremult \"Use premultiply alpha\" checkbox = 1 (disabled)"), std::string::npos);
  EXPECT_NE(run.output.find("ComboboxQuality \"Speed/Quality\" integer = 0 (disabled)"), std::string::npos);
  EXPECT_NE(run.output.find("AudioOrders \"Channels order\" integer = 0\n"), std::string::npos);
  EXPECT_NE(run.output.find("idVersion \"Version\" string = \"2.1.6\""), std::string::npos);
}

TEST(Host_Cli, bad_input_is_a_clear_error) {
  const auto raw = std::filesystem::temp_directory_path() / "host_cli_short.bgra";
  std::ofstream(raw, std::ios::binary) << std::string(100, 'x');
  const std::pair<std::string, std::string> cases[] = {
      {"", "no output file"},
      {"--param ADBEVideoCodec=9 out.mov", "ADBEVideoCodec"},
      {"--param NoSuch=1 out.mov", "NoSuch"},
      {"--param ADBEVideoCodec out.mov", "ID=VALUE"},
      {"--param SliderChunkCount=65 out.mov", "SliderChunkCount"},
      {"--size 0x10 out.mov", "width"},
      {"--size 10 out.mov", "--size"},
      {"--rate 0/1 out.mov", "rate"},
      {"--rate 30/x out.mov", "rate"},
      {"--frames -3 out.mov", "frame count"},
      {"--start-timecode 00:00:00:30 out.mov", "timecode"},
      {"--start-timecode 1:2:3 out.mov", "timecode"},
      {"--input /no/such/file out.mov", "/no/such/file"},
      {"--input " + raw.string() + " --size 16x16 out.mov", "less than one"},
      {"--audio /no/such/audio out.mov", "/no/such/audio"},
      {"--plugin /no/such/plugin.so out.mov", "/no/such/plugin.so"},
      {"--bogus out.mov", "--bogus"},
      {"a.mov b.mov", "more than one"},
      {"--frames", "needs a value"},
  };
  for (const auto& [args, mention] : cases) {
    const Cli_Run run = hap_export(args);
    EXPECT_NE(run.status, 0) << args;
    EXPECT_LT(run.status, 128) << args << " crashed";
    EXPECT_NE(run.output.find("error"), std::string::npos) << args << ": " << run.output;
    EXPECT_NE(run.output.find(mention), std::string::npos) << args << ": " << run.output;
  }
  std::filesystem::remove(raw);
}

TEST(Host_Cli, exports_the_given_source_audio_and_timecode) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string frames = (dir / "host_cli_frames.bgra").string(), audio = (dir / "host_cli_audio.f32").string();
  const std::string movie_path = mov_test::temp_movie_path("host_cli_export");
  {
    std::ofstream raw(frames, std::ios::binary);
    for (int i = 0; i < 4 * 64 * 48 * 4; ++i) raw.put(char(i * 13));
    std::ofstream pcm(audio, std::ios::binary);
    for (int i = 0; i < 2 * 8000; ++i) {  // one second of 8000 Hz stereo
      const float v = float(i % 200) / 200.0f - 0.5f;
      pcm.write(reinterpret_cast<const char*>(&v), sizeof v);
    }
  }
  const Cli_Run run = hap_export("--input " + frames + " --size 64x48 --rate 25 --audio " + audio +
                                 " --start-timecode 00:00:10:05 --param ADBEVideoCodec=3 --param AudioSampleRate=8000"
                                 " --param CheckboxTcMetadata=1 " + movie_path);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Wrote "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("4 frames of 64x48 HAPQ"), std::string::npos) << run.output;
  mov_test::Mov_File movie(movie_path);
  EXPECT_EQ(movie.track("vide").sample_count, 4u);
  EXPECT_EQ(movie.track("vide").sample_format, "HapY");
  EXPECT_EQ(mov_test::be32(movie.sample(movie.track("tmcd"), 0).data()), 10u * 25 + 5);
  // 4 frames at 25 fps: 1280 stereo frames of 16-bit audio taken from the file.
  const std::vector<uint8_t> data = movie.track_data(movie.track("soun"));
  ASSERT_GE(data.size(), 1280u * 4);
  const int16_t second = int16_t(data[2] | data[3] << 8);  // sample 1 of the file
  EXPECT_EQ(second, int16_t(std::lround((1.0 / 200 - 0.5) * 32768)));
  std::filesystem::remove(frames);
  std::filesystem::remove(audio);
}

}  // namespace
