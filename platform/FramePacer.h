#pragma once
// Frame pacing for controls that redraw on every new value. Data may arrive a thousand times a
// second, but a screen shows some sixty frames: a control asks for the next frame, and every
// control that asked before it comes is served in the same turn of the event loop, once per
// period. A request after a quiet spell is served at once (on the next turn of the loop), and so
// is data an event thread held back for its frame, though never within half a period of the last.
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include <QObject>
#include <QTimer>

class TFrameClient {
public:
  // The frame has come: invalidate what changed since the last one.
  virtual void FrameDue() = 0;

protected:
  ~TFrameClient() = default;
};

class TFramePacer : public QObject {
public:
  using TClock = std::function<std::chrono::nanoseconds()>;
  // A little under a 60 Hz screen's 16.7 ms, so that a value waits at most 16 ms for its frame and
  // shows within 17 ms of its arrival, paint included.
  static constexpr std::chrono::nanoseconds DefaultPeriod{16'000'000};

  explicit TFramePacer(QObject *parent = nullptr);
  ~TFramePacer() override;

  // The GUI thread's pacer, created on first use as a child of the application.
  static TFramePacer &Instance();
  // Withdraws a client from the GUI thread's pacer, if there is one; for destructors.
  static void Forget(TFrameClient *client);

  // Asks for the next frame; asking again before it comes changes nothing.
  void Request(TFrameClient *client);
  void Cancel(TFrameClient *client);
  bool IsPending(const TFrameClient *client) const;
  std::size_t PendingCount() const { return FPending.size(); }

  // Serves every pending client now, in the order they asked.
  void Tick();
  // Data an event thread held back until the end of its frame period has waited its frame
  // already: its clients are served now, unless a frame was served less than half a period ago.
  void ServeHeldData();

  std::chrono::nanoseconds Period() const { return FPeriod; }
  void SetPeriod(std::chrono::nanoseconds p) { FPeriod = p; }
  // The time source, replaceable for tests; the default is the monotonic clock.
  void SetClock(TClock clock);
  // Milliseconds until the timer serves the pending clients; -1 when none are pending.
  int MillisecondsToNextFrame() const;
  std::uint64_t FrameCount() const { return FFrames; }

private:
  std::chrono::nanoseconds Now() const;

  std::chrono::nanoseconds FPeriod = DefaultPeriod;
  TClock FClock;
  QTimer FTimer;
  std::vector<TFrameClient *> FPending;
  std::vector<TFrameClient *> FServing; // the clients of the frame being served
  std::chrono::nanoseconds FLastFrame{INT64_MIN / 2};
  std::uint64_t FFrames = 0;
  bool FInTick = false;
};
