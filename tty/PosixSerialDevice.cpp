// Opening and closing the tty, and its line settings (speed, framing, flow control, timeouts).
#include "tty/PosixSerialShared.h"

using namespace posix_tty;

namespace {


struct TSpeed {
  uint32_t Rate;
  speed_t Code;
};

constexpr TSpeed Speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool StandardSpeed(uint32_t rate, speed_t &code) {
  for (const TSpeed &s : Speeds)
    if (s.Rate == rate) {
      code = s.Code;
      return true;
    }
  return false;
}

uint32_t RateOf(speed_t code) {
  for (const TSpeed &s : Speeds)
    if (s.Code == code)
      return s.Rate;
  return 0;
}

// The DCB a freshly opened device reports until the first SetCommState.
DCB DcbFromTermios(int fd, const termios &t, bool hasLines, int lines) {
  DCB dcb;
  dcb.DCBlength = sizeof(DCB);
  uint32_t in = 0, out = RateOf(cfgetospeed(&t));
  if (out == 0)
    GetLineSpeed(fd, in, out);
  dcb.BaudRate = out;
  dcb.fBinary = 1;
  dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
  const bool rtscts = (t.c_cflag & CRTSCTS) != 0;
  dcb.fOutxCtsFlow = rtscts;
  dcb.fDtrControl = (hasLines && (lines & TIOCM_DTR)) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
  dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  dcb.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE
                           : ((hasLines && (lines & TIOCM_RTS)) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
  switch (t.c_cflag & CSIZE) {
  case CS5: dcb.ByteSize = 5; break;
  case CS6: dcb.ByteSize = 6; break;
  case CS7: dcb.ByteSize = 7; break;
  default: dcb.ByteSize = 8; break;
  }
  if (!(t.c_cflag & PARENB))
    dcb.Parity = NOPARITY;
  else if (t.c_cflag & CMSPAR)
    dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else
    dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb.XonChar = char(t.c_cc[VSTART]);
  dcb.XoffChar = char(t.c_cc[VSTOP]);
  return dcb;
}

void ApplyDcb(const DCB &dcb, termios &t) {
  t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                         INPCK | IGNPAR);
  // With checking on, faulty bytes arrive marked so the input filter can pass or replace them;
  // without it the kernel hands them over as NUL.
  if (dcb.fParity)
    t.c_iflag |= INPCK | PARMRK;
  if (dcb.fOutX)
    t.c_iflag |= IXON;
  if (dcb.fInX)
    t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = cc_t(dcb.XonChar);
  t.c_cc[VSTOP] = cc_t(dcb.XoffChar);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= sizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
  case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
  case EVENPARITY: t.c_cflag |= PARENB; break;
  case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
  case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
  default: break;
  }
  if (dcb.StopBits != ONESTOPBIT)
    t.c_cflag |= CSTOPB;
  // Linux has one switch for both directions of the RTS/CTS handshake.
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
    t.c_cflag |= CRTSCTS;
}

} // namespace

#include "tty/PortDiagnosis.h"

std::string ResolveSerialDeviceName(const std::string &name) {
  if (!name.empty() && name.front() == '/')
    return name;
  return "/dev/" + name;
}

// ---------------------------------------------------------------------------------------------
// TPosixSerialDevice


TPosixSerialDevice::~TPosixSerialDevice() { DoClose(); }

bool TPosixSerialDevice::IsOpen() const {
  std::lock_guard lock(FMutex);
  return FFd >= 0 && !FClosing;
}

bool TPosixSerialDevice::HungUp() const {
  std::lock_guard lock(FMutex);
  return FHungUp;
}

std::string TPosixSerialDevice::Path() const {
  std::lock_guard lock(FMutex);
  return FPath;
}

int TPosixSerialDevice::Fd() const {
  std::lock_guard lock(FMutex);
  return FFd;
}

bool TPosixSerialDevice::WaitBlocked() const {
  std::lock_guard lock(FMutex);
  return FWaitBlocked;
}

bool TPosixSerialDevice::ReadBlocked() const {
  std::lock_guard lock(FMutex);
  return FReaderBlocked;
}

bool TPosixSerialDevice::WriteBlocked() const {
  std::lock_guard lock(FMutex);
  return FWriterBlocked;
}

bool TPosixSerialDevice::HasModemLines() const {
  std::lock_guard lock(FMutex);
  return FHasModemLines;
}

int TPosixSerialDevice::DoOpen(const std::string &name) {
  std::lock_guard lock(FMutex);
  if (FFd >= 0 || FClosing)
    return EBUSY;
  FPath = ResolveSerialDeviceName(name);
  // Opening the pty multiplexer would create a new, empty pseudo-terminal: not a serial port.
  struct stat st {};
  if (::stat(FPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && IsPtyMultiplexer(st.st_rdev))
    return ENOTTY;
  int fd = ::open(FPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return errno;
  auto fail = [&fd](int error) {
    ::close(fd);
    return error;
  };
  // Checked again on what was opened: the path may have changed in between.
  if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && IsPtyMultiplexer(st.st_rdev))
    return fail(ENOTTY);
  termios t{};
  if (::tcgetattr(fd, &t) != 0)
    return fail(errno);
  // flock also excludes root, whom TIOCEXCL does not stop.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  // Root gets past another opener's TIOCEXCL, which still means that opener wants the tty alone.
  // So the flag is always this device's own while it is open, and Close may clear it. A kernel
  // without TIOCGEXCL let the open through, which for anyone but root means the flag was clear.
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
    return fail(EBUSY);
  if (::ioctl(fd, TIOCEXCL) != 0)
    return fail(errno);
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    ::ioctl(fd, TIOCNXCL);
    return fail(errno);
  }
  int wakes[3] = {NewWake(), NewWake(), NewWake()};
  if (wakes[0] < 0 || wakes[1] < 0 || wakes[2] < 0) {
    const int error = errno;
    for (int &w : wakes)
      CloseFd(w);
    ::ioctl(fd, TIOCNXCL);
    return fail(error);
  }
  ::tcgetattr(fd, &t);
  int lines = 0;
  FHasModemLines = ::ioctl(fd, TIOCMGET, &lines) == 0;
  FHasCounters = ReadCounters(FEventCounters);
  FErrorCounters = FModemCounters = FEventCounters;
  FModemLines = FHasModemLines ? lines : 0;
  FDcb = DcbFromTermios(fd, t, FHasModemLines, lines);
  FFilter.Configure(false, false, 0, false);

  FFd = fd;
  FWaitWake = wakes[0];
  FReadWake = wakes[1];
  FWriteWake = wakes[2];
  FTimeouts = DefaultCommTimeouts();
  FInQueue = FOutQueue = 0;
  FMask = 0;
  FIn.clear();
  FInHead = 0;
  FLatched = 0;
  FCancelled = false;
  FTxPending = false;
  FOutQueued = false;
  FDrainWaitMs = 0;
  FHungUp = false;
  FHangupError = 0;
  FModemWatchFailed = false;
  return 0;
}

int TPosixSerialDevice::DoClose() {
  {
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
      return EBADF;
    FClosing = true;
    Signal(FWaitWake);
    Signal(FReadWake);
    Signal(FWriteWake);
  }
  {
    std::lock_guard watch(FWatchMutex);
    FModemWatch.Stop();
  }
  std::unique_lock lock(FMutex);
  FLeft.wait(lock, [this] { return FInside == 0; });
  if (!FHungUp) {
    // close() would otherwise wait up to the driver's closing time (30 s on UARTs) for output
    // stuck behind flow control.
    ::tcflush(FFd, TCOFLUSH);
    // The flag outlives this descriptor while another one holds the tty (a pty's keeper). It is
    // ours: Open refuses a tty that has it set already.
    ::ioctl(FFd, TIOCNXCL);
  }
  int result = ::close(FFd) == 0 || errno == EINTR ? 0 : errno;
  FFd = -1;
  CloseFd(FWaitWake);
  CloseFd(FReadWake);
  CloseFd(FWriteWake);
  FIn.clear();
  FIn.shrink_to_fit();
  FInHead = 0;
  FClosing = false;
  return result;
}

int TPosixSerialDevice::DoSetCommState(const DCB &dcb) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  termios t{};
  if (::tcgetattr(FFd, &t) != 0)
    return errno;
  ApplyDcb(dcb, t);
  speed_t code;
  const bool standard = StandardSpeed(dcb.BaudRate, code);
  if (standard) {
    ::cfsetispeed(&t, code);
    ::cfsetospeed(&t, code);
  }
  FRefused.clear();
  if (::tcsetattr(FFd, TCSANOW, &t) != 0)
    return errno;
  if (!standard)
    if (int e = SetCustomLineSpeed(FFd, dcb.BaudRate))
      return e;
  // A UART driver keeps its previous speed (or drops mark parity, RTS/CTS) without failing the
  // call. A tty without modem lines is virtual: a pty forces 8 bits, and no line can be wrong.
  TLineSettings actual;
  if (FHasModemLines && ReadLineSettings(FFd, actual) == 0) {
    FRefused = CompareLineSettings(LineSettingsOf(dcb), actual);
    if (!FRefused.empty())
      return EINVAL;
  }
  if (int e = SetLine(FFd, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE))
    return e;
  if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
    if (int e = SetLine(FFd, TIOCM_RTS, dcb.fRtsControl != RTS_CONTROL_DISABLE))
      return e;
  FDcb = dcb;
  FDcb.DCBlength = sizeof(DCB);
  FFilter.Configure(dcb.fParity, dcb.fParity && dcb.fErrorChar, dcb.ErrorChar, dcb.fNull);
  return 0;
}

std::vector<TRefusedSetting> TPosixSerialDevice::RefusedSettings() const {
  std::lock_guard lock(FMutex);
  return FRefused;
}

int TPosixSerialDevice::DoGetCommState(DCB &dcb) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  dcb = FDcb;
  return 0;
}

int TPosixSerialDevice::DoSetCommTimeouts(const COMMTIMEOUTS &timeouts) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  FTimeouts = timeouts;
  return 0;
}

int TPosixSerialDevice::DoGetCommTimeouts(COMMTIMEOUTS &timeouts) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  timeouts = FTimeouts;
  return 0;
}
