#pragma once
// The single-instance registration: a listening Unix socket in the abstract namespace, which the
// kernel removes when its process ends, however it ends. A crashed copy never leaves a guard
// behind that would turn every later start away.
//
// Every copy that starts holds one of a row of numbered names ("slots") for its whole life; a copy
// that finds a holder of the same user in a lower slot is not the first. So a copy that starts
// second keeps the registration alive while it ends, and a third start meanwhile is turned away
// too, even when the first has gone.
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class QSocketNotifier;

// The program file's name without folder in capital letters: the part of the key that makes
// `telmora` and `TELMORA` from any folder one program, and a renamed copy another.
std::string InstanceProgramName(std::string_view programPath);

// The desktop login a window would appear on, from the environment: the Wayland display, else
// the X display without its screen number, else the login session; an offscreen or minimal Qt
// platform is a scope of its own, since such a window appears on no desktop.
using TGetEnv = std::function<const char *(const char *)>;
std::string InstanceDesktop(const TGetEnv &getenv);

// The full key: program name, user and desktop.
std::string InstanceKey(std::string_view programPath, uid_t uid, const std::string &desktop);

// The abstract socket name of one slot (without the leading NUL byte); a key too long for a
// socket address is replaced by a fixed-width hash of itself.
std::string InstanceSlotName(const std::string &key, int slot);

// The running program's file: /proc/self/exe (links resolved, as the kernel started it), else
// `argv0`.
std::string ProgramFilePath(const char *argv0);

class TInstanceGuard {
public:
  static constexpr int SlotCount = 32;

  // Registers under `key`. When no slot can be taken (sockets unavailable, every slot held by
  // other users) no guard is in force and the start runs as the first.
  explicit TInstanceGuard(std::string key);
  ~TInstanceGuard();
  TInstanceGuard(const TInstanceGuard &) = delete;
  TInstanceGuard &operator=(const TInstanceGuard &) = delete;

  bool Registered() const { return FListen >= 0; }
  int Slot() const { return FSlot; }
  // Another copy of the same program, user and desktop held a registration when this one was made.
  bool AnotherInstance() const { return FEarlier >= 0; }

  // Asks the earliest other copy to raise its window; whether it took the request.
  bool RequestRaise() const;

  // Serves the socket on the GUI thread from now on: each raise request from a process of the
  // same user calls `onRaise`; other connections (a later start looking who is there) are closed.
  // An empty `onRaise` reads and drops requests. Needs the application object.
  void Serve(std::function<void()> onRaise);
  // Stops serving (before the application object goes); the registration stays until the guard
  // is destroyed, and later starts still find it.
  void StopServing();

private:
  enum class THolder { None, Own, Foreign };
  THolder Probe(int slot) const;
  THolder ProbeBound(int slot) const;
  bool Register();
  void AcceptPending();
  void ReadRequest(int fd);

  std::string FKey;
  int FListen = -1;
  int FSlot = -1;
  int FEarlier = -1;
  std::function<void()> FOnRaise;
  std::unique_ptr<QSocketNotifier> FNotifier;
  std::map<int, std::unique_ptr<QSocketNotifier>> FConnections;
};
