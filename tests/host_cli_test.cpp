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
  const std::pair<const char*, const char*> cases[] = {
      {"--summary --param ADBEVideoCodec=3 --param ComboboxQuality=1 --rate 25",
       "1920x1080, 25.00 fps, 1.0000 PAR, HAPQ, normal, Chunks 8\nPCM 16 bits, Stereo, 48000 Hz)\n"
       "Bitrate estimation not available\n"},
      {"--summary --audio none --param CheckboxSnappy=0 --param ADBEVideoCodec=5 --size 640x360",
       "640x360, 30.00 fps, 1.0000 PAR, HAP AlphaOnly (Luma), No snappy\n\nBitrate estimation not available\n"}};
  for (const auto& [args, lines] : cases) {
    const Cli_Run run = hap_export(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, lines);
  }
}

TEST(Host_Cli, list_params_shows_current_values_and_states) {
  const Cli_Run run = hap_export("--list-params --param ADBEVideoCodec=6 --param AudioChannels=2");
  EXPECT_EQ(run.status, 0);
  for (const char* line :
       {R"(ADBEVideoCodec "Codec" integer = 6)", R"(CheckboxPremult "Use premultiply alpha" checkbox = 1 (disabled))",
        R"(ComboboxQuality "Speed/Quality" integer = 0 (disabled))", "AudioOrders \"Channels order\" integer = 0\n",
        R"(idVersion "Version" string = "2.1.6")"})
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
}

TEST(Host_Cli, bad_input_is_a_clear_error) {
  const std::string raw = temp_path("host_cli_short.bgra");
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
      {"--input " + raw + " --size 16x16 out.mov", "less than one"},
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
  const Temp_File frames_file("host_cli_frames.bgra"), audio_file("host_cli_audio.f32"),
      movie_file("host_cli_export.mov");
  const std::string &frames = frames_file.path, &audio = audio_file.path, &movie_path = movie_file.path;
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
                                 " --param CheckboxTcMetadata=1 " +
                                 movie_path);
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
}

}  // namespace
