// The chunk runner that spreads skinning over threads: every chunk exactly once, also when two
// threads start jobs at the same time and when jobs follow each other closely.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "character/core/ParallelChunks.h"

namespace {

struct TCounts {
  std::vector<std::atomic<int>> Seen;
  explicit TCounts(size_t ACount) : Seen(ACount) {}
  // A few microseconds of work before the count, so that a job that returned before its last
  // chunk had finished is seen.
  static void Count(void* AContext, size_t AIndex) {
    volatile unsigned Spin = 0;
    for (int I = 0; I < 3000; ++I) Spin = Spin + 1;
    static_cast<TCounts*>(AContext)->Seen[AIndex].fetch_add(1);
  }
  int Wrong() const {
    int N = 0;
    for (const auto& S : Seen) N += S.load() != 1;
    return N;
  }
};

TEST(ParallelChunks, RunsEveryChunkOnceOverManyJobsInARow) {
  for (size_t Count : {0u, 1u, 2u, 3u, 64u, 1000u}) {
    for (int Job = 0; Job < 200; ++Job) {
      TCounts C(Count);
      RunChunks(Count, &TCounts::Count, &C);
      ASSERT_EQ(C.Wrong(), 0) << Count << " chunks, job " << Job;
    }
  }
}

TEST(ParallelChunks, JobsFromTwoThreadsAtOnceEachRunEveryChunkOnce) {
  auto Jobs = [](int* AWrong) {
    for (int Job = 0; Job < 300; ++Job) {
      TCounts C(97);
      RunChunks(97, &TCounts::Count, &C);
      *AWrong += C.Wrong();
    }
  };
  int WrongA = 0, WrongB = 0;
  std::thread Other(Jobs, &WrongB);
  Jobs(&WrongA);
  Other.join();
  EXPECT_EQ(WrongA, 0);
  EXPECT_EQ(WrongB, 0);
  EXPECT_GE(ChunkThreads(), 1u);
}

}  // namespace
