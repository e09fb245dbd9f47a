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

// How many threads RunChunks spreads a job over, the caller included (1 on a single core).
std::size_t ChunkThreads();
