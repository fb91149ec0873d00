// hap-export at the limits of the system: too few threads, too little
// memory. It either makes the movie it makes without them or says why not,
// leaving the earlier file as it was.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/host_cli_support.h"

namespace {

using Host_Limits_Other_Users = Host_Cli_Other_Users;

// A user no account has, so that nothing but the export at hand counts
// against its limit on threads.
uid_t user_of_no_one() {
  uid_t user = 61000;
  while (getpwuid(user)) ++user;
  return user;
}

// RLIMIT_NPROC counts every process and thread of the user, and does not
// bind root: hap-export runs as another user. However few threads the
// system gives, the export makes the same movie with those that start, or
// says that none could start, never that memory ran out. A limit of 1 leaves
// no thread at all, the others some. The leak checker of a checking build
// cannot start its own thread there.
TEST_F(Host_Limits_Other_Users, too_few_threads_make_the_same_movie_or_are_said) {
  if (shell("command -v prlimit").status != 0) GTEST_SKIP() << "prlimit is needed to limit the threads";
  const uid_t user = user_of_no_one();
  const std::string as_user = "env ASAN_OPTIONS=detect_leaks=0 setpriv --reuid=" + std::to_string(user) +
                              " --regid=" + std::to_string(user) + " --clear-groups ";
  const Temp_Folder folder("host_limits_threads");
  ASSERT_EQ(chown(folder.path.c_str(), user, user), 0);
  const std::string program = program_copies(folder.path);
  if (!reachable_by(as_user, folder.path))
    GTEST_SKIP() << "user " << user << " cannot reach " << folder.path << " to run hap-export";
  // More frames than the processors give slots, so slots are used again.
  const std::string args = " --frames 40 --size 64x64 --audio none ", reference = folder.path + "/reference.mov";
  ASSERT_EQ(shell(as_user + program + args + reference).status, 0);
  int made = 0;
  for (const int threads : {1, 2, 3, 4, 6, 8}) {
    const std::string movie = folder.path + "/movie" + std::to_string(threads) + ".mov";
    std::ofstream(movie) << "earlier";
    ASSERT_EQ(chown(movie.c_str(), user, user), 0);
    const Cli_Run run = shell(as_user + "prlimit --nproc=" + std::to_string(threads) + " " + program + args + movie);
    if (run.status == 0 && threads > 1) {
      EXPECT_TRUE(read_file(movie) == read_file(reference)) << threads << " threads\n" << run.output;
      ++made;
      continue;
    }
    EXPECT_EQ(run.status, 1) << threads << " threads\n" << run.output;
    EXPECT_TRUE(last_line(run.output).ends_with(": could not start a thread: Resource temporarily unavailable"))
        << threads << " threads\n" << run.output;
    EXPECT_EQ(text_of(movie), "earlier");
  }
  EXPECT_GT(made, 0);
}

// Every limit of address space from the first at which hap-export starts at
// all to 16 MB above it: a run succeeds or fails saying memory, and a failed
// one leaves the earlier file. Near the bottom even the C++ run-time's reserve
// for failures is missing; further up the plug-in cannot be loaded, then no
// thread can start. Below the first, the system's loader cannot load the
// program (status 127): nothing of it runs. Limits are finer where the
// run-time's reserve runs out, a few hundred KB wide.
TEST(Host_Limits, every_run_at_the_edge_of_memory_succeeds_or_says_memory) {
#ifdef HAP_SANITIZED
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under ulimit -v";
#endif
  const Temp_Folder folder("host_limits_memory");
  const std::string script = folder.path + "/scan.sh", movie = folder.path + "/movie.mov", log = folder.path + "/log";
  // Prints "started" once the program runs, then a line for every run that
  // fails otherwise; the plug-in's load is counted as it shows the scan
  // reaches that far. The stack size is fixed as every thread takes one.
  std::ofstream(script) << "run() {\n"
                           "  echo earlier > " << movie << "\n"
                           "  (ulimit -s 8192; ulimit -v $1; exec " HAP_EXPORT_PATH
                           " --frames 2 --size 64x64 --audio none " << movie << ") > " << log << " 2>&1\n"
                           "}\n"
                           "start=2048\n"
                           "until run $start; [ $? != 127 ] || [ $start -gt 65536 ]; do start=$((start + 16)); done\n"
                           "echo started\n"
                           "v=$start\n"
                           "while [ $v -le $((start + 16384)) ]; do\n"
                           "  run $v\n"
                           "  status=$?\n"
                           "  said=$(tail -n 1 " << log << ")\n"
                           "  case $said in *'cannot load plug-in'*memory) echo loading ;; esac\n"
                           "  if [ $status != 0 ] && ! { [ $status = 1 ] && [ \"$(cat " << movie << ")\" = earlier ] &&\n"
                           "      echo \"$said\" | grep -q memory; }; then\n"
                           "    echo \"$v KB: status $status: $said\"\n"
                           "  fi\n"
                           "  if [ $v -lt $((start + 1024)) ]; then v=$((v + 16)); else v=$((v + 64)); fi\n"
                           "done\n";
  const Cli_Run run = shell("sh " + script + " | uniq");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "started\nloading\n");
}

}  // namespace
