// The chunk runner that spreads skinning over threads: every chunk exactly once, also when two
// threads start jobs at the same time and when jobs follow each other closely.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "character/core/ParallelChunks.h"

namespace {

struct TCounts {
  std::vector<std::atomic<int>> Seen;
  std::atomic<int> Outside{0};  // chunks run with an index past the job's count
  explicit TCounts(size_t ACount) : Seen(ACount) {}
  // A few microseconds of work before the count, so that a job that returned before its last
  // chunk had finished is seen.
  static void Count(void* AContext, size_t AIndex) {
    volatile unsigned Spin = 0;
    for (int I = 0; I < 3000; ++I) Spin = Spin + 1;
    TCounts& C = *static_cast<TCounts*>(AContext);
    if (AIndex < C.Seen.size())
      C.Seen[AIndex].fetch_add(1);
    else
      C.Outside.fetch_add(1);
  }
  // Chunks not run exactly once, plus chunks that should not exist.
  int Wrong() const {
    int N = Outside.load();
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
}

// The runner spreads a job over no more threads than the machine has cores: more would only take
// turns on them.
TEST(ParallelChunks, ThreadsNeverOutnumberTheCores) {
  EXPECT_LE(ChunkThreads(), std::max(1u, std::thread::hardware_concurrency()));
}

// A job opened before other work: the workers run its chunks meanwhile (on a machine with more
// than one core), a RunChunks from the opener in between runs inline, and Finish leaves nothing
// undone.
TEST(ParallelChunks, OpenJobRunsBesideTheCallersWorkAndFinishesEveryChunk) {
  for (size_t Count : {0u, 1u, 7u, 200u}) {
    for (int Job = 0; Job < 100; ++Job) {
      TCounts C(Count), Inner(13);
      TChunkJob Open(Count, &TCounts::Count, &C);
      RunChunks(13, &TCounts::Count, &Inner);
      EXPECT_EQ(Inner.Wrong(), 0);
      Open.Finish();
      ASSERT_EQ(C.Wrong(), 0) << Count << " chunks, job " << Job;
      Open.Finish();  // a second Finish (and the destructor) runs nothing again
      ASSERT_EQ(C.Wrong(), 0);
    }
  }
  if (ChunkThreads() < 2) GTEST_SKIP() << "one core: no worker to run beside the caller";
  struct TFirst {
    std::thread::id Caller;
    std::atomic<int> ByWorker{0};
    static void Chunk(void* AContext, size_t) {
      auto& F = *static_cast<TFirst*>(AContext);
      if (std::this_thread::get_id() != F.Caller) F.ByWorker.fetch_add(1);
    }
  } First;
  First.Caller = std::this_thread::get_id();
  TChunkJob Open(50, &TFirst::Chunk, &First);
  for (int Wait = 0; Wait < 10000 && First.ByWorker.load() == 0; ++Wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GT(First.ByWorker.load(), 0) << "no worker took a chunk while the caller was busy";
}

}  // namespace
