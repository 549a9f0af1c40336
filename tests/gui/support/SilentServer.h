// A server on loopback that takes connections and never answers: fetches from it stay running
// until they are stopped.
#pragma once

namespace wexo_gui {

class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int fd = -1;
  // 0 when the server could not start.
  int port = 0;
};

}  // namespace wexo_gui
