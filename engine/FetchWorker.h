// The worker that fetches one URL on a thread of its own.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/EngineContext.h"
#include "engine/Fetch.h"

// Fetches request.url and hands one FetchResult to request.handOver; never throws.
void FetchWorker(FetchRequest request);

// Starts a worker thread for a request (the default launcher); false when no thread could
// be started.
bool LaunchFetchWorker(FetchRequest&& request);
// Number of fetches started by LaunchFetchWorker that have not returned yet.
int RunningWorkerCount();
// Waits for every fetch, then ends the idle worker threads (at an orderly quit).
void ShutdownWorkerThreads();
