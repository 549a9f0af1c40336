// What a document needs from the program around it, given when the document is built.
#pragma once

#include <cstdint>
#include <functional>

class CWexoApp;
class ICheckOutputs;
class IWexoHost;
struct FetchRequest;

// Starts a worker thread for a request; false when no thread could be started.
using WorkerLauncher = std::function<bool(FetchRequest&&)>;

struct EngineContext {
  IWexoHost* host = nullptr;            // required: message boxes, dialogs, quitting
  CWexoApp* app = nullptr;              // required: the command line and the settings file
  ICheckOutputs* outputs = nullptr;     // nullptr: the end of a check writes nothing
  WorkerLauncher launcher;              // empty: a real worker thread per fetch
  std::function<std::int64_t()> clock;  // UTC seconds; empty: the system clock
};
