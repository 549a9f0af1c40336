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
  std::vector<std::string> boxes;
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
