#include "engine/Host.h"

#include <atomic>
#include <cstdio>

namespace {

class SilentHost : public IWexoHost {
 public:
  BoxAnswer MessageBox(const std::string& text, BoxKind kind) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
  }
  void Beep() override {}
  void Quit(int) override {}
};

SilentHost silentHost;
std::atomic<IWexoHost*> currentHost{&silentHost};

}  // namespace

IWexoHost& Host() { return *currentHost.load(std::memory_order_acquire); }

void SetHost(IWexoHost* host) { currentHost.store(host ? host : &silentHost, std::memory_order_release); }
