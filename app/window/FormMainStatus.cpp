// The status line: what the port is doing and how much arrives, gathered twice a second from
// plain counters, and the list of the last dropped records behind its dropped count.
#include "app/window/FormMain.h"

#include <QDialog>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

#include "app/records/DropLog.h"
#include "app/records/Recorder.h"
#include "app/window/StatusLine.h"
#include "app/records/Trace.h"
#include "serial/ComDataPacket.h"

namespace {
// Filled again only when more records were dropped, so a user reading the list is left alone.
void FillDropLog(QDialog &dialog, const TDropLog &log) {
  const QVariant shown = dialog.property("shown");
  if (shown.isValid() && shown.toULongLong() == log.Count()) return;
  QString lines;
  for (const TDropLog::TEntry &e : log.Entries()) lines += QString::fromStdString(DropLogLine(e)) + QLatin1Char('\n');
  if (lines.isEmpty()) lines = QStringLiteral("Kein Datensatz verworfen.");
  auto *text = dialog.findChild<QPlainTextEdit *>(QStringLiteral("DropLogText"));
  text->setPlainText(lines);
  text->moveCursor(QTextCursor::End); // the newest at the bottom, in view
  dialog.setProperty("shown", QVariant::fromValue<qulonglong>(log.Count()));
}

std::int64_t PortBaud(const TCustomComPort &port) {
  return port.BaudRate() == brCustom ? port.CustomBaudRate() : std::int64_t(BaudRateValue(port.BaudRate()));
}
} // namespace

void TFormMain::BuildStatusLine() {
  FDropLog = std::make_unique<TDropLog>();
  FRateMeter = std::make_unique<TRateMeter>();
  StatusClock = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  StatusLine1 = new TStatusLine(this);
  StatusLine1->setFont(DesignFont("MS Sans Serif", -11));
  setStatusBar(StatusLine1);
  connect(StatusLine1, &TStatusLine::DroppedClicked, this, [this] { ShowDropLog(); });
  FStatusTimer = new QTimer(this);
  FStatusTimer->setObjectName(QStringLiteral("StatusTimer"));
  FStatusTimer->setInterval(500);
  connect(FStatusTimer, &QTimer::timeout, this, &TFormMain::UpdateStatusLine);
  // Figures change only while data arrives: the timer runs from the first reception after a
  // quiet spell until a whole rate window passed without data, and opening or closing shows at once.
  FStatusLink = std::make_unique<TComLink>();
  FStatusLink->OnRxActivity = [this](TObject *, bool) {
    // A port that delivers on its own thread (smNone) leaves the timer to the next open.
    if (FStatusTimer->isActive() || QThread::currentThread() != thread()) return;
    const TComDataPacket *framer = FStatusFramer.data();
    // The timer stopped after a whole window without data: the rate counts from here.
    *FRateMeter = TRateMeter();
    FRateMeter->Sample(FRecordsSeen, framer ? framer->ReceivedBytes() : 0, StatusClock());
    FStatusTimer->start();
  };
  FStatusLink->OnConnChange = [this](TObject *, bool open) {
    if (open)
      FStatusTimer->start();
    else
      FStatusTimer->stop();
    UpdateStatusLine();
  };
  SetStatusSource(ComPort1, ComDataPacket1);
}

void TFormMain::SetStatusSource(TCustomComPort *port, TComDataPacket *framer) {
  if (FStatusPort) FStatusPort->DetachLink(FStatusLink.get());
  FStatusPort = port;
  FStatusFramer = framer;
  *FRateMeter = TRateMeter();
  if (port) port->AttachLink(FStatusLink.get());
  if (port && port->Connected())
    FStatusTimer->start();
  else
    FStatusTimer->stop();
  UpdateStatusLine();
}

void TFormMain::SetWaitingForDevice(bool waiting) {
  if (waiting == FWaitingForDevice) return;
  FWaitingForDevice = waiting;
  UpdateStatusLine();
}

void TFormMain::SetDemo(bool demo) {
  if (demo == FDemo) return;
  FDemo = demo;
  UpdateStatusLine();
}

void TFormMain::UpdateStatusLine() {
  if (!StatusLine1) return;
  const TCustomComPort *port = FStatusPort.data();
  const TComDataPacket *framer = FStatusFramer.data();
  const bool open = port && port->Connected();
  TStatusInfo info;
  // A panel's values come from the broker, its serial port stays closed: the line names the source.
  const bool panelSource = FBroker && FBrokerSettings.Panel;
  if (panelSource) {
    info.Port = "MQTT " + FBrokerSettings.Prefix;
  } else if (port) {
    info.Port = port->Port();
    info.Baud = PortBaud(*port);
  }
  if (!FReplayStatus.empty())
    info.State = lsWiedergabe;
  else if (panelSource)
    info.State = FBroker->Counts().State == TBrokerState::Connected ? lsVerbunden : lsGetrennt;
  else if (open)
    info.State = FDemo ? lsDemo : lsVerbunden;
  else
    info.State = FWaitingForDevice ? lsWartetAufGeraet : lsGetrennt;
  info.ReplayText = FReplayStatus;
  if (FRecorder) info.RecordingFile = QFileInfo(QString::fromStdString(FRecorder->File())).fileName().toStdString();
  // A panel's records come from the broker: counted like the port's (its link's tick samples them).
  const bool panel = FBroker && FBrokerSettings.Panel;
  if (open || panel) {
    FRateMeter->Sample(FRecordsSeen, framer ? framer->ReceivedBytes() : 0, StatusClock());
    info.RecordsPerSecond = FRateMeter->RecordsPerSecond();
    info.BytesPerSecond = FRateMeter->BytesPerSecond();
    if (FRateMeter->Quiet() && open) FStatusTimer->stop();
  } else {
    *FRateMeter = TRateMeter(); // the next session's rate starts from its own first sample
  }
  info.Dropped = FDropLog->Count();
  info.LastDropReason = FDropLog->LastReason();
  for (int r = 0; framer && r < DiscardReasonCount; ++r) {
    const auto reason = TDiscardReason(r);
    if (const std::uint64_t n = framer->DiscardedBytes(reason); n > 0) {
      info.Discarded += n;
      if (!info.DiscardDetails.empty()) info.DiscardDetails += '\n';
      info.DiscardDetails += DiscardLine(reason, n, framer->BufferLimit(), TWording::German);
    }
  }
  if (FBroker) {
    const TBrokerCounts c = FBroker->Counts();
    info.Broker = FBrokerSettings.Panel ? buPanel : buPublisher;
    info.BrokerConnected = c.State == TBrokerState::Connected;
    info.BrokerFailure = c.Failure;
    info.BrokerSentPerSecond = FBrokerSentRate;
    info.BrokerDroppedPerSecond = FBrokerDroppedRate;
    info.BrokerReceivedPerSecond = FBrokerReceivedRate;
    info.SourceOffline = FSourceOffline;
  }
  StatusLine1->Show(info);
  if (FDropLogDialog && FDropLogDialog->isVisible()) FillDropLog(*FDropLogDialog, *FDropLog);
}

void TFormMain::ShowDropLog() {
  if (!FDropLogDialog) {
    FDropLogDialog = new QDialog(this);
    FDropLogDialog->setObjectName(QStringLiteral("DropLogDialog"));
    FDropLogDialog->setWindowTitle(QStringLiteral("Verworfene Datensätze"));
    auto *layout = new QVBoxLayout(FDropLogDialog);
    auto *text = new QPlainTextEdit(FDropLogDialog);
    text->setObjectName(QStringLiteral("DropLogText"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setFont(DesignFont("Courier New", -13));
    layout->addWidget(text);
    FDropLogDialog->resize(720, 360);
  }
  FillDropLog(*FDropLogDialog, *FDropLog);
  FDropLogDialog->show();
  FDropLogDialog->raise();
}
