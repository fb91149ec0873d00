// hap-export: loads the exporter plug-in into the stand-in host and drives
// it the way the host does, from start-up to the export and endInstance.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/export_checks.h"
#include "host/printable.h"
#include "host/safe_output.h"
#include "host/stand_in_host.h"
#include "host/stdout_tap.h"
#include "platform/file_io.h"
#include "platform/system_info.h"

namespace {

const char usage[] =
    "usage: hap-export [options] [--] OUTPUT.mov\n"
    "  --plugin PATH             the plug-in file to load (default: the one built beside this program)\n"
    "  --param ID=VALUE          set an export parameter by its identifier (repeatable),\n"
    "                            e.g. --param ADBEVideoCodec=3 --param SliderChunkCount=4\n"
    "                            (ratios as N/D, frame rates in frames per second as N or N/D);\n"
    "                            ADBEVideoCodec: 1 HAP, 2 HAPA, 3 HAPQ, 4 HAPQA,\n"
    "                            5 HAP AlphaOnly (Luma), 6 HAP AlphaOnly (Alpha), 7 HAPR (RGB),\n"
    "                            8 HAPR (RGBA); ComboboxQuality: 0 Fast, 1 Normal, 2 Slow;\n"
    "                            --list-params shows them all\n"
    "  --input FILE              source frames: raw 8-bit BGRA, top-down, rows tightly packed\n"
    "  --size WxH                source frame size (default 1920x1080)\n"
    "  --rate N/D                source frame rate, and the export's unless ADBEVideoFPS is\n"
    "                            given (default 30/1)\n"
    "  --audio FILE|none         raw interleaved 32-bit float samples at the audio parameters'\n"
    "                            rate and channel count (5.1 in the order L, R, C, Lfe, Ls, Rs),\n"
    "                            or no audio (default: a test tone)\n"
    "  --start-timecode HH:MM:SS:FF  source start timecode (default 00:00:00:00)\n"
    "  --frames N                number of source frames (default 150, or all of --input)\n"
    "  --list-params             print the parameter tree with current values and stop\n"
    "  --summary                 print the summary lines and stop\n"
    "  --help                    this text\n"
    "The movie is written into a hidden file beside OUTPUT, named .hap-export- and six\n"
    "random characters, which replaces OUTPUT only once it is whole; a failed export\n"
    "leaves OUTPUT as it was, unless the frames written before the failure could be\n"
    "finalised. The movie takes the permissions of the file it replaces, and its owner\n"
    "and group where allowed. When OUTPUT is a symbolic link, the file it links to is\n"
    "replaced, unless a link is another user's in a sticky folder anyone may write to.\n"
    "The movie lands in the folder the export began in, even when that folder is moved\n"
    "meanwhile. The first Ctrl-C (or SIGTERM, SIGHUP, SIGQUIT) stops the export and\n"
    "keeps the frames done; a second stops at once. Only a program killed outright\n"
    "(SIGKILL, a power cut) leaves the hidden file behind; it can then be removed.\n"
    "Exit status: 0 done, 1 failed, 2 bad usage, 128 + the signal when stopped.\n";

struct Usage_Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  std::string plugin;
  std::vector<std::pair<std::string, std::string>> params;
  host::Source_Settings source;
  bool frames_given = false;
  std::string rate = "30";  // the source frame rate as given
  std::string start_timecode;
  bool list_params = false;
  bool summary_only = false;
  std::string output;
  // What is replaced at the end: the output, or the file it links to.
  std::optional<host::Output_Place> place;
  std::optional<struct stat> replaced;  // the destination's status, when it exists
  uintmax_t audio_size = 0;
  // Whether a movie is written: --summary and --list-params stop before.
  bool exports() const { return !summary_only && !list_params; }
};

// A number written with digits only: no sign, which a count or a timecode
// never has ("-0:00:00:00" is no timecode).
int64_t parse_number(const std::string& text, const std::string& what, int64_t min, int64_t max) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || ec != std::errc() ||
      ptr != end || value < min || value > max)
    throw Usage_Error("invalid " + what + " \"" + text + "\" (expected " + std::to_string(min) + " to " +
                      std::to_string(max) + ")");
  return value;
}

// Splits "A<sep>B" into its two halves; throws when the separator is absent.
std::pair<std::string, std::string> split(const std::string& text, char separator, const std::string& what) {
  const size_t at = text.find(separator);
  if (at == std::string::npos) throw Usage_Error("invalid " + what + " \"" + text + "\"");
  return {text.substr(0, at), text.substr(at + 1)};
}

Options parse_options(int argc, char** argv) {
  Options o;
  bool options_ended = false;  // by "--": what follows is the output, whatever its name
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // An empty value (an unset shell variable) is refused, never taken for
    // the default the option would have without it.
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw Usage_Error(arg + " needs a value");
      if (argv[i + 1][0] == '\0') throw Usage_Error(arg + " is given an empty value");
      return argv[++i];
    };
    if (options_ended || !arg.starts_with('-')) {
      if (arg.empty()) throw Usage_Error("the output file name is empty");
      if (!o.output.empty()) throw Usage_Error("more than one output file given");
      o.output = arg;
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << usage;
      std::exit(0);
    } else if (arg == "--plugin") {
      o.plugin = value();
    } else if (arg == "--param") {
      const std::string v = value();
      auto [id, text] = split(v, '=', "--param (expected ID=VALUE)");
      if (id.empty()) throw Usage_Error("--param needs an identifier before '='");
      o.params.emplace_back(id, text);
    } else if (arg == "--input") {
      o.source.input_path = value();
    } else if (arg == "--size") {
      auto [w, h] = split(value(), 'x', "--size (expected WxH)");
      o.source.width = int(parse_number(w, "width", 4, 16384));
      o.source.height = int(parse_number(h, "height", 4, 16384));
    } else if (arg == "--rate") {
      const std::string v = value();
      o.rate = v;
      const size_t slash = v.find('/');
      o.source.rate_numerator = parse_number(v.substr(0, slash), "rate numerator", 1, 1000000);
      o.source.rate_denominator =
          slash == std::string::npos ? 1 : parse_number(v.substr(slash + 1), "rate denominator", 1, 1000000);
      if (o.source.rate_numerator > 1000 * o.source.rate_denominator)
        throw Usage_Error("frame rate " + v + " is above 1000 frames per second");
    } else if (arg == "--audio") {
      const std::string v = value();
      o.source.audio = v != "none";
      o.source.audio_path = v == "none" ? "" : v;
    } else if (arg == "--start-timecode") {
      o.start_timecode = value();
    } else if (arg == "--frames") {
      o.source.frame_count = parse_number(value(), "frame count", 1, 10000000);
      o.frames_given = true;
    } else if (arg == "--list-params") {
      o.list_params = true;
    } else if (arg == "--summary") {
      o.summary_only = true;
    } else {
      throw Usage_Error("unknown option " + arg);
    }
  }
  if (o.output.empty() && o.exports()) throw Usage_Error("no output file given");
  return o;
}

// HH:MM:SS:FF at the source rate (frames counted at the rate rounded up to a
// whole number, as timecode does) to a frame number.
int64_t parse_timecode(const std::string& text, const host::Source_Settings& s, const std::string& rate) {
  const int64_t fps = (s.rate_numerator + s.rate_denominator - 1) / s.rate_denominator;
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(':', start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  if (parts.size() != 4) throw Usage_Error("invalid start timecode \"" + text + "\" (expected HH:MM:SS:FF)");
  const int64_t hours = parse_number(parts[0], "timecode hours", 0, 99);
  const int64_t minutes = parse_number(parts[1], "timecode minutes", 0, 59);
  const int64_t seconds = parse_number(parts[2], "timecode seconds", 0, 59);
  const int64_t frames = parse_number(parts[3], "timecode frames", 0, fps - 1);
  const int64_t frame = ((hours * 60 + minutes) * 60 + seconds) * fps + frames;
  // The host gives the start in ticks, 64 bits of them.
  if (frame > std::numeric_limits<int64_t>::max() / host::ticks_per_frame(s.rate_numerator, s.rate_denominator))
    throw Usage_Error("start timecode " + text + " at " + rate +
                      " frames per second is later than the host counts in its 64-bit ticks");
  return frame;
}

// The status of a file that must be a readable regular file (not a folder,
// a device or a pipe, which would be read forever or not at all).
struct stat readable_file(const std::string& path, const std::string& option) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    throw Usage_Error("cannot read " + option + " " + path + ": " + std::strerror(errno));
  if (!S_ISREG(status.st_mode)) throw Usage_Error(option + " " + path + " is not a regular file");
  if (::access(path.c_str(), R_OK) != 0)
    throw Usage_Error("cannot read " + option + " " + path + ": " + std::strerror(errno));
  return status;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The output is checked before anything is written: it must not be one of
// the files the export reads, loads or runs (however it is named), what it
// replaces must be a regular file, and its name must fit the file system. A
// link is followed, even to a file that does not exist yet, so the file it
// names is written and the link stays; one another user may have planted for
// this program to follow is refused.
void check_output(Options& o, const std::vector<std::pair<struct stat, std::string>>& sources) {
  try {
    o.place.emplace(o.output);
  } catch (const host::Refused_Link& e) {
    throw Usage_Error(e.what());
  }
  const host::Output_Place& place = *o.place;
  struct stat status {};
  if (::fstatat(place.folder(), place.name().c_str(), &status, 0) == 0) {
    if (!S_ISREG(status.st_mode)) throw Usage_Error("the output " + o.output + " is not a regular file");
    for (const auto& [source, what] : sources)
      if (same_file(status, source)) throw Usage_Error("the output " + o.output + " is the " + what + " file");
    o.replaced = status;
  }
  const std::string& name = place.name();
  const long name_max = ::fpathconf(place.folder(), _PC_NAME_MAX);
  if (name_max > 0 && std::max(name.size(), sizeof host::staged_file_pattern - 1) > size_t(name_max))
    throw Usage_Error("the output name " + name + " is too long: " + std::to_string(name.size()) +
                      " bytes, where the file system takes at most " + std::to_string(name_max));
  // The plug-in takes paths of at most 259 UTF-16 characters, and it is given
  // the temporary file's where /proc cannot name it.
  std::u16string staged;
  if (!platform::utf8_to_utf16(host::staged_path_pattern(place.path()), staged))
    throw Usage_Error("the output path is not valid UTF-8");
  if (staged.size() >= size_t(sdk::path_field_length))
    throw Usage_Error("the output path is too long: the plug-in takes paths of at most " +
                      std::to_string(sdk::path_field_length - 1) + " characters, and the temporary file beside " +
                      o.output + " would have " + std::to_string(staged.size()));
}

std::string default_plugin() {
  std::error_code error;
  const auto beside = std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / HAP_PLUGIN_FILE_NAME;
  if (!error && std::filesystem::exists(beside)) return beside.string();
  return HAP_PLUGIN_BUILD_PATH;
}

void check_source(Options& o) {
  if (o.plugin.empty()) o.plugin = default_plugin();
  // A name without a folder would be looked for on the library path.
  if (o.plugin.find('/') == std::string::npos) o.plugin = "./" + o.plugin;
  std::vector<std::pair<struct stat, std::string>> sources;
  if (!o.source.input_path.empty()) {
    const struct stat status = readable_file(o.source.input_path, "--input");
    sources.emplace_back(status, "--input");
    const uintmax_t size = uintmax_t(status.st_size);
    const uintmax_t frame_size = uintmax_t(o.source.width) * uintmax_t(o.source.height) * 4;
    const uintmax_t available = size / frame_size;
    if (available == 0)
      throw Usage_Error("--input " + o.source.input_path + " holds less than one " + std::to_string(o.source.width) +
                        "x" + std::to_string(o.source.height) + " frame (use --size)");
    if (size % frame_size != 0)
      std::cerr << "hap-export: warning: --input size is not a whole number of frames; the rest is ignored\n";
    if (!o.frames_given)
      o.source.frame_count = int64_t(available);
    else if (uintmax_t(o.source.frame_count) > available)
      throw Usage_Error("--input holds " + std::to_string(available) + " frames, fewer than --frames " +
                        std::to_string(o.source.frame_count));
  }
  if (!o.source.audio_path.empty()) {
    const struct stat status = readable_file(o.source.audio_path, "--audio");
    sources.emplace_back(status, "--audio");
    o.audio_size = uintmax_t(status.st_size);
    std::string head(host::audio_signature_length, '\0');
    std::ifstream audio(o.source.audio_path, std::ios::binary);
    audio.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(audio.gcount()));
    if (const std::string_view container = host::audio_container(head); !container.empty())
      throw Usage_Error("--audio " + o.source.audio_path + " is a " + std::string(container) +
                        " file; --audio takes raw interleaved 32-bit float samples, with no header");
  }
  if (!o.start_timecode.empty()) o.source.start_timecode_frame = parse_timecode(o.start_timecode, o.source, o.rate);
  struct stat loaded {};
  if (::stat(o.plugin.c_str(), &loaded) == 0) sources.emplace_back(loaded, "plug-in");
  if (::stat("/proc/self/exe", &loaded) == 0) sources.emplace_back(loaded, "hap-export program");
  if (o.exports()) check_output(o, sources);
}

// The audio file against the audio parameters, as the input is checked
// against the frame size: warnings only, the missing rest is silence and what
// lies beyond the export is never read.
void check_audio_size(const Options& o, const host::Stand_In_Host& host) {
  const host::Host_Param* rate = host.params.find("AudioSampleRate");
  const host::Host_Param* channels = host.params.find("AudioChannels");
  if (o.source.audio_path.empty() || !rate || !channels || rate->values.value.integer < 1) return;
  const int32_t channel_choice = channels->values.value.integer;
  const uintmax_t frame_bytes = sizeof(float) * (channel_choice == 0 ? 1 : channel_choice == 2 ? 6 : 2);
  const sdk::Ticks per_sample = std::llround(double(host::ticks_per_second) / rate->values.value.integer);
  const uintmax_t needed = uintmax_t(host.sequence_end_time() / per_sample);
  if (o.audio_size % frame_bytes != 0)
    std::cerr << "hap-export: warning: --audio size is not a whole number of " << frame_bytes / sizeof(float)
              << "-channel float sample frames; the rest is ignored\n";
  const uintmax_t held = o.audio_size / frame_bytes;
  if (held < needed)
    std::cerr << "hap-export: warning: --audio holds " << held << " sample frames, fewer than the " << needed
              << " of the export; the rest is silence\n";
  else if (held > needed)
    std::cerr << "hap-export: warning: --audio holds " << held << " sample frames, more than the " << needed
              << " of the export; the rest is ignored\n";
}

// The label of a list parameter's current value.
std::string choice_label(const host::Param_Tree& params, const std::string& id) {
  const host::Host_Param* p = params.find(id);
  if (!p) return "?";
  for (const auto& [value, label] : p->choices)
    if (value.integer == p->values.value.integer) return host::narrow(label);
  return std::to_string(p->values.value.integer);
}

void check_result(const char* selector, int32_t result) {
  if (result != sdk::result_ok)
    throw std::runtime_error(std::string(selector) + " failed with result " + std::to_string(result));
}

int run(Options& o) {
  host::Stand_In_Host host;
  host.source = o.source;
  host::Plugin plugin(o.plugin);
  host::Session session(host, plugin);

  sdk::Exporter_Info_Rec info{};
  check_result("startup", session.startup(info));
  check_result("beginInstance", session.begin_instance());
  int exit_code = 0;
  try {
    check_result("generateDefaultParams", session.generate_default_params());
    check_result("postProcessParams", session.post_process_params());
    for (const auto& [id, text] : o.params) {
      try {
        check_result("validateParamChanged", session.change_param(id, text));
      } catch (const std::invalid_argument& e) {
        throw Usage_Error(e.what());
      }
    }
    if (o.exports()) {
      host::Rate_Texts rates{o.rate, o.rate};
      for (const auto& [id, text] : o.params)
        if (id == "ADBEVideoFPS") rates.export_rate = text;
      if (const std::string problem = host::duration_problem(host, o.source.audio, rates); !problem.empty())
        throw Usage_Error(problem);
    }
    const bool audio = o.source.audio;
    sdk::Param_Summary_Rec summary{};
    check_result("getParamSummary", session.get_param_summary(summary, audio));
    std::cout << host::narrow(summary.video_summary) << "\n"
              << host::narrow(summary.audio_summary) << "\n"
              << host::narrow(summary.bitrate_summary) << "\n";
    if (o.list_params) std::cout << host.params.dump();
    if (o.exports()) {
      sdk::Query_Output_Settings_Rec settings{};
      settings.export_video = 1;
      settings.export_audio = audio;
      check_result("queryOutputSettings", session.query_output_settings(settings));
      sdk::Query_Extension_Rec extension{};
      check_result("queryExportFileExtension", session.query_export_file_extension(extension));
      const std::string expected = "." + host::narrow(extension.extension);
      if (::strcasecmp(std::filesystem::path(o.output).extension().c_str(), expected.c_str()) != 0)
        std::cerr << "hap-export: warning: the plug-in writes " << expected << " files\n";
      if (audio) check_audio_size(o, host);
      host::Staged_Output staged(*o.place, o.replaced ? &*o.replaced : nullptr);
      platform::utf8_to_utf16(staged.plugin_path(), host.output_path);
      host::Stdout_Tap tap(staged.plugin_path(), staged.path());
      const int32_t result = session.do_export(audio);
      const std::string cause = host::printable(host::failure_cause(tap.stop()));
      const int signal = host::interrupt_signal;
      // A failed or stopped export still counts when the plug-in finalised
      // the frames it had; anything less never replaces the output.
      const bool finished = staged.holds_finished_movie();
      uintmax_t size = 0;
      std::string not_kept;  // why a finished movie did not replace the output
      if (finished) {
        try {
          size = staged.commit();
        } catch (const std::runtime_error& e) {
          not_kept = host::printable(e.what());
        }
      }
      const std::string output = host::printable(std::filesystem::absolute(o.output).string());
      const bool failed = signal || result != sdk::result_ok;
      // The cause comes last, where it is read first.
      const std::string why =
          signal ? host::interrupted_by(signal)
                 : "export failed with result " + std::to_string(result) + (cause.empty() ? "" : ": " + cause);
      if (!not_kept.empty()) {
        std::cerr << "hap-export: the movie was not kept, " << output << " is left as it was; "
                  << (failed ? why + "; " : "") << not_kept << "\n";
        exit_code = signal ? 128 + signal : 1;
      } else if (failed) {
        if (finished)
          std::cerr << "hap-export: the frames written before were finalised into " << output << " (" << size
                    << " bytes); " << why << "\n";
        else
          std::cerr << "hap-export: no movie was written, " << output << " is left as it was; " << why << "\n";
        exit_code = signal ? 128 + signal : 1;
      } else if (!finished) {
        std::cerr << "hap-export: the plug-in reported success but left no finished movie; " << output
                  << " is left as it was\n";
        exit_code = 1;
      } else {
        std::cout << "Wrote " << output << ": " << size << " bytes, "
                  << host.frames_delivered << " frames of "
                  << settings.output_width << "x" << settings.output_height << " "
                  << choice_label(host.params, "ADBEVideoCodec")
                  << (audio ? ", audio " + choice_label(host.params, "AudioQUANTIF") + " " +
                                  choice_label(host.params, "AudioChannels") + " " +
                                  choice_label(host.params, "AudioSampleRate")
                            : std::string(", no audio"))
                  << "\n";
      }
    }
  } catch (...) {
    session.end_instance();
    throw;
  }
  check_result("endInstance", session.end_instance());
  if (host.live_blocks() != 0 || !host.suites_balanced())
    std::cerr << "hap-export: warning: the plug-in left " << host.live_blocks()
              << " memory blocks or suites unreleased\n";
  return exit_code;
}

// The C++ run-time sets memory aside as it starts, to throw failures when no
// more can be had. When even that could not be had, the first failure would
// end the program with "terminate called without an active exception". The
// address space left tells whether it was: the allocator takes a megabyte at
// a time once its heap cannot grow.
bool room_to_report_failures() { return platform::memory_available(size_t(2) << 20); }

// All the program does but its end; returns the exit status.
int run_command(int argc, char** argv) {
  if (!room_to_report_failures()) {
    std::fputs("hap-export: error: out of memory\n", stderr);
    return 1;
  }
  try {
    host::open_standard_descriptors();
    host::install_signal_handlers();
    Options options = parse_options(argc, argv);
    check_source(options);
    return run(options);
  } catch (const Usage_Error& e) {
    std::cerr << "hap-export: error: " << host::printable(e.what()) << "\n"
              << "Try 'hap-export --help'.\n";
    return 2;
  } catch (const std::bad_alloc&) {
    std::cerr << "hap-export: error: out of memory\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "hap-export: error: " << host::printable(e.what()) << "\n";
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int status = run_command(argc, argv);
  host::let_a_second_signal_end_the_program();
  return status;
}
