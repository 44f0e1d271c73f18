#pragma once
// The line at the bottom of the window: the port and its speed, what the port is doing, how much
// arrives, and how much was dropped or discarded. The window gathers the figures twice a second
// from plain counters and hands them over; this class only words and shows them.
#include <cstdint>
#include <deque>
#include <string>

#include <QStatusBar>

#include "platform/FormatSettings.h"

class QFontMetrics;
class QLabel;

enum TLineState { lsGetrennt, lsVerbunden, lsWartetAufGeraet, lsDemo, lsWiedergabe };

// What the broker link does: nothing, publishing the values, or feeding the meters (a panel).
enum TBrokerUse { buNone, buPublisher, buPanel };

struct TStatusInfo {
  std::string Port;
  std::int64_t Baud = 0;
  TLineState State = lsGetrennt;
  std::string ReplayText;    // the replay's progress, shown as the state while it runs
  std::string RecordingFile; // file name only; "" when no recording runs
  double RecordsPerSecond = 0;
  double BytesPerSecond = 0;
  std::uint64_t Dropped = 0;
  std::string LastDropReason;
  std::uint64_t Discarded = 0;
  std::string DiscardDetails; // one line per reason with bytes, for the tool tip
  TBrokerUse Broker = buNone;
  bool BrokerConnected = false;
  std::string BrokerFailure; // why it is not connected, in words; "" while it connects
  double BrokerSentPerSecond = 0, BrokerDroppedPerSecond = 0, BrokerReceivedPerSecond = 0;
  bool SourceOffline = false; // a panel's source said "offline"
  bool operator==(const TStatusInfo &) const = default;
};

// Records and bytes per second from counters sampled at known times. Samples come at the status
// timer's ticks and whenever the line is refreshed for another reason (a replay's progress), so
// the rate is taken over the last WindowMs, not since the previous sample: a few records a second
// then read steady instead of 0 / 4 / 11. Samples closer than MinSpanMs to the first one keep the
// figures (no 100/s from one record 10 ms after the start).
class TRateMeter {
public:
  // A count in the window is off by at most one record, so over 3 s a whole rate stays whole.
  static constexpr std::int64_t WindowMs = 3000;
  static constexpr std::int64_t MinSpanMs = 250;
  void Sample(std::uint64_t records, std::uint64_t bytes, std::int64_t nowMs);
  double RecordsPerSecond() const { return FRecordsPerSecond; }
  double BytesPerSecond() const { return FBytesPerSecond; }
  // Nothing arrived during a whole window: the figures are 0 and stay so until data comes.
  bool Quiet() const { return FQuiet; }

private:
  struct TPoint {
    std::uint64_t Records, Bytes;
    std::int64_t Ms;
  };
  std::deque<TPoint> FPoints; // oldest first; the first is the newest at least WindowMs old
  double FRecordsPerSecond = 0, FBytesPerSecond = 0;
  bool FQuiet = false;
};

// A rate in at most five characters: "987", "12,3 k", "1,05 M", with the locale's separator.
std::string ShortRate(double perSecond, const TFormatSettings &fs);
std::string StateText(const TStatusInfo &info);
// "MQTT verbunden, 12,3k gesendet/s, 0 verworfen/s", "MQTT getrennt: Verbindung abgelehnt", …;
// "" when no broker is in use.
std::string BrokerText(const TStatusInfo &info);
// `text` cut after a whole word with "…" so that it fits `width`; whole when it fits.
QString ElideAtWord(const QString &text, const QFontMetrics &metrics, int width);

class TStatusLine : public QStatusBar {
  Q_OBJECT
public:
  explicit TStatusLine(QWidget *parent = nullptr);
  void Show(const TStatusInfo &info);

  QLabel *PortLabel() const { return FPort; }
  QLabel *StateLabel() const { return FState; }
  QLabel *RecordingLabel() const { return FRecording; }
  QLabel *BrokerLabel() const { return FBroker; }
  QLabel *RateLabel() const { return FRate; }
  QLabel *DroppedLabel() const { return FDropped; }
  QLabel *DiscardedLabel() const { return FDiscarded; }

signals:
  // The dropped count was clicked: the window shows the last reasons.
  void DroppedClicked();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  QLabel *AddField(const char *name, int stretch);
  static void SetText(QLabel *label, const QString &text);
  void FitDropped();

  // Set once the constructor has made them; Qt runs the event filter before (the size grip it
  // destroys), when they must read as unset.
  QLabel *FPort = nullptr, *FState = nullptr, *FRecording = nullptr, *FBroker = nullptr, *FRate = nullptr,
         *FDropped = nullptr, *FDiscarded = nullptr;
  QString FDroppedCount, FDropReason;
  TStatusInfo FShown;
  bool FShownOnce = false;
};
