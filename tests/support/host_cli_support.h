// Helpers of the tests that run hap-export as a user would: shell command
// lines, background runs stopped part-way, folders whose staged files can be
// seen, copies of the programs, and runs as another user.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/stdout_tap.h"
#include "tests/support/mov_inspector.h"
#include "tests/support/test_support.h"

struct Cli_Run {
  int status = -1;
  std::string output;  // standard output and error together
};

// A shell command line; hap-export stands for the program. A run that hangs
// is stopped (status 124).
inline Cli_Run shell(const std::string& command) {
  Cli_Run run;
  FILE* pipe = popen(("timeout 120 sh -c \"" + command + "\" 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

inline Cli_Run hap_export(const std::string& args) { return shell(std::string(HAP_EXPORT_PATH) + " " + args); }

// The last line of a program's output, where its cause is told.
inline std::string last_line(std::string output) {
  while (output.ends_with('\n')) output.pop_back();
  return output.substr(output.rfind('\n') + 1);  // from 0 when there is one line
}

inline std::string text_of(const std::string& path) {
  const std::vector<uint8_t> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// The video frames of a movie; 0 when it cannot be read.
inline uint32_t frames_of(const std::string& movie) {
  try {
    return mov_test::Mov_File(movie).track("vide").sample_count;
  } catch (const std::exception&) {
    return 0;
  }
}

// A folder of its own, so the temporary files of one export can be seen.
struct Temp_Folder {
  explicit Temp_Folder(const std::string& name) : path(temp_path(name)) { std::filesystem::create_directory(path); }
  ~Temp_Folder() { std::filesystem::remove_all(path); }
  // Files hap-export stages its movie in.
  std::vector<std::string> staged() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
      if (entry.path().filename().string().rfind(".hap-export-", 0) == 0) names.push_back(entry.path().string());
    return names;
  }
  const std::string path;
};

// hap-export started in the background, its output going to `log`, with
// every signal at its default whatever the test runner ignores, and no core
// dump; `wrapper` is a program that runs it.
inline pid_t start_hap_export(const std::string& args, const std::string& log, const std::string& wrapper = "") {
  const std::string command =
      "ulimit -c 0; exec " + wrapper + " " + std::string(HAP_EXPORT_PATH) + " " + args + " > " + log + " 2>&1";
  const pid_t pid = fork();
  if (pid == 0) {
    for (int signal = 1; signal < NSIG; ++signal) std::signal(signal, SIG_DFL);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

inline int exit_status(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits up to a minute for `done`; false when it did not come.
inline bool wait_until(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    usleep(2000);
  }
  return true;
}

// Waits until an export in the folder has written more than `bytes` of its
// movie, staged or in place; stops `pid` when that does not happen.
inline bool wait_for_bytes(const Temp_Folder& folder, const std::string& movie, uintmax_t bytes, pid_t pid) {
  const bool written = wait_until([&] {
    std::vector<std::string> paths = folder.staged();
    paths.push_back(movie);
    for (const std::string& path : paths) {
      std::error_code error;
      if (std::filesystem::file_size(path, error) > bytes && !error) return true;
    }
    return false;
  });
  if (!written) {
    kill(pid, SIGKILL);
    exit_status(pid);
  }
  return written;
}

// The child of `parent`: hap-export, when `parent` is the wrapper running it.
inline pid_t child_of(pid_t parent) {
  pid_t child = 0;
  std::ifstream(std::filesystem::path("/proc") / std::to_string(parent) / "task" / std::to_string(parent) /
                "children") >>
      child;
  return child;
}

// A command prefix that runs a program under strace (following its threads),
// where the leak checker cannot run.
inline const std::string traced = "env ASAN_OPTIONS=detect_leaks=0 strace -f ";

inline bool strace_runs() { return shell("strace -o /dev/null true").status == 0; }

// A wrapper that holds the program for three seconds once each rename is done.
inline const std::string renames_held =
    traced + "-o /dev/null -e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:delay_exit=3000000";

// A long export of small frames, to be stopped part-way.
inline const std::string long_export = "--frames 1000000 --size 64x64 --audio none ";

// Copies of hap-export and the plug-in, put in `folder`: for a test that may
// overwrite them, and for other users, as the build may lie where they cannot
// go (a home or private folder). Returns the command that runs the copies.
inline std::string program_copies(const std::string& folder) {
  const std::string copies[] = {folder + "/hap-export", folder + "/plugin.so"};
  std::filesystem::copy_file(HAP_EXPORT_PATH, copies[0]);
  std::filesystem::copy_file(HAP_PLUGIN_PATH, copies[1]);
  return copies[0] + " --plugin " + copies[1];
}

// Whether `user` (a command prefix) can run the copies in `folder`.
inline bool reachable_by(const std::string& user, const std::string& folder) {
  return shell(user + "test -x " + folder + "/hap-export -a -r " + folder + "/plugin.so").status == 0;
}

// Files of other users, which only root can set up.
struct Host_Cli_Other_Users : testing::Test {
  static constexpr uid_t nobody = 65534;
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "root is needed to make files of other users";
    if (shell("command -v setpriv").status != 0) GTEST_SKIP() << "setpriv is needed to run as an ordinary user";
  }
  // A prefix that runs a program as nobody, a member of group 100 besides.
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --groups=100 ";
  static std::pair<uid_t, gid_t> owner_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return {status.st_uid, status.st_gid};
  }
};

// What a tap of standard output, made with `plugin_name` and `user_name`,
// passes on and keeps of what `print` prints; `print` is given the file the
// tap passes on to, to wait on it.
struct Tapped {
  std::string passed_on;
  std::vector<std::string> kept;
};
inline Tapped through_a_tap(const std::string& plugin_name, const std::string& user_name,
                            const std::function<void(const std::string& passed_on)>& print) {
  const Temp_Folder folder("tapped");
  const std::string passed_on = folder.path + "/stdout";
  std::fflush(stdout);
  const int terminal = dup(STDOUT_FILENO);
  const int file = open(passed_on.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  EXPECT_GE(file, 0);
  dup2(file, STDOUT_FILENO);
  close(file);
  Tapped tapped;
  {
    host::Stdout_Tap tap(plugin_name, user_name);
    print(passed_on);
    std::fflush(stdout);
    tapped.kept = tap.stop();
  }
  dup2(terminal, STDOUT_FILENO);
  close(terminal);
  tapped.passed_on = text_of(passed_on);
  return tapped;
}
