// The platform layer: the shared loop pool, processor features, starting
// threads, UTF-16 and 64-bit file positions.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/parallel_for.h"
#include "platform/start_thread.h"
#include "platform/system_info.h"
#include "tests/support/test_support.h"

namespace {

// Runs a loop over [first, last); true when each index ran exactly once.
bool each_once(int64_t first, int64_t last) {
  std::vector<std::atomic<int>> hits(size_t(std::max<int64_t>(last - first, 0)));
  platform::parallel_for(first, last, [&](int64_t i) { hits.at(size_t(i - first)).fetch_add(1); });
  for (const auto& h : hits)
    if (h.load() != 1) return false;
  return true;
}

TEST(ParallelFor, EveryIterationRunsExactlyOnce) {
  for (auto [first, last] : {std::pair{0, 1}, {-7, 3}, {1000, 21000}, {5, 5}, {5, 2}})
    EXPECT_TRUE(each_once(first, last)) << first << ".." << last;
}

TEST(ParallelFor, RethrowsAfterEveryIterationHasFinished) {
  std::atomic<int> finished{0};
  try {
    platform::parallel_for(0, 200, [&](int64_t i) {
      if (i % 50 == 7) throw std::runtime_error("iteration failed");
      std::this_thread::yield();
      finished.fetch_add(1);
    });
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "iteration failed");
    EXPECT_EQ(finished.load(), 196);
  }
  EXPECT_TRUE(each_once(0, 500));  // the pool is still sound
}

TEST(ParallelFor, ConcurrentCallersEachGetTheirOwnLoop) {
  std::vector<std::thread> callers;
  std::atomic<int> failures{0};
  for (int t = 0; t < 6; ++t)
    callers.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) failures += !each_once(0, 100 + 13 * t + round);
    });
  for (auto& c : callers) c.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(ParallelFor, NestedLoopsComplete) {
  // More outer iterations than pool threads, each running inner loops two
  // levels deep: a nested call must not wait for helpers that are busy.
  const int64_t outer = 3 * int64_t(platform::processor_count()) + 1;
  std::atomic<int64_t> total{0};
  platform::parallel_for(0, outer, [&](int64_t) {
    platform::parallel_for(0, 20,
                           [&](int64_t) { platform::parallel_for(0, 10, [&](int64_t k) { total.fetch_add(k); }); });
  });
  EXPECT_EQ(total.load(), outer * 20 * 45);
  // An exception from a nested loop reaches the outer caller.
  EXPECT_THROW(platform::parallel_for(0, 4,
                                      [](int64_t i) {
                                        platform::parallel_for(0, 4, [i](int64_t j) {
                                          if (i == 2 && j == 3) throw std::logic_error("inner");
                                        });
                                      }),
               std::logic_error);
}

// The kernel lists avx, avx2 and fma only when the processor has them and the
// kernel saves the AVX state, which is what CPUID and XGETBV show together.
TEST(SystemInfo, CpuFeaturesAgreeWithProcCpuinfo) {
  const unsigned count = platform::processor_count(), hardware = std::thread::hardware_concurrency();
  EXPECT_GE(count, 1u);
  EXPECT_TRUE(hardware == 0 || count <= hardware) << count << " > " << hardware;
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::set<std::string> flags;
  for (std::string line; flags.empty() && std::getline(cpuinfo, line);)
    if (line.rfind("flags", 0) == 0) {
      std::istringstream words(line.substr(line.find(':') + 1));
      for (std::string w; words >> w;) flags.insert(w);
    }
  if (flags.empty()) GTEST_SKIP() << "no flags line in /proc/cpuinfo";
  const auto leaf1 = platform::cpuid(1);
  const bool ymm_saved = ((leaf1.ecx >> 27) & 1) && (platform::xgetbv(0) & 6) == 6;
  EXPECT_EQ(((leaf1.ecx >> 28) & 1) && ymm_saved, flags.count("avx") == 1);
  EXPECT_EQ(((leaf1.ecx >> 12) & 1) && ymm_saved, flags.count("fma") == 1);
  EXPECT_EQ(platform::cpuid(0).eax >= 7 && ((platform::cpuid(7, 0).ebx >> 5) & 1) && ymm_saved,
            flags.count("avx2") == 1);
}

// What std::thread throws when the system gives no thread, or another failure.
auto thread_refused(std::errc reason) {
  return [reason]() -> int { throw std::system_error(std::make_error_code(reason)); };
}

// With memory to spare, a refused thread is a limit on threads, said with the
// system's reason; other failures pass as they are.
TEST(StartThread, ARefusedThreadIsSaidWithTheSystemsReason) {
  try {
    platform::start_thread(thread_refused(std::errc::resource_unavailable_try_again));
    FAIL() << "no exception";
  } catch (const std::system_error& e) {
    EXPECT_STREQ(e.what(), "could not start a thread: Resource temporarily unavailable");
    EXPECT_EQ(e.code(), std::errc::resource_unavailable_try_again);
  }
  try {
    platform::start_thread(thread_refused(std::errc::invalid_argument));
    FAIL() << "no exception";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code(), std::errc::invalid_argument);
  }
  EXPECT_EQ(platform::start_thread([] { return 7; }), 7);
}

// With less address space left than a thread's stack, a refused thread is out
// of memory. Tried in a child, whose address space is limited to a little
// more than it has.
TEST(StartThread, ARefusedThreadIsOutOfMemoryWhenNoStackFits) {
#ifdef HAP_SANITIZED
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under a limit of address space";
#endif
  const pid_t child = fork();
  if (child == 0) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (512 << 10), RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    try {
      platform::start_thread(thread_refused(std::errc::resource_unavailable_try_again));
    } catch (const std::bad_alloc&) {
      _exit(platform::memory_available(4096) ? 0 : 3);
    } catch (...) {
    }
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Utf, RoundTripAcrossTheCodeSpace) {
  std::string utf8;
  std::u16string back;
  for (char32_t c = 1; c <= 0x10FFFF; c += (c < 0x10000 ? 1 : 97)) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::u16string utf16(1, char16_t(c));
    if (c >= 0x10000) utf16 = {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))};
    ASSERT_TRUE(platform::utf16_to_utf8(utf16, utf8)) << uint32_t(c);
    ASSERT_EQ(utf8.size(), size_t(c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4)) << uint32_t(c);
    ASSERT_TRUE(platform::utf8_to_utf16(utf8, back)) << uint32_t(c);
    ASSERT_EQ(back, utf16) << uint32_t(c);
  }
}

TEST(Utf, BadInputIsRefusedAndLeavesNothing) {
  const char16_t high = 0xD83D, low = 0xDE00;
  // Lone high at the end, high then not a low, lone low, a pair in the wrong order, two highs.
  for (const std::u16string& text :
       {std::u16string{0xD800}, std::u16string{u'a', high, u'b'}, std::u16string{u'a', low}, std::u16string{low, high},
        std::u16string{high, high, low}}) {
    std::string out = "stale";
    EXPECT_FALSE(platform::utf16_to_utf8(text, out));
    EXPECT_TRUE(out.empty());
  }
  // A stray continuation byte, truncated two- and three-byte forms, overlong
  // forms, an encoded surrogate, beyond U+10FFFF, a five-byte form and a bad
  // continuation.
  for (const char* text : {"\x80", "a\xC3", "\xE2\x82", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                           "\xF8\x88\x80\x80\x80", "\xC3\x28"}) {
    std::u16string out = u"stale";
    EXPECT_FALSE(platform::utf8_to_utf16(text, out)) << text;
    EXPECT_TRUE(out.empty());
  }
}

TEST(FileIo, SeekPastFourGigabytesInSparseFile) {
  const std::string path = temp_path("sparse.bin");
  int error = 0;
  std::FILE* f = platform::file_open_write(path, &error);
  ASSERT_NE(f, nullptr) << error;
  const int64_t five_gib = int64_t(5) << 30;
  ASSERT_EQ(std::fputc('x', f), 'x');
  ASSERT_EQ(platform::file_seek64(f, five_gib, SEEK_SET), 0);
  EXPECT_EQ(platform::file_tell64(f), five_gib);
  ASSERT_EQ(std::fputc('y', f), 'y');
  EXPECT_EQ(platform::file_tell64(f), five_gib + 1);
  ASSERT_EQ(platform::file_seek64(f, -1, SEEK_END), 0);
  EXPECT_EQ(platform::file_tell64(f), five_gib);
  ASSERT_EQ(platform::file_seek64(f, 0, SEEK_SET), 0);
  EXPECT_EQ(std::fgetc(f), 'x');
  ASSERT_EQ(platform::file_close(f), 0);

  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(int64_t(st.st_size), five_gib + 1);
  std::remove(path.c_str());
}

TEST(FileIo, FailuresAreReported) {
  int error = 0;
  EXPECT_EQ(platform::file_open_write(temp_path("no/such/dir/file"), &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  // A write that fails only when the buffer is flushed must not pass.
  if (std::FILE* full = platform::file_open_write("/dev/full", &error)) {
    EXPECT_EQ(std::fwrite("data", 1, 4, full), 4u);
    EXPECT_NE(platform::file_close(full), 0);
  }
  EXPECT_NE(platform::file_close(nullptr), 0);
  EXPECT_NE(platform::file_seek64(nullptr, 0, SEEK_SET), 0);
  EXPECT_EQ(platform::file_tell64(nullptr), -1);
}

}  // namespace
