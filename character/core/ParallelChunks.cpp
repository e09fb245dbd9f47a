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
    std::unique_lock<std::mutex> Busy(FRunMutex, std::try_to_lock);
    if (FThreads.empty() || ACount < 2 || !Busy.owns_lock()) {
      for (std::size_t I = 0; I < ACount; ++I) AChunk(AContext, I);
      return;
    }
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
    Drain();
    // Close the job: a worker that wakes from now on leaves it alone. Wait only for those that
    // joined it and may still be inside a chunk; a worker still asleep costs the caller nothing.
    std::unique_lock<std::mutex> Lock(FMutex);
    FOpen = false;
    FDone.wait(Lock, [this] { return FJoined == 0; });
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

TChunkWorkers& Workers() {
  static TChunkWorkers Instance;
  return Instance;
}

}  // namespace

void RunChunks(std::size_t ACount, void (*AChunk)(void*, std::size_t), void* AContext) {
  Workers().Run(ACount, AChunk, AContext);
}

std::size_t ChunkThreads() {
  return Workers().Threads();
}
