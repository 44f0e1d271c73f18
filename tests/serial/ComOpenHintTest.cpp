// The second line of an open failure: what is wrong with this port and what to do, from facts a
// fake gives, and from real paths that are no serial port or are held by another process.
#include "serial/ComOpenHint.h"
#include "serial/ComPort.h"

#include "tty/PseudoTerminal.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <regex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(OpenFailureHint, saysWhatIsWrongAndWhatToDo) {
  const std::string dialout =
      "Add your user to the 'dialout' group (sudo usermod -aG dialout $USER) and log in again.";
  const struct {
    std::string Port;
    int Error;
    std::vector<std::string> Ports;
    std::vector<TDeviceHolder> Holders;
    std::optional<TDeviceAccess> Access; // owner, group, owner is me, group rw, in group, pty, mode
    std::string Expected;
  } cases[] = {
      {"COM10", ENOENT, {"ttyACM0", "ttyUSB0"}, {}, {},
       "There is no port COM10 (/dev/COM10). Choose one of the ports found: ttyACM0, ttyUSB0."},
      {"/dev/ttyUSB0", ENOENT, {}, {}, {},
       "There is no port /dev/ttyUSB0 and no serial port was found on this machine. Plug the board in: it "
       "appears as ttyUSB0 (USB serial adapter) or ttyACM0 (board with its own USB), then choose it."},
      {"ttyUSB0", EBUSY, {}, {{17, "screen"}, {4242, "minicom"}}, {},
       "/dev/ttyUSB0 is in use by screen (pid 17), minicom (pid 4242). Close it there, then connect again."},
      {"ttyACM0", EBUSY, {}, {}, {}, "/dev/ttyACM0 is in use by another program. Close it there, then connect again."},
      {"ttyUSB0", EACCES, {}, {}, TDeviceAccess{"root", "dialout", false, true, false, false, 0660}, dialout},
      {"ttyUSB0", EACCES, {}, {}, TDeviceAccess{"root", "uucp", false, true, false, false, 0660},
       "Add your user to the 'uucp' group (sudo usermod -aG uucp $USER) and log in again."},
      {"/dev/pts/3", EACCES, {}, {}, TDeviceAccess{"alice", "tty", false, false, false, true, 0620},
       "/dev/pts/3 is a pseudo-terminal of user alice: only that user can open it."},
      {"ttyS0", EACCES, {}, {}, TDeviceAccess{"root", "dialout", false, false, true, false, 0600},
       "/dev/ttyS0 may not be opened by this user (owner root, group dialout, mode 0600)."},
      {"ttyS4", EIO, {}, {}, {}, "/dev/ttyS4 could not be opened: Input/output error."},
  };
  for (const auto &c : cases) {
    TOpenHintSources fake;
    fake.ListPorts = [&] { return c.Ports; };
    fake.FindHolders = [&](const std::string &path) {
      return path == "/dev/" + c.Port ? c.Holders : std::vector<TDeviceHolder>{};
    };
    fake.InspectAccess = [&](const std::string &, TDeviceAccess &a) {
      a = c.Access.value_or(a);
      return c.Access.has_value();
    };
    EXPECT_EQ(OpenFailureHint(c.Port, c.Error, fake), c.Expected) << c.Port << " " << c.Error;
    // The window's German says the same facts: the device and whoever holds it.
    const std::string german = OpenFailureHint(c.Port, c.Error, fake, TWording::German);
    EXPECT_NE(german, c.Expected);
    const std::regex named(R"(/dev/[A-Za-z0-9]+(/[0-9]+)?|'[a-z]+'|[a-z]+ \(pid [0-9]+\)|ttyACM0|ttyUSB0)");
    for (auto m = std::sregex_iterator(c.Expected.begin(), c.Expected.end(), named); m != std::sregex_iterator(); ++m) {
      std::string name = m->str();
      if (name.front() == '\'') name = name.substr(1, name.size() - 2);
      EXPECT_NE(german.find(name), std::string::npos) << name << " in " << german;
    }
  }
}

std::string OpenMessage(const std::string &name) {
  TComPort port;
  port.SetPort(name);
  try {
    port.SetConnected(true);
  } catch (const EComPort &e) {
    return e.what();
  }
  return "opened";
}

// Real paths, among them a pseudo-terminal that a child process of the test holds.
TEST(OpenFailureHint, realPathsSayWhyTheyAreNoUsablePort) {
  TPseudoTerminal pty;
  ASSERT_EQ(pty.Open(), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) { // system calls only: the parent has threads
    ::prctl(PR_SET_NAME, "telmora-holder");
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    const char held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCEXCL) == 0;
    if (::write(ready[1], &held, 1) == 1) ::pause(); // until the test ends it
    ::_exit(1);
  }
  ASSERT_GT(child, 0);
  ::close(ready[1]); // a child that failed early then ends the read
  char held = 0;
  EXPECT_TRUE(::read(ready[0], &held, 1) == 1 && held);
  ::close(ready[0]);
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/null", "Unable to open com port (Error: 25)\n/dev/null is not a serial port."},
      {folder, "Unable to open com port (Error: 21)\n" + folder + " is a directory, not a serial port."},
      {"ptmx", "Unable to open com port (Error: 25)\n/dev/ptmx is not a serial port."}, // no new pty
      {"/dev/telmora-missing-7", "Unable to open com port (Error: 2)\nThere is no port /dev/telmora-missing-7"},
      {pty.SlavePath(), "Unable to open com port (Error: 16)\n" + pty.SlavePath() + " is in use by telmora-holder (pid " +
                            std::to_string(child) + "). Close it there, then connect again."}};
  for (const auto &[port, expected] : cases) EXPECT_EQ(OpenMessage(port).substr(0, expected.size()), expected);
  ::kill(child, SIGKILL);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
}

} // namespace
