// A worker launcher for tests: it keeps each request instead of starting a thread, and hands
// back what a worker would, when the test says so.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/EngineContext.h"
#include "engine/Fetch.h"

class FakeWorkers {
 public:
  WorkerLauncher Launcher() {
    return [this](FetchRequest&& r) {
      if (refuse) return false;
      started.push_back(std::move(r));
      return true;
    };
  }

  // What the worker of r hands back: its record's outcome with status and text, no body.
  static FetchResult Result(const FetchRequest& r, std::int16_t status, const std::string& text = "") {
    FetchResult result;
    result.pLink = r.pLink;
    result.csUrl = r.url;
    result.outcome = std::make_unique<FetchOutcome>();
    result.outcome->status = status;
    result.outcome->statusText = text;
    return result;
  }

  // The hand-over of a finished fetch to a document, as the list view does it on the
  // user-interface thread.
  template <class Document>
  static void Finish(Document& doc, const FetchRequest& r, std::int16_t status, const std::string& text = "") {
    doc.OnUrlDone(Result(r, status, text));
  }

  std::vector<FetchRequest> started;
  bool refuse = false;  // no thread can be started
};
