#include "platform/InstanceGuard.h"

#include <QSocketNotifier>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Connections a copy serves at once; more are closed at once (the request is a few bytes).
constexpr std::size_t MaxConnections = 8;
constexpr char RaiseRequest[] = "raise\n";

class TFd {
public:
  explicit TFd(int fd) : FFd(fd) {}
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  TFd(const TFd &) = delete;
  TFd &operator=(const TFd &) = delete;
  int Get() const { return FFd; }
  int Release() { return std::exchange(FFd, -1); }

private:
  int FFd = -1;
};

socklen_t AbstractAddress(const std::string &name, sockaddr_un &addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  // sun_path[0] stays 0: the abstract namespace, no file in any folder.
  const std::size_t n = std::min(name.size(), sizeof addr.sun_path - 1);
  std::memcpy(addr.sun_path + 1, name.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

int NewSocket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

bool PeerIsSameUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::getuid();
}

std::uint64_t Fnv1a(const std::string &text) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

} // namespace

std::string InstanceProgramName(std::string_view programPath) {
  // The kernel marks the link of a program file replaced while it runs (an update).
  constexpr std::string_view deleted = " (deleted)";
  if (programPath.size() > deleted.size() && programPath.substr(programPath.size() - deleted.size()) == deleted)
    programPath.remove_suffix(deleted.size());
  const auto slash = programPath.rfind('/');
  if (slash != std::string_view::npos) programPath.remove_prefix(slash + 1);
  const QString name = QString::fromUtf8(programPath.data(), static_cast<qsizetype>(programPath.size()));
  return name.toUpper().toStdString();
}

std::string InstanceDesktop(const TGetEnv &getenv) {
  auto value = [&](const char *name) -> std::string {
    const char *v = getenv(name);
    return v ? v : "";
  };
  std::string qpa = value("QT_QPA_PLATFORM");
  qpa = qpa.substr(0, qpa.find_first_of(":;"));
  if (qpa == "offscreen" || qpa == "minimal") return "qpa:" + qpa;
  if (const std::string w = value("WAYLAND_DISPLAY"); !w.empty()) return "wayland:" + w;
  if (std::string d = value("DISPLAY"); !d.empty()) {
    // ":0", ":0.0" and "unix:0" name the same display.
    const auto colon = d.rfind(':');
    if (colon != std::string::npos) {
      std::string host = d.substr(0, colon);
      std::string number = d.substr(colon + 1);
      number = number.substr(0, number.find('.'));
      if (host == "unix") host.clear();
      d = host + ":" + number;
    }
    return "x11:" + d;
  }
  if (const std::string s = value("XDG_SESSION_ID"); !s.empty()) return "session:" + s;
  return "none";
}

std::string InstanceKey(std::string_view programPath, uid_t uid, const std::string &desktop) {
  return InstanceProgramName(programPath) + "/" + std::to_string(uid) + "/" + desktop;
}

std::string InstanceSlotName(const std::string &key, int slot) {
  constexpr std::size_t room = sizeof(sockaddr_un::sun_path) - 1 - 4; // "#" and up to 3 digits
  std::string base = key;
  if (base.size() > room) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(key)));
    base = key.substr(0, room - 17) + "~" + hash;
  }
  return base + "#" + std::to_string(slot);
}

std::string ProgramFilePath(const char *argv0) {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
  return argv0 ? argv0 : "";
}

TInstanceGuard::TInstanceGuard(std::string key) : FKey(std::move(key)) { Register(); }

TInstanceGuard::~TInstanceGuard() {
  StopServing();
  if (FListen >= 0) ::close(FListen);
}

void TInstanceGuard::StopServing() {
  FOnRaise = nullptr;
  FNotifier.reset();
  for (auto &[fd, notifier] : FConnections) {
    notifier.reset();
    ::close(fd);
  }
  FConnections.clear();
}

TInstanceGuard::THolder TInstanceGuard::Probe(int slot) const {
  TFd fd(NewSocket());
  if (fd.Get() < 0) return THolder::None;
  sockaddr_un addr;
  const socklen_t len = AbstractAddress(InstanceSlotName(FKey, slot), addr);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr *>(&addr), len) == 0)
    return PeerIsSameUser(fd.Get()) ? THolder::Own : THolder::Foreign;
  // A full queue does not tell whose it is: counting it as a stranger's lets the start run
  // rather than be turned away by a socket of another user.
  return errno == EAGAIN ? THolder::Foreign : THolder::None;
}

// A slot found taken when binding may belong to a copy starting this moment, between its bind
// and its listen; it is given a moment to answer.
TInstanceGuard::THolder TInstanceGuard::ProbeBound(int slot) const {
  for (int i = 0; i < 100; ++i) {
    const THolder h = Probe(slot);
    if (h != THolder::None) return h;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return THolder::None;
}

bool TInstanceGuard::Register() {
  // Start above the highest slot this user holds, so that slot order is start order.
  int highest = -1;
  for (int j = 0; j < SlotCount; ++j)
    if (Probe(j) == THolder::Own) highest = j;
  bool takenWhenBinding[SlotCount] = {};
  for (int c = highest + 1; c < SlotCount && FListen < 0; ++c) {
    TFd fd(NewSocket());
    if (fd.Get() < 0) return false;
    sockaddr_un addr;
    const socklen_t len = AbstractAddress(InstanceSlotName(FKey, c), addr);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr *>(&addr), len) == 0) {
      if (::listen(fd.Get(), 16) != 0) return false;
      FListen = fd.Release();
      FSlot = c;
    } else if (errno == EADDRINUSE) {
      takenWhenBinding[c] = true;
    } else {
      return false;
    }
  }
  if (FListen < 0) {
    // Every slot above is held: by this user's copies (so this is not the first), or by others.
    FEarlier = highest;
    return false;
  }
  for (int j = 0; j < FSlot; ++j) {
    if ((takenWhenBinding[j] ? ProbeBound(j) : Probe(j)) == THolder::Own) {
      FEarlier = j;
      break;
    }
  }
  return true;
}

bool TInstanceGuard::RequestRaise() const {
  if (FEarlier < 0) return false;
  TFd fd(NewSocket());
  if (fd.Get() < 0) return false;
  sockaddr_un addr;
  const socklen_t len = AbstractAddress(InstanceSlotName(FKey, FEarlier), addr);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr *>(&addr), len) != 0 || !PeerIsSameUser(fd.Get()))
    return false;
  const auto size = sizeof RaiseRequest - 1;
  return ::send(fd.Get(), RaiseRequest, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

void TInstanceGuard::Serve(std::function<void()> onRaise) {
  FOnRaise = std::move(onRaise);
  if (FListen < 0 || FNotifier) return;
  FNotifier = std::make_unique<QSocketNotifier>(FListen, QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { AcceptPending(); });
}

void TInstanceGuard::AcceptPending() {
  for (;;) {
    const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (!PeerIsSameUser(fd) || FConnections.size() >= MaxConnections) {
      ::close(fd);
      continue;
    }
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this, fd] { ReadRequest(fd); });
    FConnections.emplace(fd, std::move(notifier));
  }
}

void TInstanceGuard::ReadRequest(int fd) {
  char buf[32];
  const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  const bool raise = n >= static_cast<ssize_t>(sizeof RaiseRequest - 1) &&
                     std::memcmp(buf, RaiseRequest, sizeof RaiseRequest - 1) == 0;
  // One request per connection: it is closed whatever came. The notifier is inside its own
  // signal here, so it goes later.
  auto it = FConnections.find(fd);
  it->second->setEnabled(false);
  it->second.release()->deleteLater();
  FConnections.erase(it);
  ::close(fd);
  if (raise && FOnRaise) FOnRaise();
}
