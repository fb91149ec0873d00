// hap-export's command line: help, summaries, parameter listing, clear
// errors with a non-zero exit for bad input, and an output path that holds
// either what was there before or a whole movie, whatever happens to the export.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/host_cli_support.h"
#include "tests/support/mov_inspector.h"

namespace {

TEST(Host_Cli, help_lists_every_option) {
  const Cli_Run run = hap_export("--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--plugin", "--param", "--input", "--size", "--rate", "--audio", "--start-timecode",
                             "--frames", "--list-params", "--summary"})
    EXPECT_NE(run.output.find(option), std::string::npos) << option;
  // What a user must know and cannot guess: the 5.1 channel order, and the
  // name of a temporary file a killed export leaves.
  for (const char* fact : {"L, R, C, Lfe, Ls, Rs", ".hap-export-", "SIGQUIT"})
    EXPECT_NE(run.output.find(fact), std::string::npos) << fact;
}

TEST(Host_Cli, summary_prints_the_three_lines) {
  const std::pair<const char*, const char*> cases[] = {
      {"--summary --param ADBEVideoCodec=3 --param ComboboxQuality=1 --rate 25",
       "1920x1080, 25.00 fps, 1.0000 PAR, HAPQ, normal, Chunks 8\nPCM 16 bits, Stereo, 48000 Hz)\n"
       "Bitrate estimation not available\n"},
      {"--summary --audio none --param CheckboxSnappy=0 --param ADBEVideoCodec=5 --size 640x360",
       "640x360, 30.00 fps, 1.0000 PAR, HAP AlphaOnly (Luma), No snappy\n\nBitrate estimation not available\n"},
      // The chunk count as set, though a frame this small has fewer block
      // rows, or fewer blocks, than chunks.
      {"--summary --audio none --size 64x16 --param SliderChunkCount=8",
       "64x16, 30.00 fps, 1.0000 PAR, HAP, fast, Chunks 8\n\nBitrate estimation not available\n"},
      {"--summary --audio none --size 20x12 --param SliderChunkCount=64 --param ADBEVideoCodec=5",
       "20x12, 30.00 fps, 1.0000 PAR, HAP AlphaOnly (Luma), Chunks 64\n\nBitrate estimation not available\n"}};
  for (const auto& [args, lines] : cases) {
    const Cli_Run run = hap_export(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, lines);
  }
}

// Listing the parameters stops there, even with an output named.
TEST(Host_Cli, list_params_with_an_output_lists_and_stops) {
  const Temp_Folder folder("host_cli_list");
  const Cli_Run run = hap_export("--list-params --frames 2 --size 64x64 " + folder.path + "/movie.mov");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("ADBEVideoCodec"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Wrote "), std::string::npos) << run.output;
  EXPECT_FALSE(std::filesystem::exists(folder.path + "/movie.mov"));
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
  // Files the export reads, which it must never write, under other names too.
  const Temp_Folder folder("host_cli_sources");
  const std::string source = folder.path + "/source.raw", linked = folder.path + "/linked.raw",
                    alias = folder.path + "/alias.mov", pipe = folder.path + "/pipe";
  std::ofstream(source, std::ios::binary) << std::string(64 * 64 * 4, 's');
  std::filesystem::create_hard_link(source, linked);
  std::filesystem::create_symlink(source, alias);
  mkfifo(pipe.c_str(), 0600);
  const std::string input = "--size 64x64 --input " + source + " ";
  const std::pair<std::string, std::string> cases[] = {
      {"", "no output file"},
      {"--param ADBEVideoCodec=9 out.mov", "ADBEVideoCodec"},
      {"--param NoSuch=1 out.mov", "NoSuch"},
      {"--param ADBEVideoCodec out.mov", "ID=VALUE"},
      {"--param SliderChunkCount=65 out.mov", "SliderChunkCount"},
      {"--param ADBEVideoCodec=4294967297 out.mov", "\"4294967297\" for ADBEVideoCodec: outside 1..8"},
      {"--param SliderChunkCount=-99999999999999999999 out.mov", "outside 1..64"},
      {"--size 0x10 out.mov", "width"},
      {"--size 10 out.mov", "--size"},
      {"--rate 0/1 out.mov", "rate"},
      {"--rate 30/x out.mov", "rate"},
      {"--frames -3 out.mov", "frame count"},
      {"--start-timecode 00:00:00:30 out.mov", "timecode"},
      {"--start-timecode 1:2:3 out.mov", "timecode"},
      {"--start-timecode -0:00:00:00 out.mov", "timecode hours"},
      {"--start-timecode 00:00:+1:00 out.mov", "timecode seconds"},
      {"--input /no/such/file out.mov", "/no/such/file"},
      {"--input " + raw + " --size 16x16 out.mov", "less than one"},
      {"--audio /no/such/audio out.mov", "/no/such/audio"},
      {"--plugin /no/such/plugin.so out.mov", "/no/such/plugin.so"},
      {"--bogus out.mov", "--bogus"},
      {"a.mov b.mov", "more than one"},
      {"--frames", "needs a value"},
      {input + source, "is the --input file"},
      {input + linked, "is the --input file"},
      {input + alias, "is the --input file"},
      {"--audio " + source + " " + linked, "is the --audio file"},
      {"--audio " + folder.path + " " + folder.path + "/out.mov", "is not a regular file"},
      {"--audio " + pipe + " " + folder.path + "/out.mov", "is not a regular file"},
      {pipe, "is not a regular file"},
      {folder.path, "is not a regular file"},
      {"/dev/null", "is not a regular file"},
      {folder.path + "/" + std::string(250, 'd') + "/out.mov", "too long"},
  };
  for (const auto& [args, mention] : cases) {
    const Cli_Run run = hap_export(args);
    EXPECT_NE(run.status, 0) << args;
    EXPECT_LT(run.status, 128) << args << " crashed";
    EXPECT_NE(run.output.find("error"), std::string::npos) << args << ": " << run.output;
    EXPECT_NE(run.output.find(mention), std::string::npos) << args << ": " << run.output;
  }
  std::filesystem::remove(raw);
  EXPECT_EQ(text_of(source), std::string(64 * 64 * 4, 's'));
  EXPECT_TRUE(folder.staged().empty());
}

// What can be refused from the command line alone is refused at once, as bad
// usage, before any frame is made: a name longer than the file system takes,
// a frame size out of the exporter's range, the plug-in as the output.
TEST(Host_Cli, refusals_come_before_the_export) {
  const Temp_Folder folder("host_cli_refusals");
  // Copies, so that a failure replaces no file the tests need.
  const std::string copies = program_copies(folder.path);
  const std::string plugin = folder.path + "/plugin.so", linked = folder.path + "/plugin.mov";
  std::filesystem::create_hard_link(plugin, linked);
  std::string cjk;
  for (int i = 0; i < 90; ++i) cjk += "\xe6\xbc\xa2";  // U+6F22, 3 bytes in UTF-8
  const std::string movie = " " + folder.path + "/movie.mov";
  const std::pair<std::string, std::string> cases[] = {
      {folder.path + "/" + std::string(260, 'n'), "too long: 260 bytes"},
      {folder.path + "/" + cjk + ".mov", "too long: 274 bytes"},
      {"--size 2x2" + movie, "width"},
      {"--size 64x3" + movie, "height"},
      {"--size 16385x64" + movie, "width"},
      {"--plugin " + plugin + " " + plugin, "is the plug-in file"},
      {"--plugin " + plugin + " " + linked, "is the plug-in file"},
  };
  for (const auto& [args, mention] : cases) {
    const Cli_Run run = hap_export("--frames 2 --audio none " + args);
    EXPECT_EQ(run.status, 2) << args << ": " << run.output;
    EXPECT_NE(run.output.find(mention), std::string::npos) << args << ": " << run.output;
    EXPECT_EQ(run.output.find("Quality"), std::string::npos) << args << ": the export ran\n" << run.output;
  }
  EXPECT_TRUE(read_file(plugin) == read_file(HAP_PLUGIN_PATH));
  // The running program, by its own name or another.
  const std::string program = folder.path + "/hap-export", program_link = folder.path + "/program.mov";
  std::filesystem::create_hard_link(program, program_link);
  for (const std::string& output : {program, program_link}) {
    const Cli_Run run = shell(copies + " --frames 2 --audio none " + output);
    EXPECT_EQ(run.status, 2) << output << ": " << run.output;
    EXPECT_NE(run.output.find("is the hap-export program file"), std::string::npos) << output << ": " << run.output;
  }
  EXPECT_TRUE(read_file(program) == read_file(HAP_EXPORT_PATH));
  EXPECT_FALSE(std::filesystem::exists(folder.path + "/movie.mov"));
  EXPECT_TRUE(folder.staged().empty());
}

// A link as the output stays a link, and the file at the end of its chain is
// written, whether it exists or not.
TEST(Host_Cli, a_link_as_the_output_writes_the_file_it_names) {
  const Temp_Folder folder("host_cli_links");
  const std::string target = folder.path + "/target.mov", first = folder.path + "/first.mov",
                    second = folder.path + "/second.mov";
  std::filesystem::create_symlink("target.mov", first);
  std::filesystem::create_symlink(first, second);
  for (const bool exists : {false, true}) {
    if (exists) std::ofstream(target) << "previous";
    const Cli_Run run = hap_export("--frames 2 --size 64x64 --audio none " + second);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(std::filesystem::is_symlink(second) && std::filesystem::is_symlink(first)) << exists;
    EXPECT_EQ(frames_of(target), 2u) << exists;
    EXPECT_TRUE(folder.staged().empty());
    std::filesystem::remove(target);
  }
}

// The movie gets its final mode once written: a read-only movie can be
// exported again and a umask that forbids writing does not stop an export
// (as an ordinary user: root may write any file, which hides this), and the
// set-ID bits of a replaced file never pass to the new movie of another owner.
TEST(Host_Cli, the_movie_gets_its_mode_once_written) {
  const Temp_Folder folder("host_cli_modes");
  const bool root = geteuid() == 0;
  constexpr uid_t nobody = 65534;
  std::string ordinary_user, program = HAP_EXPORT_PATH + std::string(" --plugin ") + HAP_PLUGIN_PATH;
  if (root) {
    if (shell("command -v setpriv").status != 0) GTEST_SKIP() << "setpriv is needed to run as an ordinary user";
    ordinary_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    ASSERT_EQ(chown(folder.path.c_str(), nobody, nobody), 0);
    program = program_copies(folder.path);
    if (!reachable_by(ordinary_user, folder.path))
      GTEST_SKIP() << "nobody cannot reach " << folder.path << " to run hap-export";
  }
  const std::string movie = folder.path + "/movie.mov";
  struct Case {
    const char* umask;
    mode_t before, after;  // before 0: no file to replace
    bool as_ordinary_user;
  };
  for (const Case& c : {Case{"022", 0444, 0444, true}, Case{"022", 0400, 0400, true}, Case{"222", 0, 0444, true},
                        Case{"077", 0640, 0640, true}, Case{"022", 04755, 0755, false},
                        Case{"022", 06775, 0775, false}}) {
    std::filesystem::remove(movie);
    if (c.before) {
      std::ofstream(movie) << "previous";
      if (root) {
        ASSERT_EQ(chown(movie.c_str(), nobody, nobody), 0);
      }
      ASSERT_EQ(chmod(movie.c_str(), c.before), 0);
    }
    const Cli_Run run = shell(std::string("umask ") + c.umask + "; " + (c.as_ordinary_user ? ordinary_user : "") +
                              program + " --frames 2 --size 64x64 --audio none " + movie);
    EXPECT_EQ(run.status, 0) << std::oct << c.before << " umask " << c.umask << ": " << run.output;
    struct stat status {};
    ASSERT_EQ(stat(movie.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.after) << std::oct << c.before << " umask " << c.umask;
    EXPECT_EQ(frames_of(movie), 2u);
    EXPECT_TRUE(folder.staged().empty());
  }
}

// The movie reaches the disk before it replaces the output, and the rename
// with its folder after, as safe-save tools do.
TEST(Host_Cli, the_movie_is_synced_before_the_rename_and_the_folder_after) {
  if (!strace_runs()) GTEST_SKIP() << "strace cannot run here";
  const Temp_Folder folder("host_cli_sync");
  const std::string trace = folder.path + "/trace";
  const Cli_Run run = shell(traced + "-o " + trace + " -e trace=fsync,fdatasync,rename,renameat,renameat2 " +
                            HAP_EXPORT_PATH + " --frames 2 --size 64x64 --audio none " + folder.path + "/movie.mov");
  ASSERT_EQ(run.status, 0) << run.output;
  // S for a sync, R for a rename, in the order they began.
  std::string calls;
  std::istringstream lines(text_of(trace));
  for (std::string line; std::getline(lines, line);) {
    if (line.find("resumed>") != std::string::npos) continue;
    if (line.find("sync(") != std::string::npos) calls += 'S';
    if (line.find("rename") != std::string::npos) calls += 'R';
  }
  EXPECT_NE(calls.find("SRS"), std::string::npos) << calls << "\n" << text_of(trace);
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

namespace {

// Whatever stops an export, the output holds the file it held before or a
// movie the inspector reads; a failure never reports success.
TEST(Host_Cli, a_failed_export_leaves_the_previous_output) {
  const Temp_Folder folder("host_cli_failed");
  const std::string movie = folder.path + "/movie.mov";
  // A file size limit (in blocks of 512 bytes) stands for a full disk, whose
  // reason is told last: with 0 blocks the movie's first bytes fail, as the
  // export sets up; with 1 block the first frame fails and nothing can be
  // finalised; with 40 the frames before the failure and their header fit.
  // The signal the limit sends must not end the program. A limit of 0 stops a
  // checking run-time that writes a file of its own at start (the thread
  // checker's) before the program runs.
  const bool starts_at_0 = shell("ulimit -f 0; " + std::string(HAP_EXPORT_PATH) + " --help").status == 0;
  for (const int blocks : {0, 1, 40}) {
    if (blocks == 0 && !starts_at_0) continue;
    std::ofstream(movie) << "previous";
    const Cli_Run run = shell("ulimit -f " + std::to_string(blocks) + "; " + std::string(HAP_EXPORT_PATH) +
                              " --frames 60 --size 64x64 --audio none " + movie);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(last_line(run.output).ends_with(std::string("export failed with result ") +
                                                (blocks == 0 ? "3" : "99") + ": Error file write : File too large"))
        << run.output;
    EXPECT_EQ(run.output.find("Wrote "), std::string::npos) << run.output;
    if (blocks < 40) {
      EXPECT_NE(run.output.find("no movie was written, " + movie + " is left as it was"), std::string::npos)
          << run.output;
      EXPECT_TRUE(text_of(movie) == "previous");
    } else {
      EXPECT_NE(run.output.find("the frames written before were finalised into " + movie), std::string::npos)
          << run.output;
      const uint32_t frames = frames_of(movie);
      EXPECT_TRUE(frames > 0 && frames < 60) << frames;
    }
    EXPECT_TRUE(folder.staged().empty());
  }
}

// Out of memory is said as such wherever it strikes (the slot encoders, the
// texture buffers, a frame copy), not only as the step that failed.
TEST(Host_Cli, out_of_memory_is_said) {
#ifdef HAP_SANITIZED
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under ulimit -v";
#endif
  const Temp_Folder folder("host_cli_memory");
  // The first ones: so little memory that the thread taking the signals, or
  // the one passing on the plug-in's output, cannot start. Then a 4K export
  // whose encoder cannot be set up, a failure the plug-in sums up without
  // calling it out of memory. The last ones: a 4K source on one processor,
  // whose frame buffers no longer fit once the export runs. Where each
  // happens moves a little with the machine's libraries, hence several limits.
  const std::pair<const char*, const char*> cases[] = {
      {"10000", "--size 64x64"},
      {"12000", "--size 64x64"},
      {"17000", "--size 64x64"},
      {"19000", "--size 64x64"},
      {"21000", "--size 64x64"},
      {"28000", "--size 3840x2160 --param ADBEVideoCodec=4"},
      {"32000", "--size 3840x2160 --param ADBEVideoCodec=4"},
      {"1000000", "--size 64x64 --param ADBEVideoWidth=16384 --param ADBEVideoHeight=8192 --param ADBEVideoCodec=1"},
      {"1000000", "--size 64x64 --param ADBEVideoWidth=16384 --param ADBEVideoHeight=8192 --param ADBEVideoCodec=4"},
      {"130000", "--size 3840x2160 --param ADBEVideoCodec=4"},
      {"140000", "--size 3840x2160 --param ADBEVideoCodec=4"},
      {"150000", "--size 3840x2160 --param ADBEVideoCodec=4"}};
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int first_cpu = 0;
  while (!CPU_ISSET(first_cpu, &allowed)) ++first_cpu;
  const std::string one_processor = "taskset -c " + std::to_string(first_cpu) + " ";
  for (const auto& [limit, args] : cases) {
    const Cli_Run run = shell(std::string("ulimit -v ") + limit + "; " + one_processor + HAP_EXPORT_PATH +
                              " --frames 3 --audio none " + args + " " + folder.path + "/movie.mov");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(last_line(run.output).ends_with(": out of memory")) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.path + "/movie.mov"));
}

// Each of several exports to one path at once writes its own movie and puts it
// in place whole: short ones started while a long one runs must not cut it up.
TEST(Host_Cli, concurrent_exports_to_one_path_leave_one_whole_movie) {
  const Temp_Folder folder("host_cli_concurrent");
  const std::string movie = folder.path + "/movie.mov", args = "--size 256x256 --audio none --frames ";
  // The movies each export makes alone.
  for (const char* frames : {"12", "400"})
    ASSERT_EQ(hap_export(args + frames + " " + folder.path + "/alone" + frames + ".mov").status, 0);
  const pid_t long_export = start_hap_export(args + "400 " + movie, folder.path + "/log");
  ASSERT_TRUE(wait_for_bytes(folder, movie, 1000000, long_export));
  std::vector<pid_t> short_exports;
  for (int i = 0; i < 3; ++i)
    short_exports.push_back(start_hap_export(args + "12 " + movie, folder.path + "/log" + std::to_string(i)));
  const std::string short_size = std::to_string(std::filesystem::file_size(folder.path + "/alone12.mov"));
  for (size_t i = 0; i < short_exports.size(); ++i) {
    EXPECT_EQ(exit_status(short_exports[i]), 0);
    EXPECT_NE(text_of(folder.path + "/log" + std::to_string(i)).find(": " + short_size + " bytes, 12 frames"),
              std::string::npos);
  }
  EXPECT_EQ(exit_status(long_export), 0);
  const std::vector<uint8_t> bytes = read_file(movie);
  EXPECT_TRUE(bytes == read_file(folder.path + "/alone12.mov") || bytes == read_file(folder.path + "/alone400.mov"));
  EXPECT_TRUE(folder.staged().empty());
}

// The size an export says it wrote is that of its own movie, even when
// another export has put its movie at the same path just after.
TEST(Host_Cli, the_size_written_is_the_movie_of_this_export) {
  if (!strace_runs()) GTEST_SKIP() << "strace cannot run here";
  const Temp_Folder folder("host_cli_size");
  const std::string movie = folder.path + "/movie.mov", args = "--size 64x64 --audio none --frames ";
  ASSERT_EQ(hap_export(args + "12 " + folder.path + "/alone.mov").status, 0);
  // The first export is held for three seconds once its rename is done, while
  // a smaller one replaces its movie.
  const pid_t held = start_hap_export(args + "12 " + movie, folder.path + "/log", renames_held);
  wait_until([&] { return std::filesystem::exists(movie); });
  ASSERT_EQ(hap_export(args + "2 " + movie).status, 0);
  EXPECT_EQ(exit_status(held), 0);
  const std::string own = std::to_string(std::filesystem::file_size(folder.path + "/alone.mov"));
  EXPECT_NE(text_of(folder.path + "/log").find(": " + own + " bytes, 12 frames"), std::string::npos)
      << own << "\n" << text_of(folder.path + "/log");
}

// The first signal that would end the program (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, the user and timer signals) stops the export as a host cancel
// does, saying so at once: the frames done become a whole movie, and the exit
// status tells the signal.
TEST(Host_Cli, a_signal_stops_the_export_with_the_frames_done) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF}) {
    const Temp_Folder folder("host_cli_signal");
    const std::string movie = folder.path + "/movie.mov", log = folder.path + "/log";
    const pid_t pid = start_hap_export(long_export + movie, log);
    ASSERT_TRUE(wait_for_bytes(folder, movie, 100000, pid));
    kill(pid, signal);
    EXPECT_EQ(exit_status(pid), 128 + signal);
    EXPECT_NE(text_of(log).find("stopping once the frames in flight are written; Ctrl-C again abandons"),
              std::string::npos)
        << text_of(log);
    EXPECT_NE(last_line(text_of(log)).find("interrupted by signal " + std::to_string(signal)), std::string::npos)
        << text_of(log);
    const uint32_t frames = frames_of(movie);
    EXPECT_GT(frames, 10u);
    EXPECT_LT(frames, 1000000u);
    EXPECT_TRUE(folder.staged().empty());
  }
}

// A signal ignored when the program starts stays ignored, as nohup asks.
TEST(Host_Cli, a_signal_ignored_at_start_stays_ignored) {
  const Temp_Folder folder("host_cli_ignored");
  const std::string movie = folder.path + "/movie.mov", log = folder.path + "/log";
  const pid_t pid = start_hap_export(long_export + movie, log, "nohup");
  ASSERT_TRUE(wait_for_bytes(folder, movie, 100000, pid));
  kill(pid, SIGHUP);
  usleep(100000);
  kill(pid, SIGTERM);
  EXPECT_EQ(exit_status(pid), 128 + SIGTERM) << text_of(log);
}

// No signal leaves the temporary file: one that reports a failed write
// (SIGPIPE of a closed standard output) is ignored so the export goes on, and
// a crash removes the file before the program ends as it would have.
TEST(Host_Cli, no_signal_leaves_the_temporary_file) {
  const Temp_Folder folder("host_cli_crash");
  const std::string movie = folder.path + "/movie.mov";
  const Cli_Run piped = shell("(sleep 0.2; exec " + std::string(HAP_EXPORT_PATH) +
                              " --frames 5 --size 64x64 --audio none " + movie + ") | true");
  EXPECT_EQ(frames_of(movie), 5u) << piped.output;
  EXPECT_TRUE(folder.staged().empty());
  std::filesystem::remove(movie);
#ifndef HAP_SANITIZED
  // The sanitizers take crash signals over, and may be inside their own
  // run-time when one is sent.
  for (int signal : {SIGSEGV, SIGABRT, SIGBUS}) {
    const pid_t pid = start_hap_export(long_export + movie, folder.path + "/log");
    ASSERT_TRUE(wait_for_bytes(folder, movie, 100000, pid));
    kill(pid, signal);
    EXPECT_EQ(exit_status(pid), 128 + signal);
    EXPECT_TRUE(folder.staged().empty()) << signal;
    EXPECT_FALSE(std::filesystem::exists(movie));
  }
#endif
}

// A second signal stops at once: the temporary file goes, the output stays.
TEST(Host_Cli, a_second_signal_stops_at_once_and_keeps_the_previous_output) {
  const Temp_Folder folder("host_cli_second_signal");
  const std::string movie = folder.path + "/movie.mov";
  std::ofstream(movie) << "previous";
  const pid_t pid = start_hap_export(long_export + movie, folder.path + "/log");
  ASSERT_TRUE(wait_for_bytes(folder, movie, 100000, pid));
  // Both signals wait while the program is stopped, so they come together.
  kill(pid, SIGSTOP);
  kill(pid, SIGINT);
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);
  const int status = exit_status(pid);
  EXPECT_TRUE(status == 128 + SIGINT || status == 128 + SIGTERM) << status;
  const std::string log = text_of(folder.path + "/log");
  EXPECT_NE(last_line(log).find("no movie was written, " + movie + " is left as it was; interrupted by signal " +
                                std::to_string(status - 128)),
            std::string::npos)
      << log;
  EXPECT_EQ(text_of(movie), "previous");
  EXPECT_TRUE(folder.staged().empty());
}

// A second signal after the movie was put in place says so: the rename of the
// first export is held for three seconds, while two signals come.
TEST(Host_Cli, a_second_signal_after_the_rename_says_the_movie_is_in_place) {
  if (!strace_runs()) GTEST_SKIP() << "strace cannot run here";
  const Temp_Folder folder("host_cli_late_signal");
  const std::string movie = folder.path + "/movie.mov", log = folder.path + "/log";
  const pid_t tracer = start_hap_export("--frames 12 --size 64x64 --audio none " + movie, log, renames_held);
  wait_until([&] { return std::filesystem::exists(movie); });
  const pid_t pid = child_of(tracer);
  ASSERT_GT(pid, 0);
  kill(pid, SIGINT);
  wait_until([&] { return text_of(log).find("Ctrl-C again") != std::string::npos; });
  kill(pid, SIGTERM);
  EXPECT_EQ(exit_status(tracer), 128 + SIGTERM) << text_of(log);
  EXPECT_NE(last_line(text_of(log)).find("the movie written was already in place at " + movie +
                                         "; interrupted by signal " + std::to_string(SIGTERM)),
            std::string::npos)
      << text_of(log);
  EXPECT_EQ(frames_of(movie), 12u);
  EXPECT_TRUE(folder.staged().empty());
}

// With standard output or error closed, no file the program opens takes its
// number: its messages, and the plug-in's, never land in the movie.
TEST(Host_Cli, closed_standard_descriptors_never_reach_the_movie) {
  const Temp_Folder folder("host_cli_closed");
  const std::string movie = folder.path + "/movie.mov";
  // What the movie must not hold: the plug-in's lines, hap-export's.
  auto holds_text = [&] {
    const std::string bytes = text_of(movie);
    return bytes.find("Quality : ") != std::string::npos || bytes.find("Exception") != std::string::npos ||
           bytes.find("hap-export") != std::string::npos;
  };
  // A file size limit fails the export part-way: the closing message comes
  // once the frames written before are finalised and put in place.
  const Cli_Run limited = shell("ulimit -f 40; " + std::string(HAP_EXPORT_PATH) +
                                " --frames 60 --size 64x64 --audio none " + movie + " 2>&-");
  EXPECT_EQ(limited.status, 1) << limited.output;
  EXPECT_GT(frames_of(movie), 0u);
  EXPECT_FALSE(holds_text());
  // A stop signal: the notice, the plug-in's failure lines and the closing
  // message come while the movie is staged.
  for (const char* closing : {">&-", "2>&-", "<&- >&- 2>&-"}) {
    std::filesystem::remove(movie);
    const pid_t pid = start_hap_export(long_export + movie, folder.path + "/log",
                                       std::string("sh -c 'exec \"$0\" \"$@\" ") + closing + "'");
    ASSERT_TRUE(wait_for_bytes(folder, movie, 100000, pid));
    kill(pid, SIGTERM);
    EXPECT_EQ(exit_status(pid), 128 + SIGTERM) << closing;
    EXPECT_GT(frames_of(movie), 10u) << closing;
    EXPECT_FALSE(holds_text()) << closing;
    EXPECT_TRUE(folder.staged().empty());
  }
}

// Names as given: a plug-in named without a folder is the file in the
// current one, not a library to search for; "--" ends the options, so an
// output may begin with "-"; the extension is checked whatever its case.
TEST(Host_Cli, names_are_taken_as_given) {
  const Temp_Folder folder("host_cli_names");
  std::filesystem::copy_file(HAP_PLUGIN_PATH, folder.path + "/plugin.so");
  const std::string here = "cd " + folder.path + " && " + HAP_EXPORT_PATH + " --frames 2 --size 64x64 --audio none ";
  struct Case {
    const char *args, *movie;
    bool warned;
  };
  for (const Case& c : {Case{"--plugin plugin.so movie.mov", "movie.mov", false},
                        Case{"-- -movie.MOV", "-movie.MOV", false}, Case{"movie.avi", "movie.avi", true}}) {
    const Cli_Run run = shell(here + c.args);
    EXPECT_EQ(run.status, 0) << c.args << ": " << run.output;
    EXPECT_EQ(run.output.find("the plug-in writes .mov files") != std::string::npos, c.warned)
        << c.args << ": " << run.output;
    EXPECT_EQ(frames_of(folder.path + "/" + c.movie), 2u) << c.args;
  }
}

// A replaced movie keeps its owner and group as far as the process may give
// them: root gives it back to its owner; an ordinary user replacing root's
// file keeps its group when a member of it, and else still writes the movie,
// as theirs.
TEST_F(Host_Cli_Other_Users, a_replaced_movie_keeps_its_owner_and_group) {
  const Temp_Folder folder("host_cli_owner");
  ASSERT_EQ(chown(folder.path.c_str(), nobody, nobody), 0);
  const std::string movie = folder.path + "/movie.mov", program = program_copies(folder.path);
  if (!reachable_by(as_nobody, folder.path))
    GTEST_SKIP() << "nobody cannot reach " << folder.path << " to run hap-export";
  struct Case {
    bool as_root;
    uid_t owner_before;
    gid_t group_before;
    uid_t owner_after;
    gid_t group_after;
  };
  for (const Case& c : {Case{true, nobody, 100, nobody, 100}, Case{false, 0, 100, nobody, 100},
                        Case{false, 0, 0, nobody, nobody}}) {
    std::ofstream(movie) << "previous";
    ASSERT_EQ(chown(movie.c_str(), c.owner_before, c.group_before), 0);
    const Cli_Run run =
        shell((c.as_root ? "" : as_nobody) + program + " --frames 2 --size 64x64 --audio none " + movie);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(owner_of(movie), std::make_pair(c.owner_after, c.group_after)) << c.as_root << " " << c.owner_before;
    EXPECT_EQ(frames_of(movie), 2u);
  }
}

// A finished movie that cannot be put in place (another user's file in a
// sticky folder) is said not to be kept, the cause last.
TEST_F(Host_Cli_Other_Users, a_movie_that_cannot_be_put_in_place_is_said_not_kept) {
  const Temp_Folder folder("host_cli_sticky");
  ASSERT_EQ(chmod(folder.path.c_str(), 01777), 0);
  const std::string movie = folder.path + "/movie.mov";
  std::ofstream(movie) << "previous";
  const std::string program = program_copies(folder.path);
  if (!reachable_by(as_nobody, folder.path))
    GTEST_SKIP() << "nobody cannot reach " << folder.path << " to run hap-export";
  const Cli_Run run = shell(as_nobody + program + " --frames 2 --size 64x64 --audio none " + movie);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(last_line(run.output), "hap-export: the movie was not kept, " + movie +
                                       " is left as it was; cannot put the movie in place at " + movie +
                                       ": Operation not permitted")
      << run.output;
  EXPECT_TRUE(text_of(movie) == "previous");
  EXPECT_TRUE(folder.staged().empty());
}

// scripts/run.sh shows a build only when something is built, and the path of
// the movie once, as hap-export prints it. The build is the tests' own, up
// to date once they are built.
TEST(Host_Cli, the_run_script_prints_only_what_hap_export_prints) {
  const std::filesystem::path sources = std::filesystem::path(HAP_TESTDATA_DIR).parent_path().parent_path();
  const std::string run_script =
      "BUILD_DIR=" + std::string(HAP_BUILD_DIR) + " " + (sources / "scripts/run.sh").string() + " ";
  EXPECT_EQ(shell(run_script + "--help").output, hap_export("--help").output);
  const Temp_Folder folder("host_cli_run_script");
  // The output named by OUTPUT, or on the command line, alone or after "--",
  // whatever OUTPUT says; option values are never taken for it.
  const std::string movie = folder.path + "/movie.mov", named = folder.path + "/named.mov",
                    dashed = folder.path + "/-dashed.mov";
  const std::string source = "--frames 2 --size 64x64 --param ADBEVideoCodec=1 --audio none ";
  for (const auto& [command, written] :
       {std::pair{"OUTPUT=" + movie + " " + run_script + source, movie},
        std::pair{"OUTPUT=" + movie + " " + run_script + source + named, named},
        std::pair{run_script + source + "-- " + dashed, dashed}}) {
    const Cli_Run run = shell(command);
    EXPECT_EQ(run.status, 0) << command << ": " << run.output;
    EXPECT_TRUE(run.output.starts_with("64x64")) << run.output;
    EXPECT_EQ(run.output.find(written), run.output.rfind(written)) << run.output;
    EXPECT_EQ(frames_of(written), 2u) << command;
    std::filesystem::remove(written);
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder.path));
}

// The audio file is checked against the export as the input is; the plug-in
// only ever sees the temporary file's path, so a long output name is fine.
TEST(Host_Cli, audio_file_sizes_are_warned_about) {
  const Temp_Folder folder("host_cli_audio");
  const std::string audio = folder.path + "/audio.f32";
  const std::string movie = folder.path + "/" + std::string(250, 'm') + ".mov";
  const std::string args = "--frames 3 --size 64x64 --rate 30 --param AudioSampleRate=8000 --audio " + audio + " ";
  struct Case {
    size_t bytes;
    bool uneven, short_, long_;
  };
  // 3 frames at 30 fps: 800 stereo frames of 8 bytes.
  for (const Case& c : {Case{800 * 8, false, false, false}, Case{800 * 8 + 3, true, false, false},
                        Case{799 * 8, false, true, false}, Case{0, false, true, false},
                        Case{801 * 8 + 4, true, false, true}}) {
    std::ofstream(audio, std::ios::binary) << std::string(c.bytes, '\0');
    const Cli_Run run = hap_export(args + movie);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("not a whole number of 2-channel float sample frames") != std::string::npos, c.uneven)
        << run.output;
    EXPECT_EQ(run.output.find("fewer than the 800 of the export") != std::string::npos, c.short_) << run.output;
    EXPECT_EQ(run.output.find("holds 801 sample frames, more than the 800 of the export; the rest is ignored") !=
                  std::string::npos,
              c.long_)
        << run.output;
    EXPECT_EQ(mov_test::Mov_File(movie).track("soun").sample_count, 800u);
  }
}

// The audio file is read as the plug-in asks for it: a gibibyte of audio takes
// no more memory than the second the export uses, and makes the same movie,
// whose samples are the file's.
TEST(Host_Cli, audio_is_read_as_the_export_asks_for_it) {
  const Temp_Folder folder("host_cli_audio_read");
  const std::string audio = folder.path + "/audio.f32", long_audio = folder.path + "/long.f32";
  const std::string movie = folder.path + "/movie.mov", log = folder.path + "/log";
  // One second of 48 kHz stereo, the default audio of 30 frames at 30 fps:
  // samples of k / 32768 become 16-bit k.
  auto pcm = [](size_t i) { return int(i * 7 % 60001) - 30000; };
  std::vector<float> samples(2 * 48000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(pcm(i)) / 32768.0f;
  for (const std::string& path : {audio, long_audio})
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size() * sizeof(float)));
  std::filesystem::resize_file(long_audio, uintmax_t(1) << 30);  // sparse: no time or disk to write
  std::vector<uint8_t> movies[2];
  long peak_kib[2] = {};
  for (int i = 0; i < 2; ++i) {
    const pid_t pid =
        start_hap_export("--frames 30 --size 64x64 --audio " + (i ? long_audio : audio) + " " + movie, log);
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text_of(log);
    peak_kib[i] = usage.ru_maxrss;
    movies[i] = read_file(movie);
  }
  EXPECT_LT(peak_kib[1], peak_kib[0] + 64 * 1024) << "KiB at most with one second of audio: " << peak_kib[0];
  EXPECT_TRUE(movies[0] == movies[1]);
  const mov_test::Mov_File written(movie);
  const std::vector<uint8_t> data = written.track_data(written.track("soun"));
  ASSERT_EQ(data.size(), samples.size() * 2);
  size_t same = 0;
  while (same < samples.size() && int16_t(data[2 * same] | data[2 * same + 1] << 8) == pcm(same)) ++same;
  EXPECT_EQ(same, samples.size()) << "the first sample that differs";
}

}  // namespace
