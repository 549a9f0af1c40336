// A second local account for tests that run as root and need another user: to plant links in a
// shared folder, or to own a file in a folder it may not write to.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace wexo_test {

struct LocalUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The throwaway account "wexo-tester", made with useradd the first time (no home, no login);
// false when it neither exists nor can be made (not root, no useradd).
bool SecondLocalUser(LocalUser& user);

// Starts step in a child process that has become user (no supplementary groups); the child's
// pid, -1 when it cannot start.
pid_t StartAsUser(const LocalUser& user, const std::function<bool()>& step);
// Waits for such a child: 0 when step returned true, 1 when it returned false, 2 when it could
// not become user, -1 when it did not exit.
int ExitCode(pid_t child);
// Both: runs step as user and waits for it.
int AsUser(const LocalUser& user, const std::function<bool()>& step);

}  // namespace wexo_test
