// The second line of an open failure: what is wrong with this port and what to do, from the
// facts a fake gives, and from real devices that refuse to be a serial port.
#include "serial/ComOpenHint.h"
#include "serial/ComPort.h"

#include "platform/PosixSerialDevice.h"
#include "platform/PseudoTerminal.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct THintCase {
  const char *Name;
  std::string Port;
  int Error;
  std::vector<std::string> Ports;
  std::vector<TDeviceHolder> Holders;
  std::optional<TDeviceAccess> Access;
  std::string Expected;
};

TDeviceAccess Access(const char *owner, const char *group, bool groupRw, bool inGroup, bool pty, unsigned mode) {
  TDeviceAccess a;
  a.Owner = owner;
  a.Group = group;
  a.GroupMayReadWrite = groupRw;
  a.InGroup = inGroup;
  a.PseudoTerminal = pty;
  a.Mode = mode;
  return a;
}

TEST(OpenFailureHint, saysWhatIsWrongAndWhatToDo) {
  const std::string dialout =
      "Add your user to the 'dialout' group (sudo usermod -aG dialout $USER) and log in again.";
  const THintCase cases[] = {
      {"missing, others there", "COM10", ENOENT, {"ttyACM0", "ttyUSB0"}, {}, {},
       "There is no port COM10 (/dev/COM10). Choose one of the ports found: ttyACM0, ttyUSB0."},
      {"missing, none there", "/dev/ttyUSB0", ENOENT, {}, {}, {},
       "There is no port /dev/ttyUSB0 and no serial port was found on this machine. Plug the board in: it "
       "appears as ttyUSB0 (USB serial adapter) or ttyACM0 (board with its own USB), then choose it."},
      {"busy, holder known", "ttyUSB0", EBUSY, {}, {{4242, "minicom"}}, {},
       "/dev/ttyUSB0 is in use by minicom (pid 4242). Close it there, then connect again."},
      {"busy, two holders", "ttyACM0", EBUSY, {}, {{17, "screen"}, {4242, "minicom"}}, {},
       "/dev/ttyACM0 is in use by screen (pid 17), minicom (pid 4242). Close it there, then connect again."},
      {"busy, holder unknown", "ttyACM0", EBUSY, {}, {}, {},
       "/dev/ttyACM0 is in use by another program. Close it there, then connect again."},
      {"denied, dialout device", "ttyUSB0", EACCES, {}, {}, Access("root", "dialout", true, false, false, 0660),
       dialout},
      {"denied, nothing known", "ttyUSB0", EACCES, {}, {}, {}, dialout},
      {"denied, another group", "ttyUSB0", EACCES, {}, {}, Access("root", "uucp", true, false, false, 0660),
       "Add your user to the 'uucp' group (sudo usermod -aG uucp $USER) and log in again."},
      {"denied, another user's pty", "/dev/pts/3", EACCES, {}, {}, Access("alice", "tty", false, false, true, 0620),
       "/dev/pts/3 is a pseudo-terminal of user alice: only that user can open it."},
      {"denied, group no help", "ttyS0", EACCES, {}, {}, Access("root", "dialout", false, true, false, 0600),
       "/dev/ttyS0 may not be opened by this user (owner root, group dialout, mode 0600)."},
      {"not a tty", "/tmp/x", ENOTTY, {}, {}, {}, "/tmp/x is not a serial port."},
      {"other reason", "ttyS4", EIO, {}, {}, {}, "/dev/ttyS4 could not be opened: Input/output error."},
  };
  for (const THintCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TOpenHintSources fake;
    fake.ListPorts = [&] { return c.Ports; };
    fake.FindHolders = [&](const std::string &path) {
      EXPECT_EQ(path, ResolveSerialDeviceName(c.Port));
      return c.Holders;
    };
    fake.InspectAccess = [&](const std::string &, TDeviceAccess &a) {
      if (c.Access) a = *c.Access;
      return c.Access.has_value();
    };
    EXPECT_EQ(OpenFailureHint(c.Port, c.Error, fake), c.Expected);
  }
}

std::string OpenMessage(const std::string &name) {
  TComPort port;
  port.SetPort(name);
  try {
    port.SetConnected(true);
  } catch (const EComPort &e) {
    EXPECT_FALSE(port.Connected());
    return e.what();
  }
  return "opened";
}

TEST(OpenFailureHint, realDevicesThatAreNoSerialPort) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  const struct {
    std::string Port, Expected;
  } cases[] = {
      {"/dev/null", "Unable to open com port (Error: 25)\n/dev/null is not a serial port."},
      {folder, "Unable to open com port (Error: 21)\n" + folder + " is a directory, not a serial port."},
      // It would make a new, empty pseudo-terminal.
      {"/dev/ptmx", "Unable to open com port (Error: 25)\n/dev/ptmx is not a serial port."},
      {"ptmx", "Unable to open com port (Error: 25)\n/dev/ptmx is not a serial port."},
  };
  for (const auto &c : cases) EXPECT_EQ(OpenMessage(c.Port), c.Expected) << c.Port;
  const std::string missing = OpenMessage("/dev/telmora-missing-7");
  EXPECT_EQ(missing.rfind("Unable to open com port (Error: 2)\nThere is no port /dev/telmora-missing-7", 0), 0u)
      << missing;
}

TEST(OpenFailureHint, aPortHeldByAnotherProcessNamesIt) {
  TPseudoTerminal pty;
  ASSERT_EQ(pty.Open(), 0);
  int ready[2], release[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only system calls here: the parent has threads.
    ::close(ready[0]);
    ::close(release[1]); // else the read below never sees the parent let go
    ::prctl(PR_SET_NAME, "telmora-holder");
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCEXCL) == 0;
    const char state = held ? 'y' : 'n';
    [[maybe_unused]] ssize_t w = ::write(ready[1], &state, 1);
    char byte;
    [[maybe_unused]] ssize_t r = ::read(release[0], &byte, 1); // returns once the parent lets go
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char state = 0;
  ASSERT_EQ(::read(ready[0], &state, 1), 1);
  ::close(ready[0]);
  const std::string message = state == 'y' ? OpenMessage(pty.SlavePath()) : "the child could not hold the pty";
  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(message, "Unable to open com port (Error: 16)\n" + pty.SlavePath() + " is in use by telmora-holder (pid " +
                         std::to_string(child) + "). Close it there, then connect again.");
}

} // namespace
