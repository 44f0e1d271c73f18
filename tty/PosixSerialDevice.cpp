#include "tty/PosixSerialDevice.h"
#include "tty/PortDiagnosis.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using TClock = std::chrono::steady_clock;

namespace {

constexpr uint32_t RxEvents = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL | EV_ERR | EV_BREAK;
constexpr uint32_t ModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr size_t DefaultInputSize = 4096;
constexpr size_t MaxInputSize = size_t(1) << 20;
constexpr size_t ReadAheadSize = 256 * 1024;
constexpr int MaxDrainWaitMs = 1000;

void Signal(int fd) {
  const uint64_t one = 1;
  // Only fails when the counter is saturated, and then the reader is woken anyway.
  [[maybe_unused]] ssize_t r = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
  uint64_t value;
  [[maybe_unused]] ssize_t r = ::read(fd, &value, sizeof value);
}

int NewWake() { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

void CloseFd(int &fd) {
  if (fd >= 0)
    ::close(fd);
  fd = -1;
}

// Devices without modem lines or counters answer these; that is not a failure.
bool Unsupported(int error) { return error == ENOTTY || error == EINVAL; }

// A tty whose line is gone fails reads, writes and ioctls with one of these.
bool LineGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

int MillisecondsUntil(TClock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return int(std::clamp<long long>(left, 0, INT_MAX));
}

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

// Raises or lowers modem output lines; a device without them (a pseudo-terminal) ignores this.
int SetLine(int fd, int line, bool on) {
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || Unsupported(errno))
    return 0;
  return errno;
}

void OnWakeSignal(int) {}

// The signal that interrupts a blocked loop step, or 0 when the process handles it itself.
int WakeSignal() {
  static const int sig = [] {
    const int s = SIGRTMIN + 4;
    struct sigaction old {};
    if (::sigaction(s, nullptr, &old) != 0)
      return 0;
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == OnWakeSignal)
      return s;
    if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
      return 0;
    struct sigaction sa {};
    sa.sa_handler = OnWakeSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: the blocked call must come back with EINTR
    return ::sigaction(s, &sa, nullptr) == 0 ? s : 0;
  }();
  return sig;
}

} // namespace

std::string ResolveSerialDeviceName(const std::string &name) {
  if (!name.empty() && name.front() == '/')
    return name;
  return "/dev/" + name;
}

// ---------------------------------------------------------------------------------------------
// TInputFilter

void TInputFilter::Configure(bool marked, bool replace, char errorChar, bool discardNull) {
  if (!marked)
    FState = 0;
  FMarked = marked;
  FReplace = replace;
  FErrorChar = errorChar;
  FDiscardNull = discardNull;
}

void TInputFilter::Emit(char *data, size_t &out, char c) const {
  if (FDiscardNull && c == 0)
    return;
  data[out++] = c;
}

size_t TInputFilter::Apply(char *data, size_t count) {
  if (!Active())
    return count;
  size_t out = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = data[i];
    switch (FState) {
    case 0:
      if (FMarked && c == '\xff')
        FState = 1;
      else
        Emit(data, out, c);
      break;
    case 1:
      if (c == '\xff') {
        Emit(data, out, c);
        FState = 0;
      } else if (c == 0) {
        FState = 2;
      } else {
        // Not a mark the kernel writes (marking was switched on mid-stream): keep the byte.
        Emit(data, out, c);
        FState = 0;
      }
      break;
    default:
      Emit(data, out, FReplace ? FErrorChar : c);
      FState = 0;
      break;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// TInterruptibleLoop

TInterruptibleLoop::~TInterruptibleLoop() { Stop(); }

bool TInterruptibleLoop::Start(std::function<bool()> step) {
  const int sig = WakeSignal();
  if (sig == 0)
    return false;
  {
    std::lock_guard lock(FMutex);
    if (FRunning)
      return false;
  }
  if (FThread.joinable())
    FThread.join(); // a loop that ended by itself
  FStop = false;
  {
    std::lock_guard lock(FMutex);
    FRunning = true;
  }
  FThread = std::thread([this, sig, step = std::move(step)] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    while (!FStop.load() && step()) {
    }
    std::lock_guard lock(FMutex);
    FRunning = false;
    FEnded.notify_all();
  });
  return true;
}

void TInterruptibleLoop::Stop() {
  if (!FThread.joinable())
    return;
  FStop = true;
  {
    std::unique_lock lock(FMutex);
    // The signal may land just before the step blocks; send it again until the loop has ended.
    while (FRunning) {
      pthread_kill(FThread.native_handle(), WakeSignal());
      FEnded.wait_for(lock, std::chrono::milliseconds(2));
    }
  }
  FThread.join();
}

bool TInterruptibleLoop::Running() const {
  std::lock_guard lock(FMutex);
  return FRunning;
}

// ---------------------------------------------------------------------------------------------
// TPosixSerialDevice

// Admits a call while the device is open and not closing; Close waits until all have left.
class TPosixSerialDevice::TUse {
public:
  explicit TUse(TPosixSerialDevice &device) : FDevice(device) {
    std::lock_guard lock(device.FMutex);
    FAdmitted = device.FFd >= 0 && !device.FClosing;
    if (FAdmitted)
      ++device.FInside;
  }
  ~TUse() {
    if (!FAdmitted)
      return;
    std::lock_guard lock(FDevice.FMutex);
    if (--FDevice.FInside == 0)
      FDevice.FLeft.notify_all();
  }
  explicit operator bool() const { return FAdmitted; }

private:
  TPosixSerialDevice &FDevice;
  bool FAdmitted;
};

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
    // The flag outlives this descriptor while another one holds the tty (a pty's keeper).
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

int TPosixSerialDevice::DoSetupComm(uint32_t inQueue, uint32_t outQueue) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  FInQueue = inQueue;
  FOutQueue = outQueue;
  if (FWaiterStarved && Buffered() < InputCapacity())
    Signal(FWaitWake);
  return 0;
}

// The device reads ahead beyond the queue size it was given, as a driver buffers more than an
// application asks for: the event thread can then take in a whole frame's worth of a fast line
// while the GUI thread is busy, and the kernel's own small buffer never fills. The queue size
// still decides what "80 % full" means.
size_t TPosixSerialDevice::InputCapacity() const {
  return std::min<size_t>(std::max<size_t>(FInQueue ? FInQueue : DefaultInputSize, ReadAheadSize), MaxInputSize);
}

uint64_t TPosixSerialDevice::BytesReceived() const {
  std::lock_guard lock(FMutex);
  return FReceived;
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
  // A virtual tty may coerce what it cannot do (a pty keeps 8 bits, no parity); tcsetattr
  // succeeds then and the result is not compared.
  if (::tcsetattr(FFd, TCSANOW, &t) != 0)
    return errno;
  if (!standard)
    if (int e = SetCustomLineSpeed(FFd, dcb.BaudRate))
      return e;
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

int TPosixSerialDevice::DoSetCommMask(uint32_t mask) {
  TUse use(*this);
  if (!use)
    return EBADF;
  {
    std::lock_guard lock(FMutex);
    FMask = mask;
    FLatched = 0;
    ++FMaskGen;
    if (FWaiting)
      Signal(FWaitWake);
  }
  UpdateModemWatch();
  return 0;
}

int TPosixSerialDevice::DoGetCommMask(uint32_t &mask) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  mask = FMask;
  return 0;
}

int TPosixSerialDevice::DoCancelWait() {
  std::lock_guard lock(FMutex);
  if (FFd < 0 || FClosing)
    return EBADF;
  FCancelled = true;
  Signal(FWaitWake);
  return 0;
}

int TPosixSerialDevice::DoTakeCommEvents(uint32_t &mask) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  if (FClosing || FCancelled)
    return ECANCELED;
  // What the kernel holds now is what a wait would have been woken for.
  if (FMask & RxEvents)
    FillLocked();
  mask = FLatched & FMask;
  FLatched &= ~mask;
  return 0;
}

void TPosixSerialDevice::LatchLocked(uint32_t events) {
  FLatched |= events & FMask;
  if (FLatched && FWaitBlocked)
    Signal(FWaitWake);
}

void TPosixSerialDevice::MarkHungUpLocked(int error) {
  if (FHungUp)
    return;
  FHungUp = true;
  FHangupError = error;
  if (FWaitBlocked)
    Signal(FWaitWake);
}

bool TPosixSerialDevice::ReadCounters(TCounters &c) const {
  serial_icounter_struct k{};
  if (::ioctl(FFd, TIOCGICOUNT, &k) != 0)
    return false;
  c = TCounters{k.cts, k.dsr, k.rng, k.dcd, k.frame, k.overrun, k.parity, k.brk, k.buf_overrun};
  return true;
}

// Moves what the kernel holds into the device's queue, as far as there is room.
void TPosixSerialDevice::FillLocked() {
  const size_t capacity = InputCapacity();
  if (FHungUp || Buffered() >= capacity)
    return;
  if (FInHead > 0) {
    FIn.erase(FIn.begin(), FIn.begin() + std::ptrdiff_t(FInHead));
    FInHead = 0;
  }
  const size_t old = FIn.size();
  const size_t want = std::min<size_t>(capacity - old, 65536);
  FIn.resize(old + want);
  ssize_t n;
  do
    n = ::read(FFd, FIn.data() + old, want);
  while (n < 0 && errno == EINTR);
  const int error = errno;
  size_t kept = n > 0 ? FFilter.Apply(FIn.data() + old, size_t(n)) : 0;
  FIn.resize(old + kept);
  FReceived += kept;
  if (n == 0)
    MarkHungUpLocked(EIO); // readable but nothing to read: the line is gone
  else if (n < 0 && error != EAGAIN)
    MarkHungUpLocked(error);
  if (kept > 0) {
    // A read that got less than it asked for emptied the kernel's queue.
    NoteArrivalLocked(FIn.data() + old, kept, size_t(n) < want);
    if (FReaderBlocked)
      Signal(FReadWake);
  }
}

void TPosixSerialDevice::NoteArrivalLocked(const char *data, size_t count, bool drained) {
  uint32_t events = EV_RXCHAR;
  if ((FMask & EV_RXFLAG) && std::memchr(data, FDcb.EvtChar, count) != nullptr)
    events |= EV_RXFLAG;
  if (FMask & EV_RX80FULL) {
    int pending = 0;
    if (!drained && ::ioctl(FFd, FIONREAD, &pending) != 0)
      pending = 0;
    const size_t size = FInQueue ? FInQueue : DefaultInputSize;
    if ((Buffered() + size_t(pending)) * 5 >= size * 4)
      events |= EV_RX80FULL;
  }
  TCounters now;
  if ((FMask & (EV_ERR | EV_BREAK)) && FHasCounters && ReadCounters(now)) {
    const TCounters &was = FEventCounters;
    if (now.Frame != was.Frame || now.Overrun != was.Overrun || now.Parity != was.Parity ||
        now.BufOverrun != was.BufOverrun)
      events |= EV_ERR;
    if (now.Brk != was.Brk)
      events |= EV_BREAK;
    FEventCounters = now;
  }
  LatchLocked(events);
}

// Takes from the device's queue, then straight from the kernel; returns the bytes taken.
size_t TPosixSerialDevice::TakeLocked(char *dst, size_t count) {
  size_t done = std::min(Buffered(), count);
  if (done > 0) {
    std::memcpy(dst, FIn.data() + FInHead, done);
    FInHead += done;
    if (FInHead == FIn.size()) {
      FIn.clear();
      FInHead = 0;
    }
    if (FWaiterStarved)
      Signal(FWaitWake);
  }
  while (done < count && !FHungUp) {
    const ssize_t n = ::read(FFd, dst + done, count - done);
    if (n > 0) {
      const size_t kept = FFilter.Apply(dst + done, size_t(n));
      done += kept;
      FReceived += kept;
    } else if (n == 0) {
      MarkHungUpLocked(EIO);
    } else if (errno != EINTR) {
      if (errno != EAGAIN)
        MarkHungUpLocked(errno);
      break;
    }
  }
  return done;
}

// The poll timeout while written bytes drain, or -2 when the queue is empty now.
int TPosixSerialDevice::TxEmptyTimeoutLocked() {
  int queued = 0;
  if (::ioctl(FFd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
    FTxPending = false;
    FDrainWaitMs = 0;
    return -2;
  }
  // No kernel event tells when the last bytes have left, so wait for the time they take on the
  // line; each wait that finds them still queued doubles the next (flow control may hold them),
  // up to one check a second.
  const uint64_t bits = 1u + FDcb.ByteSize + (FDcb.Parity != NOPARITY ? 1u : 0u) +
                        (FDcb.StopBits == ONESTOPBIT ? 1u : 2u);
  const uint64_t baud = std::max<uint32_t>(FDcb.BaudRate, 1);
  const int lineMs = int(std::min<uint64_t>(uint64_t(queued) * bits * 1000 / baud + 1, MaxDrainWaitMs));
  return std::max(lineMs, FDrainWaitMs);
}

int TPosixSerialDevice::DoWaitCommEvent(uint32_t &mask, int timeoutMs) {
  TUse use(*this);
  if (!use)
    return EBADF;
  uint64_t gen;
  {
    std::lock_guard lock(FMutex);
    if (FWaiting)
      return EBUSY;
    FWaiting = true;
    gen = FMaskGen;
  }
  struct TLeave {
    TPosixSerialDevice &D;
    ~TLeave() {
      std::lock_guard lock(D.FMutex);
      D.FWaiting = D.FWaitBlocked = D.FWaiterStarved = false;
    }
  } leave{*this};

  const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    pollfd fds[2] = {};
    int timeout = -1;
    int limit = -1; // what is left of the caller's time
    {
      std::lock_guard lock(FMutex);
      if (FClosing || FCancelled)
        return ECANCELED;
      if (FMaskGen != gen)
        return 0; // the mask changed: the pending wait ends with no events
      if (FTxPending && (FMask & EV_TXEMPTY) && !FHungUp) {
        const int drain = TxEmptyTimeoutLocked();
        if (drain == -2)
          LatchLocked(EV_TXEMPTY);
        else
          timeout = drain;
      }
      if (const uint32_t events = FLatched & FMask) {
        FLatched = 0;
        mask = events;
        return 0;
      }
      if (FHungUp)
        return FHangupError;
      if (timeoutMs >= 0) {
        limit = MillisecondsUntil(deadline);
        if (limit == 0)
          return ETIMEDOUT;
        timeout = timeout < 0 ? limit : std::min(timeout, limit);
      }
      const bool wantRx = (FMask & RxEvents) != 0;
      const bool room = Buffered() < InputCapacity();
      fds[0].fd = FFd;
      fds[0].events = (wantRx && room) ? POLLIN : 0; // POLLHUP and POLLERR come regardless
      fds[1].fd = FWaitWake;
      fds[1].events = POLLIN;
      FWaitBlocked = true;
      FWaiterStarved = wantRx && !room;
    }
    const int r = ::poll(fds, 2, timeout);
    const int pollError = errno;
    ++FWakeups;
    if (fds[1].revents & POLLIN)
      Drain(FWaitWake);
    std::lock_guard lock(FMutex);
    FWaitBlocked = FWaiterStarved = false;
    if (r < 0) {
      if (pollError == EINTR)
        continue;
      return pollError;
    }
    if (r == 0 && timeout > 0 && timeout != limit)
      FDrainWaitMs = std::min(timeout * 2, MaxDrainWaitMs);
    const short got = fds[0].revents;
    if (got & POLLIN)
      FillLocked();
    if (got & (POLLHUP | POLLERR | POLLNVAL)) {
      // Keep what the line still delivers; the hangup is reported after it.
      FillLocked();
      MarkHungUpLocked(got & POLLNVAL ? EBADF : EIO);
    }
  }
}

int TPosixSerialDevice::DoRead(void *buffer, uint32_t count, uint32_t &done) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard serial(FReadMutex);
  char *dst = static_cast<char *>(buffer);
  const auto start = TClock::now();
  COMMTIMEOUTS t;
  uint64_t gen;
  {
    std::lock_guard lock(FMutex);
    t = FTimeouts;
    gen = FReadAbortGen;
    done = uint32_t(TakeLocked(dst, count));
  }
  const bool immediate =
      t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
  // Wait up to the constant for a first byte, then return with what is there.
  const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  const bool hasTotal = !firstByte && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0);
  const auto total = std::chrono::milliseconds(
      firstByte ? uint64_t(t.ReadTotalTimeoutConstant)
                : uint64_t(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant);
  const bool hasInterval = !firstByte && t.ReadIntervalTimeout != 0;
  const auto interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
  auto lastByte = start;

  for (;;) {
    bool hungUp;
    int hangupError;
    {
      std::lock_guard lock(FMutex);
      hungUp = FHungUp;
      hangupError = FHangupError;
    }
    if (done == count || immediate || (firstByte && done > 0))
      return (done == 0 && hungUp && count > 0) ? hangupError : 0;
    if (hungUp)
      return done > 0 ? 0 : hangupError;
    int timeout = -1;
    if (hasTotal || firstByte)
      timeout = MillisecondsUntil(start + total);
    if (hasInterval && done > 0) {
      const int gap = MillisecondsUntil(lastByte + interval);
      timeout = timeout < 0 ? gap : std::min(timeout, gap);
    }
    if (timeout == 0)
      return 0; // timed out: not a failure
    pollfd fds[2] = {{FFd, POLLIN, 0}, {FReadWake, POLLIN, 0}};
    {
      std::lock_guard lock(FMutex);
      FReaderBlocked = true;
      // Bytes the event wait moved into the queue since the last take.
      if (Buffered() > 0)
        timeout = 0;
    }
    const int r = ::poll(fds, 2, timeout);
    const int pollError = errno;
    if (fds[1].revents & POLLIN)
      Drain(FReadWake);
    std::lock_guard lock(FMutex);
    FReaderBlocked = false;
    if (FClosing || FReadAbortGen != gen)
      return ECANCELED;
    if (r < 0 && pollError != EINTR)
      return pollError;
    const size_t got = TakeLocked(dst + done, count - done);
    if (got > 0) {
      done += uint32_t(got);
      lastByte = TClock::now();
    }
  }
}

int TPosixSerialDevice::DoWrite(const void *buffer, uint32_t count, uint32_t &done) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard serial(FWriteMutex);
  const char *src = static_cast<const char *>(buffer);
  const auto start = TClock::now();
  COMMTIMEOUTS t;
  uint64_t gen;
  {
    std::lock_guard lock(FMutex);
    if (FHungUp)
      return FHangupError;
    t = FTimeouts;
    gen = FWriteAbortGen;
  }
  const bool hasTotal = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  const auto deadline =
      start + std::chrono::milliseconds(uint64_t(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant);
  int result = 0;
  while (done < count) {
    const ssize_t n = ::write(FFd, src + done, count - done);
    if (n > 0) {
      done += uint32_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN) {
      result = errno;
      if (LineGone(result)) {
        std::lock_guard lock(FMutex);
        MarkHungUpLocked(result);
      }
      break;
    }
    const int timeout = hasTotal ? MillisecondsUntil(deadline) : -1;
    if (timeout == 0)
      break; // timed out: not a failure, `done` tells how far it got
    pollfd fds[2] = {{FFd, POLLOUT, 0}, {FWriteWake, POLLIN, 0}};
    {
      std::lock_guard lock(FMutex);
      FWriterBlocked = true;
    }
    const int r = ::poll(fds, 2, timeout);
    const int pollError = errno;
    if (fds[1].revents & POLLIN)
      Drain(FWriteWake);
    std::lock_guard lock(FMutex);
    FWriterBlocked = false;
    if (FClosing || FWriteAbortGen != gen) {
      result = ECANCELED;
      break;
    }
    if (r < 0 && pollError != EINTR) {
      result = pollError;
      break;
    }
  }
  if (done > 0) {
    std::lock_guard lock(FMutex);
    FTxPending = true;
    FOutQueued = true;
    FDrainWaitMs = 0;
    if (FWaitBlocked && (FMask & EV_TXEMPTY))
      Signal(FWaitWake);
  }
  return result;
}

int TPosixSerialDevice::DoClearCommError(uint32_t &errors, COMSTAT &stat) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  stat.cbInQue = uint32_t(Buffered());
  if (FHungUp)
    return 0; // what was received before the hangup can still be read
  TCounters now;
  if (FHasCounters && ReadCounters(now)) {
    const TCounters &was = FErrorCounters;
    if (now.Frame != was.Frame)
      errors |= CE_FRAME;
    if (now.Parity != was.Parity)
      errors |= CE_RXPARITY;
    if (now.Overrun != was.Overrun)
      errors |= CE_OVERRUN;
    if (now.BufOverrun != was.BufOverrun)
      errors |= CE_RXOVER;
    if (now.Brk != was.Brk)
      errors |= CE_BREAK;
    FErrorCounters = now;
  }
  // While an event wait watches the line, bytes still in the kernel are moved into the queue and
  // reported by that wait, as a driver reports what its UART has handed over; counting them here
  // too would cost a system call per receive batch.
  if (!(FMask & RxEvents)) {
    int pending = 0;
    if (::ioctl(FFd, FIONREAD, &pending) != 0) {
      const int error = errno;
      if (!LineGone(error))
        return error;
      // The hangup is reported once, by the event wait; the bytes already queued stay readable.
      MarkHungUpLocked(error);
      return 0;
    }
    stat.cbInQue += uint32_t(std::max(pending, 0));
  }
  // Only written bytes can be queued for output: ask the kernel only after a write.
  if (FOutQueued) {
    int queued = 0;
    if (::ioctl(FFd, TIOCOUTQ, &queued) == 0 && queued > 0)
      stat.cbOutQue = uint32_t(queued);
    else
      FOutQueued = false;
  }
  return 0;
}

int TPosixSerialDevice::DoGetCommModemStatus(uint32_t &status) {
  TUse use(*this);
  if (!use)
    return EBADF;
  int lines = 0;
  if (::ioctl(Fd(), TIOCMGET, &lines) != 0)
    return Unsupported(errno) ? 0 : errno; // no modem lines: all off
  if (lines & TIOCM_CTS)
    status |= MS_CTS_ON;
  if (lines & TIOCM_DSR)
    status |= MS_DSR_ON;
  if (lines & TIOCM_RNG)
    status |= MS_RING_ON;
  if (lines & TIOCM_CAR)
    status |= MS_RLSD_ON;
  return 0;
}

int TPosixSerialDevice::DoPurgeComm(uint32_t flags) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  if (flags & PURGE_RXABORT) {
    ++FReadAbortGen;
    Signal(FReadWake);
  }
  if (flags & PURGE_TXABORT) {
    ++FWriteAbortGen;
    Signal(FWriteWake);
  }
  int result = 0;
  // A hung-up line has nothing left to discard.
  if ((flags & PURGE_RXCLEAR)) {
    FIn.clear();
    FInHead = 0;
    FFilter.Reset();
    if (FWaiterStarved)
      Signal(FWaitWake);
    if (!FHungUp && ::tcflush(FFd, TCIFLUSH) != 0 && !LineGone(errno))
      result = errno;
  }
  if (flags & PURGE_TXCLEAR) {
    FTxPending = false;
    FOutQueued = false;
    if (!FHungUp && ::tcflush(FFd, TCOFLUSH) != 0 && !LineGone(errno))
      result = errno;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Modem-line events: TIOCMIWAIT blocks outside poll, so a helper thread waits in it and latches
// what changed. Devices without modem lines never start it.

void TPosixSerialDevice::UpdateModemWatch() {
  std::lock_guard watch(FWatchMutex);
  bool want;
  int fd;
  {
    std::lock_guard lock(FMutex);
    want = FHasModemLines && !FModemWatchFailed && (FMask & ModemEvents) != 0 && FFd >= 0 && !FClosing;
    fd = FFd;
    if (want && !FModemWatch.Running()) {
      ::ioctl(fd, TIOCMGET, &FModemLines);
      if (FHasCounters)
        ReadCounters(FModemCounters);
    }
  }
  if (!want)
    FModemWatch.Stop();
  else if (!FModemWatch.Running())
    FModemWatch.Start([this, fd] { return WatchModemStep(fd); });
}

bool TPosixSerialDevice::WatchModemStep(int fd) {
  if (::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG) != 0) {
    if (errno == EINTR)
      return true; // Stop's signal, or another one: the loop checks whether to go on
    std::lock_guard lock(FMutex);
    FModemWatchFailed = true;
    return false;
  }
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0)
    return false;
  std::lock_guard lock(FMutex);
  uint32_t events = 0;
  const int changed = lines ^ FModemLines;
  TCounters now;
  if (FHasCounters && ReadCounters(now)) {
    // The counters also see a line that went and came back before we looked.
    const TCounters &was = FModemCounters;
    if (now.Cts != was.Cts)
      events |= EV_CTS;
    if (now.Dsr != was.Dsr)
      events |= EV_DSR;
    if (now.Dcd != was.Dcd)
      events |= EV_RLSD;
    if (now.Rng != was.Rng)
      events |= EV_RING;
    FModemCounters = now;
  } else {
    if (changed & TIOCM_CTS)
      events |= EV_CTS;
    if (changed & TIOCM_DSR)
      events |= EV_DSR;
    if (changed & TIOCM_CAR)
      events |= EV_RLSD;
    if ((changed & TIOCM_RNG) && !(lines & TIOCM_RNG))
      events |= EV_RING; // the trailing edge of a ring, as the UART drivers count it
  }
  FModemLines = lines;
  LatchLocked(events);
  return true;
}
