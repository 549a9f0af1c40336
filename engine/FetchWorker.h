// The worker that fetches one URL on a thread of its own.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/Fetch.h"

// Fetches request.url and hands one FetchResult to request.pView; never throws.
void FetchWorker(FetchRequest request);

// Starts a worker thread for a request; false when no thread could be started.
using WorkerLauncher = std::function<bool(FetchRequest&&)>;
bool LaunchFetchWorker(FetchRequest&& request);
// The launcher the scheduler uses (tests put a fake worker here); nullptr restores the real one.
void SetWorkerLauncher(WorkerLauncher launcher);
const WorkerLauncher& GetWorkerLauncher();
// Blocks until every fetch started by LaunchFetchWorker has returned.
void WaitForAllWorkers();
// Number of fetches started by LaunchFetchWorker that have not returned yet.
int RunningWorkerCount();
// Waits for every fetch, then ends the idle worker threads (at an orderly quit).
void ShutdownWorkerThreads();
