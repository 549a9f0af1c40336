// An engine context for tests that ask nothing of the host: boxes are kept, never answered.
#pragma once

#include <string>
#include <vector>

#include "engine/Application.h"
#include "engine/EngineContext.h"
#include "engine/Host.h"

class QuietHost : public IWexoHost {
 public:
  BoxAnswer MessageBox(const std::string& text, BoxKind kind) override {
    boxes.push_back(text);
    return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
  }
  void Beep() override {}
  void Quit(int) override {}
  void RaiseExitCode(int) override {}
  std::unique_ptr<IAbortBox> CreateAbortBox(const std::string&) override { return std::make_unique<Box>(); }
  std::vector<std::string> boxes;

 private:
  struct Box : IAbortBox {
    void SetTopText(const std::string&) override {}
    void SetBottomText(const std::string&) override {}
    void PumpWaitingMessages() override {}
    bool IsAborted() const override { return aborted; }
    void SetAborted() override { aborted = true; }
    bool aborted = false;
  };
};

struct QuietContext {
  EngineContext Context() {
    EngineContext context;
    context.host = &host;
    context.app = &app;
    return context;
  }
  QuietHost host;
  CWexoApp app;
};
