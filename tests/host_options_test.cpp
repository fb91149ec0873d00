// hap-export's options as a careless or hostile user gives them: empty
// values, an audio file with a header, lengths and rates the export cannot
// hold, names that hold terminal controls, the help's codec numbers, and a
// stop asked for on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/export_checks.h"
#include "host/printable.h"
#include "host/stand_in_host.h"
#include "host/stdout_tap.h"
#include "tests/support/host_cli_support.h"

namespace {

using namespace std::string_literals;

// A file holding `bytes`, at a path of its own.
std::string file_of(const Temp_Folder& folder, const std::string& name, const std::string& bytes) {
  const std::string path = folder.path + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(Host_Options, an_empty_value_is_refused_not_taken_for_the_default) {
  const Temp_Folder folder("host_options_empty");
  const std::string movie = file_of(folder, "previous.mov", "previous");
  for (const char* option :
       {"--plugin", "--param", "--input", "--size", "--rate", "--audio", "--start-timecode", "--frames"}) {
    const Cli_Run run = hap_export(option + " '' --size 64x64 --frames 2 "s + movie);
    EXPECT_EQ(run.status, 2) << option << ": " << run.output;
    EXPECT_NE(run.output.find(option + " is given an empty value"s), std::string::npos) << run.output;
  }
  for (const char* output : {"''", "-- ''"}) {
    const Cli_Run run = hap_export("--size 64x64 --frames 2 "s + output);
    EXPECT_EQ(run.status, 2) << output;
    EXPECT_NE(run.output.find("the output file name is empty"), std::string::npos) << run.output;
  }
  EXPECT_EQ(text_of(movie), "previous");
  EXPECT_TRUE(folder.staged().empty());
}

// --- Audio files that are not raw float samples ----------------------------

TEST(Host_Options, audio_containers_are_told_by_their_signatures) {
  const std::pair<std::string, std::string_view> containers[] = {
      {"RIFF\x24\x10\0\0WAVEfmt "s, "WAVE"},
      {"RF64\xFF\xFF\xFF\xFFWAVEds64"s, "RF64 WAVE"},
      {"BW64\xFF\xFF\xFF\xFFWAVEds64"s, "BW64 WAVE"},
      {"FORM\0\0\x10\0AIFFCOMM"s, "AIFF"},
      {"FORM\0\0\x10\0AIFCFVER"s, "AIFF-C"},
      {"fLaC\0\0\0\x22\x10\0\x10\0"s, "FLAC"},
      {"fLaC\x80\0\0\x22\x10\0\x10\0"s, "FLAC"},  // the stream info is the only block
      {"OggS\0\x02\0\0\0\0\0\0"s, "Ogg"},
      {"caff\0\x01\0\0desc"s, "CAF"},
      {".snd\0\0\0\x18\xFF\xFF\xFF\xFF"s, "Sun/NeXT audio"},
      {"ID3\x03\0\0\0\0\x10\x7F"s, "MP3 (ID3v2.3)"},
      {"ID3\x04\0\0\0\0\x10\x7F"s, "MP3 (ID3v2.4)"},
      {"\0\0\0\x20" "ftypM4A "s, "MPEG-4 or QuickTime"},
  };
  for (const auto& [head, container] : containers) EXPECT_EQ(host::audio_container(head), container) << head;
  // Raw samples that come close: a quiet sine, bare MPEG frame syncs (the low
  // bytes of floats), headers cut short, and a RIFF that is no WAVE.
  std::string sine(12, '\0');
  for (int i = 0; i < 3; ++i) {
    const float sample = 0.25f * float(i + 1);
    std::memcpy(sine.data() + 4 * i, &sample, 4);
  }
  for (const std::string& raw : {sine, "\xFF\xFB\x90\x3F\xFF\xF1\x50\xBF\0\0\0\0"s, "RIFF\x24\x10\0\0AVI "s,
                                 "OggS"s, "ID3\x05\0\0"s, "fLaC\0\0\0\x21"s, "RIFF\x24\x10\0\0WAV"s, ""s})
    EXPECT_EQ(host::audio_container(raw), "") << raw;
}

TEST(Host_Options, a_wave_file_given_as_raw_audio_is_refused) {
  const Temp_Folder folder("host_options_wave");
  const std::string wave = file_of(folder, "tone.wav", "RIFF\x24\x10\0\0WAVEfmt "s + std::string(4096, '\x11'));
  const std::string movie = file_of(folder, "previous.mov", "previous");
  const Cli_Run run = hap_export("--size 64x64 --frames 2 --audio " + wave + " " + movie);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("--audio " + wave + " is a WAVE file; --audio takes raw interleaved 32-bit float"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(text_of(movie), "previous");
}

// --- Lengths and rates against the host's ticks and the movie's fields -----

// The plug-in's parameters for a source of `frames` frames at `rate`, as
// hap-export sets them before an export.
struct Duration_Limits : testing::Test {
  host::Stand_In_Host host;
  host::Plugin plugin{HAP_PLUGIN_PATH};
  host::Session session{host, plugin};

  // Why an export of `frames` source frames at `rate` (N/D) cannot be held,
  // with the given parameters set; empty when it can.
  std::string problem(int64_t numerator, int64_t denominator, int64_t frames, bool audio,
                      const std::vector<std::pair<std::string, std::string>>& params = {}) {
    host.source.rate_numerator = numerator;
    host.source.rate_denominator = denominator;
    host.source.frame_count = frames;
    host.params = {};  // made afresh from this source
    EXPECT_EQ(session.begin_instance(), 0);
    EXPECT_EQ(session.generate_default_params(), 0);
    EXPECT_EQ(session.post_process_params(), 0);
    host::Rate_Texts rates{std::to_string(numerator) + "/" + std::to_string(denominator), ""};
    rates.export_rate = rates.source;
    for (const auto& [id, text] : params) {
      EXPECT_EQ(session.change_param(id, text), 0) << id;
      if (id == "ADBEVideoFPS") rates.export_rate = text;
    }
    const std::string why = host::duration_problem(host, audio, rates);
    session.end_instance();
    return why;
  }
};

TEST_F(Duration_Limits, the_sequence_must_fit_the_host_ticks) {
  // A second to spare under 2^63 ticks, at 254016000000000 ticks a frame.
  const auto export_at_1 = std::vector<std::pair<std::string, std::string>>{{"ADBEVideoFPS", "1"}};
  EXPECT_EQ(problem(1, 1, 36310200, false), "");
  EXPECT_NE(problem(1, 1, 36310201, false), "");
  EXPECT_EQ(problem(1, 1000, 36310, false, export_at_1), "");
  EXPECT_EQ(problem(1, 1000, 36311, false, export_at_1),
            "36311 frames at 1/1000 frames per second last longer than the host counts in its 64-bit ticks of "
            "1/254016000000 second: at most 36310 frames at this rate");
}

// The plug-in keeps a rate that is not whole in thousandths, so the slowest
// it takes is half a thousandth of a frame a second, rounded up.
TEST_F(Duration_Limits, the_export_rate_must_be_one_the_movie_holds) {
  EXPECT_EQ(problem(1, 1, 10, false), "");
  EXPECT_EQ(problem(1, 2, 10, false), "");
  EXPECT_EQ(problem(1, 2000, 10, false), "");
  EXPECT_EQ(problem(1, 2001, 10, false),
            "the export frame rate 1/2001 frames per second is slower than the movie holds: it keeps a rate in "
            "thousandths of a frame per second");
  EXPECT_EQ(problem(1, 2001, 10, false, {{"ADBEVideoFPS", "1"}}), "");
  // Beyond the movie's 32-bit time scale.
  EXPECT_EQ(problem(30, 1, 10, false, {{"ADBEVideoFPS", "4233600000"}}), "");  // 60 ticks a frame
  EXPECT_EQ(problem(30, 1, 10, false, {{"ADBEVideoFPS", "5000000000"}}),
            "the export frame rate 5000000000 frames per second is faster than the movie's 32-bit time scale holds");
  // The plug-in takes it to 42922608990 thousandths, too many for it, though
  // the movie would keep it in hundredths.
  EXPECT_NE(problem(30, 1, 10, false, {{"ADBEVideoFPS", "4292260899/100"}}), "");
}

// Every duration of the movie is frames x the rate's denominator in 32 bits;
// the denominator is 1 for whole rates, 1001 for the NTSC ones, and for the
// rest the fewest of 1000, 100 or 10 that hold the rate exactly.
TEST_F(Duration_Limits, the_movie_durations_must_fit_32_bits) {
  EXPECT_EQ(problem(30, 1, 100000000, false), "");
  EXPECT_EQ(problem(30000, 1001, 4290676, false), "");
  EXPECT_EQ(problem(30000, 1001, 4290677, false),
            "4290677 frames at 30000/1001 frames per second are more than the movie's 32-bit durations hold: at most "
            "4290676 frames at this rate");
  EXPECT_EQ(problem(100, 3, 4294967, false), "");
  EXPECT_NE(problem(100, 3, 4294968, false), "");
  EXPECT_EQ(problem(2997, 100, 42949672, false), "");
  EXPECT_NE(problem(2997, 100, 42949673, false), "");
  EXPECT_EQ(problem(25, 2, 429496729, false), "");
  EXPECT_NE(problem(25, 2, 429496730, false), "");
  // The export's frames count, at the export's rate.
  EXPECT_EQ(problem(1, 1, 4294967, false, {{"ADBEVideoFPS", "1000"}}), "");
  EXPECT_EQ(problem(1, 1, 4294968, false, {{"ADBEVideoFPS", "1000"}}),
            "4294968000 frames at 1000 frames per second are more than the movie's 32-bit durations hold: at most "
            "4294967295 frames at this rate");
}

TEST_F(Duration_Limits, the_audio_must_fit_32_bits_of_samples) {
  // 1600 samples a frame at 30 frames per second and 48000 Hz.
  EXPECT_EQ(problem(30, 1, 2684354, true), "");
  EXPECT_EQ(problem(30, 1, 2684355, true),
            "the audio of 2684355 frames at 30/1 frames per second is 4294968000 samples at 48000 Hz, more than an "
            "audio track holds (4294967295); give fewer frames or --audio none");
  EXPECT_EQ(problem(30, 1, 2684355, false), "");
  // 1601.6 samples a frame at 29.97.
  EXPECT_EQ(problem(30000, 1001, 2681672, true), "");
  EXPECT_NE(problem(30000, 1001, 2681673, true), "");
  // 1066.67 samples a frame at 32000 Hz, rounded: 4294966400, then 4294967467.
  EXPECT_EQ(problem(30, 1, 4026531, true, {{"AudioSampleRate", "32000"}}), "");
  EXPECT_NE(problem(30, 1, 4026532, true, {{"AudioSampleRate", "32000"}}), "");
  // 4294967295.6 samples are rounded up, past the limit.
  EXPECT_EQ(problem(159, 1, 85362474, true, {{"AudioSampleRate", "8000"}}), "");
  EXPECT_NE(problem(159, 1, 85362475, true, {{"AudioSampleRate", "8000"}}), "");
}

TEST(Host_Options, lengths_and_rates_that_cannot_be_held_are_refused_in_the_user_units) {
  const Temp_Folder folder("host_options_limits");
  const std::string movie = file_of(folder, "previous.mov", "previous");
  const std::pair<std::string, std::string> cases[] = {
      {"--rate 1/1000 --frames 36500", "36500 frames at 1/1000 frames per second last longer"},
      {"--rate 1/10 --frames 10000000", "10000000 frames at 1/10 frames per second last longer"},
      {"--rate 1/10000", "the export frame rate 1/10000 frames per second is slower than the movie holds"},
      {"--rate 30000/1001 --frames 4290677 --audio none", "at most 4290676 frames at this rate"},
      {"--frames 10000000", "is 16000000000 samples at 48000 Hz"},
      {"--rate 1/1000 --start-timecode 99:00:00:00", "start timecode 99:00:00:00 at 1/1000 frames per second"},
  };
  for (const auto& [args, said] : cases) {
    const Cli_Run run = hap_export("--size 64x64 " + args + " " + movie);
    EXPECT_EQ(run.status, 2) << args << ": " << run.output;
    EXPECT_NE(run.output.find(said), std::string::npos) << args << ": " << run.output;
  }
  EXPECT_EQ(text_of(movie), "previous");
  EXPECT_TRUE(folder.staged().empty());
}

// --- Names as they are printed -----------------------------------------------

TEST(Host_Options, printable_escapes_controls_and_leaves_plain_names) {
  for (const std::string plain : {"movie.mov", "/tmp/a b/été.mov", "", "100% [1]"})
    EXPECT_EQ(host::printable(plain), plain);
  EXPECT_EQ(host::printable("a\nb\rc\td"), "a\\nb\\rc\\td");
  EXPECT_EQ(host::printable("\x1b[2J\x07\x7f"), "\\x1B[2J\\x07\\x7F");
  EXPECT_EQ(host::printable("\0x"s), "\\x00x");
  // U+009B, the one-byte control sequence opener, written as UTF-8; U+00A0 is
  // no control.
  EXPECT_EQ(host::printable("a\xC2\x9B" "31m\xC2\xA0"), "a\\xC2\\x9B31m\xC2\xA0");
  EXPECT_EQ(host::printable("\xC2"), "\xC2");
  // A backslash of the name is told from an escape.
  EXPECT_EQ(host::printable("a\\nb"), "a\\\\nb");
}

TEST(Host_Options, names_with_controls_reach_the_terminal_escaped) {
  const Temp_Folder folder("host_options_names");
  const std::string odd = "in\x1b[31mput\nname";  // single-quoted for the shell
  const std::string escaped = "in\\x1B[31mput\\nname";
  const std::pair<std::string, std::string> cases[] = {
      {"--input '" + odd + "' out.mov", "cannot read --input " + escaped},
      {"--audio '" + odd + "' out.mov", "cannot read --audio " + escaped},
      {"--plugin '" + folder.path + "/" + odd + "' " + folder.path + "/out.mov", escaped},
      {"--rate '" + odd + "' out.mov", "\"" + escaped + "\""},
      {"--param 'ADBEVideoCodec=" + odd + "' out.mov", "\"" + escaped + "\""},
      {"'--" + odd + "' out.mov", "unknown option --" + escaped},
      {"--size 64x64 --frames 1 --audio none '" + folder.path + "/" + odd + ".mov'",
       "Wrote " + folder.path + "/" + escaped + ".mov: "},
  };
  for (const auto& [args, said] : cases) {
    const Cli_Run run = hap_export(args);
    EXPECT_NE(run.output.find(said), std::string::npos) << args << ": " << run.output;
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << args << ": " << run.output;
  }
  EXPECT_GT(frames_of(folder.path + "/" + odd + ".mov"), 0u);
}

// What the plug-in prints reaches the terminal a line at a time, made
// printable (it prints paths, whose folders the user names), without what
// only tells of a stop the user asked for; it is kept as it was said.
TEST(Host_Options, the_plug_in_lines_are_passed_on_printable) {
  const Tapped tapped = through_a_tap("", "", [](const std::string& passed_on) {
    std::printf("Can't open target file (write) : /tmp/a\x1b[2Jb/.hap-export-x\n");
    std::printf("Exception : video export failed\n");
    std::fflush(stdout);
    // Lines are weighed as they are passed on: these before the stop.
    EXPECT_TRUE(wait_until([&] { return text_of(passed_on).ends_with("failed\n"); }));
    host::interrupt_signal = SIGINT;
    std::printf("WARNING : audio stopped at sample 10 of 20, the rest is silent\n");
    std::printf("Exception : video export failed\n");
    std::printf("Reason : no end");
    std::fflush(stdout);
  });
  host::interrupt_signal = 0;
  EXPECT_EQ(tapped.passed_on,
            "Can't open target file (write) : /tmp/a\\x1B[2Jb/.hap-export-x\n"
            "Exception : video export failed\n"
            "Reason : no end");
  EXPECT_EQ(tapped.kept,
            (std::vector<std::string>{"Can't open target file (write) : /tmp/a\x1b[2Jb/.hap-export-x",
                                      "Exception : video export failed",
                                      "WARNING : audio stopped at sample 10 of 20, the rest is silent",
                                      "Exception : video export failed", "Reason : no end"}));
}

// --- Help ------------------------------------------------------------------------

// The help's codec and quality numbers are the plug-in's, with its labels.
TEST(Host_Options, help_names_the_codec_and_quality_values_as_the_plug_in_lists_them) {
  std::string help = hap_export("--help").output;
  // Joined across the help's wrapped lines.
  help = std::regex_replace(help, std::regex("\\s+"), " ");
  const std::string params = hap_export("--list-params").output;
  for (const char* id : {"ADBEVideoCodec", "ComboboxQuality"}) {
    const size_t at = params.find("  " + std::string(id) + " ");
    ASSERT_NE(at, std::string::npos) << params;
    std::istringstream lines(params.substr(params.find('\n', at) + 1));
    int listed = 0;
    const std::regex choice(R"re(^ +(-?\d+) "(.*)"$)re");
    std::smatch match;
    for (std::string line; std::getline(lines, line) && std::regex_match(line, match, choice); ++listed)
      EXPECT_NE(help.find(match[1].str() + " " + match[2].str()), std::string::npos) << id << ": " << line;
    EXPECT_GE(listed, 3) << id;
  }
}

// --- A stop asked for on a terminal ----------------------------------------

// Ctrl-C on the terminal stops the export: the user sees the progress line,
// that the stop is under way and how it ended, and nothing of the plug-in's
// that reads as a failure.
TEST(Host_Options, a_stop_on_a_terminal_is_said_plainly) {
  const Temp_Folder folder("host_options_terminal");
  const std::string movie = folder.path + "/movie.mov";
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    for (int signal = 1; signal < NSIG; ++signal) std::signal(signal, SIG_DFL);
    execl(HAP_EXPORT_PATH, "hap-export", "--frames", "1000000", "--size", "64x64", "--audio", "none", movie.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  std::atomic<bool> progress_shown = false;
  // Read as it comes, so the program never waits on a full terminal.
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) {
      seen.append(buffer, size_t(got));
      if (seen.find("\rframe ") != std::string::npos) progress_shown = true;
    }
  });
  const bool shown = wait_until([&] { return progress_shown.load(); });
  if (shown)
    EXPECT_EQ(write(terminal, "\x03", 1), 1);  // Ctrl-C
  else
    kill(pid, SIGKILL);
  const int status = exit_status(pid);
  reader.join();
  close(terminal);
  ASSERT_TRUE(shown);
  EXPECT_EQ(status, 128 + SIGINT);

  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = seen.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(seen.substr(start, end - start));
  ASSERT_GE(lines.size(), 3u) << seen;
  const size_t last = lines.size() - 1;
  EXPECT_TRUE(std::regex_match(lines[last - 2], std::regex("(\rframe \\d+/1000000, [\\d.]+ fps )+(\\^C)?")))
      << lines[last - 2];
  EXPECT_EQ(lines[last - 1],
            "hap-export: stopping once the frames in flight are written; Ctrl-C again abandons the export");
  EXPECT_TRUE(std::regex_match(lines[last], std::regex("hap-export: the frames written before were finalised into " +
                                                       movie + " \\(\\d+ bytes\\); interrupted by signal 2 "
                                                               "\\(Interrupt\\)")))
      << lines[last];
  EXPECT_EQ(seen.find("Exception"), std::string::npos) << seen;
  EXPECT_GT(frames_of(movie), 0u);
}

}  // namespace
