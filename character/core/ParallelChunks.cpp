#include "character/core/ParallelChunks.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The process's workers. A job is published under the mutex with a new generation number; a worker
// that wakes while it is open joins it and takes chunks from the shared counter until none are
// left. The caller closes the job when it runs dry and waits only for the workers that joined.
class TChunkWorkers {
 public:
  TChunkWorkers() {
    const unsigned Cores = std::max(1u, std::thread::hardware_concurrency());
    // Beyond four threads the loops this serves are limited by memory, not arithmetic.
    const unsigned Workers = std::min(Cores, 4u) - 1;
    for (unsigned I = 0; I < Workers; ++I) FThreads.emplace_back([this] { Work(); });
  }
  ~TChunkWorkers() {
    {
      std::lock_guard<std::mutex> Lock(FMutex);
      FStopping = true;
    }
    FWake.notify_all();
    for (std::thread& T : FThreads) T.join();
  }

  std::size_t Threads() const { return FThreads.size() + 1; }

  void Run(std::size_t ACount, void (*AChunk)(void*, std::size_t), void* AContext) {
    if (!Open(ACount, AChunk, AContext)) {
      for (std::size_t I = 0; I < ACount; ++I) AChunk(AContext, I);
      return;
    }
    Close();
  }

  // Publishes a job to the workers; false (nothing published) when there are none, the job is too
  // small to share, or another job is running (from another thread, or still open on this one).
  bool Open(std::size_t ACount, void (*AChunk)(void*, std::size_t), void* AContext) {
    if (FThreads.empty() || ACount < 2 || OpenHere) return false;
    if (!FRunMutex.try_lock()) return false;
    OpenHere = true;
    {
      std::lock_guard<std::mutex> Lock(FMutex);
      FChunk = AChunk;
      FContext = AContext;
      FCount = ACount;
      FNext.store(0, std::memory_order_relaxed);
      FOpen = true;
      ++FGeneration;
    }
    FWake.notify_all();
    return true;
  }

  // Runs the chunks left on the calling thread, then closes the job: a worker that wakes from now
  // on leaves it alone. Waits only for those that joined it and may still be inside a chunk; a
  // worker still asleep costs the caller nothing.
  void Close() {
    Drain();
    {
      std::unique_lock<std::mutex> Lock(FMutex);
      FOpen = false;
      FDone.wait(Lock, [this] { return FJoined == 0; });
    }
    OpenHere = false;
    FRunMutex.unlock();
  }

 private:
  void Drain() {
    for (;;) {
      const std::size_t I = FNext.fetch_add(1, std::memory_order_relaxed);
      if (I >= FCount) return;
      FChunk(FContext, I);
    }
  }

  void Work() {
    std::uint64_t Seen = 0;
    std::unique_lock<std::mutex> Lock(FMutex);
    for (;;) {
      FWake.wait(Lock, [&] { return FStopping || FGeneration != Seen; });
      if (FStopping) return;
      Seen = FGeneration;
      if (!FOpen) continue;  // woke after the caller had finished the job alone
      ++FJoined;
      Lock.unlock();
      Drain();
      Lock.lock();
      if (--FJoined == 0) FDone.notify_one();
    }
  }

  std::vector<std::thread> FThreads;
  std::mutex FRunMutex;  // one job at a time
  // This thread holds FRunMutex (a job of its own is open): a second one runs inline.
  static thread_local bool OpenHere;
  std::mutex FMutex;
  std::condition_variable FWake, FDone;
  bool FStopping = false;
  std::uint64_t FGeneration = 0;
  bool FOpen = false;       // the current job takes workers
  std::size_t FJoined = 0;  // workers inside the current job
  void (*FChunk)(void*, std::size_t) = nullptr;
  void* FContext = nullptr;
  std::size_t FCount = 0;
  std::atomic<std::size_t> FNext{0};
};

thread_local bool TChunkWorkers::OpenHere = false;

TChunkWorkers& Workers() {
  static TChunkWorkers Instance;
  return Instance;
}

}  // namespace

void RunChunks(std::size_t ACount, void (*AChunk)(void*, std::size_t), void* AContext) {
  Workers().Run(ACount, AChunk, AContext);
}

TChunkJob::TChunkJob(std::size_t ACount, void (*AChunk)(void*, std::size_t), void* AContext)
    : FCount(ACount), FChunk(AChunk), FContext(AContext) {
  FShared = Workers().Open(ACount, AChunk, AContext);
}

void TChunkJob::Finish() {
  if (FFinished) return;
  FFinished = true;
  if (FShared)
    Workers().Close();
  else
    for (std::size_t I = 0; I < FCount; ++I) FChunk(FContext, I);
}

std::size_t ChunkThreads() {
  return Workers().Threads();
}
