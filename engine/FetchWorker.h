// The worker that fetches one URL on a thread of its own.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/EngineContext.h"
#include "engine/Fetch.h"

// Fetches request.url and hands one FetchResult to request.handOver; never throws.
void FetchWorker(FetchRequest request);

// Gives a request to a worker thread (the default launcher): one that sleeps, one finishing its
// fetch, else a new one; false when no thread could be started.
bool LaunchFetchWorker(FetchRequest&& request);
// Number of fetches started by LaunchFetchWorker that have not returned yet.
int RunningWorkerCount();
struct WorkerThreadCounts {
  int alive = 0;    // threads running a fetch or waiting for one
  int started = 0;  // threads started since the program began
};
WorkerThreadCounts GetWorkerThreadCounts();
// Ends the threads that wait for a fetch (a check has ended); the others stay.
void ReleaseIdleWorkerThreads();
// Waits for every fetch, then ends every worker thread (at an orderly quit).
void ShutdownWorkerThreads();
