#include "app/window/StatusLine.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>

#include <cmath>
#include <cstdio>

#include "broker/BrokerFailure.h"

void TRateMeter::Sample(std::uint64_t records, std::uint64_t bytes, std::int64_t nowMs) {
  // A counter that went backwards (a new framer) or the clock doing so starts afresh.
  if (!FPoints.empty() && (nowMs < FPoints.back().Ms || records < FPoints.back().Records || bytes < FPoints.back().Bytes))
    *this = TRateMeter();
  FPoints.push_back({records, bytes, nowMs});
  while (FPoints.size() > 2 && FPoints[1].Ms <= nowMs - WindowMs) FPoints.pop_front();
  const TPoint &from = FPoints.front();
  if (nowMs - from.Ms < MinSpanMs) return;
  const double secs = double(nowMs - from.Ms) / 1000.0;
  FRecordsPerSecond = double(records - from.Records) / secs;
  FBytesPerSecond = double(bytes - from.Bytes) / secs;
  FQuiet = nowMs - from.Ms >= WindowMs && records == from.Records && bytes == from.Bytes;
}

std::string ShortRate(double perSecond, const TFormatSettings &fs) {
  char text[32];
  const double v = std::isfinite(perSecond) && perSecond > 0 ? perSecond : 0;
  // Each form is taken only while its rounded figure stays below the next form's start.
  if (std::round(v) < 10000)
    std::snprintf(text, sizeof text, "%.0f", v);
  else if (std::round(v / 100) < 10000)
    std::snprintf(text, sizeof text, "%.1fk", v / 1e3);
  else if (std::round(v / 1e4) < 1000)
    std::snprintf(text, sizeof text, "%.2fM", v / 1e6);
  else
    std::snprintf(text, sizeof text, "%.1fM", v / 1e6);
  std::string out(text);
  if (const auto dot = out.find('.'); dot != std::string::npos) out[dot] = fs.DecimalSeparator;
  return out;
}

std::string StateText(const TStatusInfo &info) {
  switch (info.State) {
  case lsGetrennt: return "getrennt";
  case lsVerbunden: return "verbunden";
  case lsWartetAufGeraet: return "wartet auf Gerät";
  case lsDemo: return "Demo";
  case lsWiedergabe: return info.ReplayText.empty() ? "Wiedergabe" : info.ReplayText;
  }
  return {};
}

std::string BrokerText(const TStatusInfo &info) {
  if (info.Broker == buNone) return {};
  std::string s = info.BrokerConnected        ? "MQTT verbunden"
                  : info.BrokerFailure.empty() ? "MQTT verbindet"
                                               : "MQTT getrennt: " + BrokerFailureGerman(info.BrokerFailure);
  const TFormatSettings &fs = FormatSettings();
  if (info.Broker == buPublisher) {
    // Away from the broker nothing is sent: only values dropped are worth the room.
    if (info.BrokerConnected)
      s += ", " + ShortRate(info.BrokerSentPerSecond, fs) + " gesendet/s";
    if (info.BrokerConnected || info.BrokerDroppedPerSecond > 0)
      s += ", " + ShortRate(info.BrokerDroppedPerSecond, fs) + " verworfen/s";
  } else {
    s += ", " + ShortRate(info.BrokerReceivedPerSecond, fs) + " empfangen/s";
    if (info.SourceOffline) s += ", Quelle offline";
  }
  return s;
}

TStatusLine::TStatusLine(QWidget *parent) : QStatusBar(parent) {
  setObjectName(QStringLiteral("StatusLine1"));
  setSizeGripEnabled(false);
  // A rule above it and between the fields, as the panels of a classic status line.
  setStyleSheet(QStringLiteral("QStatusBar { border-top: 1px solid palette(mid); }"
                               "QStatusBar::item { border: none; }"
                               "QStatusBar QLabel { padding: 1px 6px; border-right: 1px solid palette(mid); }"
                               "QStatusBar QLabel#StatusDiscarded { border-right: none; }"));
  FPort = AddField("StatusPort", 0);
  FState = AddField("StatusState", 0);
  FRecording = AddField("StatusRecording", 0);
  FBroker = AddField("StatusBroker", 0);
  FRate = AddField("StatusRate", 0);
  FDropped = AddField("StatusDropped", 1);
  FDiscarded = AddField("StatusDiscarded", 0);
  FRecording->hide();
  FBroker->hide();
  FDropped->setCursor(Qt::PointingHandCursor);
  FDropped->setToolTip(QStringLiteral("Klicken zeigt die letzten 100 verworfenen Datensätze mit Grund"));
  FDropped->installEventFilter(this);
}

QLabel *TStatusLine::AddField(const char *name, int stretch) {
  auto *label = new QLabel(this);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  // The window's width decides, never the text: a long reason is cut, the window keeps its size.
  label->setMinimumWidth(40);
  label->setSizePolicy(stretch > 0 ? QSizePolicy::Ignored : QSizePolicy::Preferred, QSizePolicy::Preferred);
  addPermanentWidget(label, stretch);
  return label;
}

void TStatusLine::SetText(QLabel *label, const QString &text) {
  // Twice a second with mostly the same figures: an unchanged field is not laid out again.
  if (label->text() != text) label->setText(text);
}

void TStatusLine::Show(const TStatusInfo &info) {
  // An idle port gives the same figures tick after tick: even comparing the fields' texts costs
  // more than the idle program otherwise spends.
  if (FShownOnce && info == FShown) return;
  FShownOnce = true;
  FShown = info;
  const TFormatSettings &fs = FormatSettings();
  QString port = QString::fromStdString(info.Port);
  if (info.Baud > 0) port += QStringLiteral(", %1 Baud").arg(info.Baud);
  SetText(FPort, port);
  SetText(FState, QString::fromStdString(StateText(info)));
  // Hiding a hidden field still lays the whole line out again.
  if (FRecording->isHidden() == !info.RecordingFile.empty()) FRecording->setVisible(!info.RecordingFile.empty());
  SetText(FRecording, QStringLiteral("Aufzeichnung: ") + QString::fromStdString(info.RecordingFile));
  if (FBroker->isHidden() == (info.Broker != buNone)) FBroker->setVisible(info.Broker != buNone);
  SetText(FBroker, QString::fromStdString(BrokerText(info)));
  SetText(FRate, QString::fromStdString(ShortRate(info.RecordsPerSecond, fs) + " Datensätze/s, " +
                                        ShortRate(info.BytesPerSecond, fs) + " Byte/s"));
  FDroppedCount = QStringLiteral("Verworfene Datensätze: %1").arg(info.Dropped);
  FDropReason = info.Dropped > 0 ? QString::fromStdString(info.LastDropReason) : QString();
  FitDropped();
  SetText(FDiscarded, QStringLiteral("Verworfene Bytes: %1").arg(info.Discarded));
  const QString tip = QString::fromStdString(info.DiscardDetails);
  if (FDiscarded->toolTip() != tip) FDiscarded->setToolTip(tip);
}

QString ElideAtWord(const QString &text, const QFontMetrics &metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  const QString ellipsis = QStringLiteral("…");
  // Shortest first: drop words from the end until the rest and the ellipsis fit.
  for (qsizetype cut = text.lastIndexOf(QLatin1Char(' ')); cut > 0; cut = text.lastIndexOf(QLatin1Char(' '), cut - 1)) {
    const QString shorter = text.left(cut) + ellipsis;
    if (metrics.horizontalAdvance(shorter) <= width) return shorter;
  }
  return ellipsis;
}

void TStatusLine::FitDropped() {
  // The count always shows; the reason is cut at a word to what room is left, whole in the tool tip.
  QString text = FDroppedCount;
  const QFontMetrics metrics(FDropped->font());
  // However full the line, the field keeps room for its count.
  const int countWidth = metrics.horizontalAdvance(FDroppedCount) + 14 /* padding and rule */;
  if (FDropped->minimumWidth() < countWidth) FDropped->setMinimumWidth(countWidth);
  if (!FDropReason.isEmpty()) {
    const QMargins m = FDropped->contentsMargins();
    const int room = FDropped->width() - m.left() - m.right() - 12 /* padding */ -
                     metrics.horizontalAdvance(FDroppedCount + QStringLiteral(" ()"));
    text += QStringLiteral(" (") + ElideAtWord(FDropReason, metrics, room) + QLatin1Char(')');
  }
  SetText(FDropped, text);
  const QString tip = FDropReason.isEmpty()
                          ? QStringLiteral("Klicken zeigt die letzten 100 verworfenen Datensätze mit Grund")
                          : FDropReason + QStringLiteral("\nKlicken zeigt die letzten 100 verworfenen Datensätze mit Grund");
  if (FDropped->toolTip() != tip) FDropped->setToolTip(tip);
}

bool TStatusLine::eventFilter(QObject *watched, QEvent *event) {
  if (watched == FDropped && event->type() == QEvent::Resize) FitDropped();
  if (watched == FDropped && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
    emit DroppedClicked();
    return true;
  }
  return QStatusBar::eventFilter(watched, event);
}
