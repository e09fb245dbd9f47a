// RunChunks: runs the chunks of one job on the calling thread and on a few worker threads
// shared by the whole process, for the per-frame loops that are too long for one core (skinning a
// large model). Chunks are handed out one at a time, so a worker that wakes late only takes fewer
// of them; the caller never waits for a chunk nobody has started. Standard library only.
#pragma once

#include <cstddef>

// AChunk(AContext, I) for every I in [0, ACount), each exactly once, spread over the caller and
// the workers; returns when all are done. A call made while another one is running (from a second
// thread) runs all its chunks on its own thread.
void RunChunks(std::size_t ACount, void (*AChunk)(void* AContext, std::size_t AIndex),
               void* AContext);

// A job whose chunks the workers start on at once while the caller goes on with other work (the
// physics step); Finish (or the destructor) runs what nobody has taken on the calling thread and
// waits for the rest. Without free workers, or when a job is already open on this thread, every
// chunk runs in Finish. RunChunks called by the opener while the job is open runs inline.
class TChunkJob {
 public:
  TChunkJob(std::size_t ACount, void (*AChunk)(void* AContext, std::size_t AIndex), void* AContext);
  ~TChunkJob() { Finish(); }
  TChunkJob(const TChunkJob&) = delete;
  TChunkJob& operator=(const TChunkJob&) = delete;
  void Finish();

 private:
  std::size_t FCount;
  void (*FChunk)(void*, std::size_t);
  void* FContext;
  bool FShared = false;  // published to the workers
  bool FFinished = false;
};

// How many threads RunChunks spreads a job over, the caller included (1 on a single core).
std::size_t ChunkThreads();
