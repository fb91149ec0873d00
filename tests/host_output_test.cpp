// Where hap-export puts its movie: in the folder the export began in,
// wherever that folder is moved meanwhile and however deep it lies, never
// through a link another user may have planted; and the names it shows for
// it are the user's.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/stdout_tap.h"
#include "tests/support/host_cli_support.h"

namespace {

namespace fs = std::filesystem;

bool is_empty_folder(const std::string& path) { return fs::is_directory(path) && fs::is_empty(path); }

// An export into `folder` (directly, or through a link from another folder),
// whose folder is moved part-way and another made in its place; `stop` then
// ends it. The movie, or what a failure leaves of it, belongs in the moved
// folder; the messages name the output as the user gave it.
struct Moved_Export {
  const Temp_Folder folder{"host_output_moved"}, moved{"host_output_moved_to"}, links{"host_output_links"};
  const std::string log = links.path + "/log";
  std::string output;
  int status = -1;

  Moved_Export(bool through_link, const std::function<void(pid_t)>& stop) {
    output = folder.path + "/movie.mov";
    if (through_link) {
      output = links.path + "/movie.mov";
      fs::create_symlink(folder.path + "/movie.mov", output);
    }
    const pid_t pid = start_hap_export(long_export + output, log);
    if (!wait_for_bytes(folder, folder.path + "/movie.mov", 100000, pid)) return;
    // Onto the empty folder made for it, which a rename replaces.
    fs::rename(folder.path, moved.path);
    fs::create_directory(folder.path);
    stop(pid);
    status = exit_status(pid);
  }
};

TEST(Host_Output, a_movie_stopped_after_its_folder_moved_is_finalised_there) {
  for (const bool through_link : {false, true}) {
    const Moved_Export run(through_link, [](pid_t pid) { kill(pid, SIGTERM); });
    EXPECT_EQ(run.status, 128 + SIGTERM) << text_of(run.log);
    EXPECT_NE(last_line(text_of(run.log)).find("the frames written before were finalised into " + run.output),
              std::string::npos)
        << text_of(run.log);
    EXPECT_GT(frames_of(run.moved.path + "/movie.mov"), 10u) << through_link;
    EXPECT_TRUE(run.moved.staged().empty()) << through_link;
    EXPECT_TRUE(is_empty_folder(run.folder.path)) << through_link;
  }
}

// The temporary file goes from the moved folder, whatever ends the export.
TEST(Host_Output, a_movie_abandoned_after_its_folder_moved_leaves_nothing_there) {
  const Moved_Export abandoned(false, [](pid_t pid) {
    // Both signals wait while the program is stopped, so they come together.
    kill(pid, SIGSTOP);
    kill(pid, SIGINT);
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);
  });
  EXPECT_TRUE(abandoned.status == 128 + SIGINT || abandoned.status == 128 + SIGTERM) << abandoned.status;
  EXPECT_NE(last_line(text_of(abandoned.log)).find("no movie was written, " + abandoned.output + " is left as it was"),
            std::string::npos)
      << text_of(abandoned.log);
  EXPECT_TRUE(is_empty_folder(abandoned.moved.path));
  EXPECT_TRUE(is_empty_folder(abandoned.folder.path));
#ifndef HAP_SANITIZED
  // The sanitizers take crash signals over.
  const Moved_Export crashed(false, [](pid_t pid) { kill(pid, SIGSEGV); });
  EXPECT_EQ(crashed.status, 128 + SIGSEGV);
  EXPECT_TRUE(is_empty_folder(crashed.moved.path));
#endif
}

// The working folder, for a while: a chain of new folders made and entered
// one at a time, so that its absolute name may be longer than the system
// takes in one path.
struct Deep_Working_Folder {
  Deep_Working_Folder(const std::string& base, const std::string& step, int depth) : path(base) {
    EXPECT_EQ(chdir(base.c_str()), 0);
    for (int i = 0; i < depth; ++i) {
      EXPECT_EQ(mkdir(step.c_str(), 0755), 0);
      EXPECT_EQ(chdir(step.c_str()), 0);
      path += "/" + step;
    }
  }
  ~Deep_Working_Folder() { EXPECT_EQ(fchdir(back), 0); }
  const int back = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string path;
};

// From a working folder whose absolute name is longer than the system takes
// in one path, a second stop signal still removes the temporary file and the
// closing line names the output.
TEST(Host_Output, a_second_signal_in_a_deep_folder_removes_the_temporary_file) {
  if (!strace_runs()) GTEST_SKIP() << "strace cannot run here";
  const Temp_Folder folder("host_output_deep");
  const std::string log = folder.path + "/log";
  const Deep_Working_Folder deep(folder.path, std::string(200, 'd'), 25);
  ASSERT_GT(deep.path.size(), 4096u);
  // The movie's sync is held for three seconds, so the second signal comes
  // before the rename however quickly the first one stops the export.
  const std::string sync_held = traced + "-o /dev/null -e trace=fsync -e inject=fsync:delay_enter=3000000";
  const pid_t tracer = start_hap_export(long_export + "movie.mov", log, sync_held);
  // The plug-in's first line comes once the export runs.
  const bool running = wait_until([&] { return text_of(log).find("Quality : ") != std::string::npos; });
  const pid_t pid = running ? child_of(tracer) : 0;
  if (pid <= 0) {
    kill(tracer, SIGKILL);
    exit_status(tracer);
    FAIL() << "the export did not start: " << text_of(log);
  }
  kill(pid, SIGTERM);
  wait_until([&] { return text_of(log).find("Ctrl-C again") != std::string::npos; });
  kill(pid, SIGTERM);
  EXPECT_EQ(exit_status(tracer), 128 + SIGTERM) << text_of(log);
  EXPECT_TRUE(last_line(text_of(log))
                  .starts_with("hap-export: export abandoned: no movie was written, " + deep.path +
                               "/movie.mov is left as it was; interrupted by signal " + std::to_string(SIGTERM)))
      << text_of(log);
  EXPECT_TRUE(fs::is_empty("."));
}

// The plug-in opens the temporary file by a name in /proc, which must never
// reach the user: when it cannot open the file (no descriptor left), it
// names the file beside the output.
TEST(Host_Output, the_plugin_failing_to_open_its_file_names_it_beside_the_output) {
#ifdef HAP_SANITIZED
  GTEST_SKIP() << "a sanitizer's run-time fails for want of descriptors before the plug-in does";
#endif
  const Temp_Folder folder("host_output_descriptors");
  bool failed_to_open = false;
  for (int limit = 3; limit <= 16; ++limit) {
    const Cli_Run run = shell("ulimit -n " + std::to_string(limit) + "; " + HAP_EXPORT_PATH +
                              " --frames 2 --size 64x64 --audio none " + folder.path + "/movie.mov");
    EXPECT_EQ(run.output.find("/proc/"), std::string::npos) << limit << ": " << run.output;
    if (run.output.find("Can't open target file (write) : " + folder.path + "/.hap-export-") != std::string::npos)
      failed_to_open = true;
  }
  EXPECT_TRUE(failed_to_open) << "no limit let the plug-in fail to open its file";
  EXPECT_TRUE(folder.staged().empty());
}

// What the plug-in prints passes on with its name for the file shown as the
// user's, even when the name comes in pieces, and so is kept.
TEST(Host_Output, the_tap_shows_the_plugin_name_as_the_user_name) {
  const Tapped tapped = through_a_tap("/proc/self/fd/7/.hap-export-abc123", "D/.hap-export-abc123",
                                      [](const std::string&) {
                                        std::printf("open : /proc/self/fd/7/.hap");
                                        std::fflush(stdout);
                                        usleep(20000);
                                        std::printf("-export-abc123. Error\nends with /proc/self/fd/7/.hap");
                                      });
  EXPECT_EQ(tapped.passed_on, "open : D/.hap-export-abc123. Error\nends with /proc/self/fd/7/.hap");
  EXPECT_EQ(tapped.kept,
            std::vector<std::string>({"open : D/.hap-export-abc123. Error", "ends with /proc/self/fd/7/.hap"}));
}

// The system's protection of links in shared folders, for the links
// hap-export follows itself: in a sticky folder anyone may write to, root
// follows a link only when it is root's or the folder owner's. Links of
// nobody are made by root and given away.
TEST_F(Host_Cli_Other_Users, another_user_s_link_in_a_shared_sticky_folder_is_not_followed) {
  const Temp_Folder folder("host_output_sticky");
  const std::string target = folder.path + "/root.mov", link = folder.path + "/link.mov",
                    own_link = folder.path + "/own.mov";
  struct Case {
    mode_t folder_mode;
    uid_t folder_owner;
    bool link_of_nobody, through_own_link, followed;
  };
  for (const Case& c : {Case{01777, 0, true, false, false}, Case{01777, 0, true, true, false},
                        Case{01777, nobody, false, false, true}, Case{01777, nobody, true, false, true},
                        Case{00777, 0, true, false, true}, Case{01775, 0, true, false, true}}) {
    const std::string what = std::to_string(c.folder_mode) + " " + std::to_string(c.folder_owner) + " " +
                             std::to_string(c.link_of_nobody) + std::to_string(c.through_own_link);
    ASSERT_EQ(chown(folder.path.c_str(), c.folder_owner, c.folder_owner), 0);
    ASSERT_EQ(chmod(folder.path.c_str(), c.folder_mode), 0);
    fs::remove(link);
    fs::remove(own_link);
    std::ofstream(target) << "previous";
    fs::create_symlink("root.mov", link);
    if (c.link_of_nobody) {
      ASSERT_EQ(lchown(link.c_str(), nobody, nobody), 0);
    }
    if (c.through_own_link) fs::create_symlink("link.mov", own_link);
    const Cli_Run run = hap_export("--frames 2 --size 64x64 --audio none " + (c.through_own_link ? own_link : link));
    if (c.followed) {
      EXPECT_EQ(run.status, 0) << what << ": " << run.output;
      EXPECT_EQ(frames_of(target), 2u) << what;
    } else {
      EXPECT_EQ(run.status, 2) << what << ": " << run.output;
      EXPECT_NE(run.output.find("error: the symbolic link " + link + " is not followed"), std::string::npos)
          << what << ": " << run.output;
      EXPECT_EQ(text_of(target), "previous") << what;
    }
    EXPECT_TRUE(fs::is_symlink(link)) << what;
    EXPECT_TRUE(folder.staged().empty()) << what;
  }
}

}  // namespace
