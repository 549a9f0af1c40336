#include "unit/support/LocalUser.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace wexo_test {
namespace {

constexpr const char* kName = "wexo-tester";

bool Find(LocalUser& user) {
  const passwd* pw = ::getpwnam(kName);
  if (!pw) return false;
  user.name = kName;
  user.uid = pw->pw_uid;
  user.gid = pw->pw_gid;
  return true;
}

}  // namespace

bool SecondLocalUser(LocalUser& user) {
  if (Find(user)) return true;
  if (::geteuid() != 0) return false;
  // Test programs run side by side: when another one makes the account first, this useradd
  // fails and the account is there all the same.
  [[maybe_unused]] const int made = std::system(
      "useradd --system --no-create-home --user-group --shell /usr/sbin/nologin wexo-tester >/dev/null 2>&1");
  return Find(user);
}

pid_t StartAsUser(const LocalUser& user, const std::function<bool()>& step) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) ::_exit(2);
    ::_exit(step() ? 0 : 1);
  }
  return child;
}

int ExitCode(pid_t child) {
  if (child < 0) return -1;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int AsUser(const LocalUser& user, const std::function<bool()>& step) { return ExitCode(StartAsUser(user, step)); }

}  // namespace wexo_test
