// The broker link: the MQTT group of the Optionen page and its settings, every record a meter
// takes on its way to the broker, a panel's messages into the meters, and the link's part of the
// status line.
#include "app/window/FormMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

#include <chrono>

#include "app/records/BrokerPayloads.h"
#include "app/records/DropLog.h"
#include "app/records/Recorder.h"
#include "app/storage/FormStorage.h"
#include "app/storage/StoredProps.h"
#include "instruments/AnVMeter.h"

namespace {

// Kept after the stored-properties list, as the reconnect check box is; the password never.
const char *const BrokerKey = "EditMqttBroker_Text";
const char *const PrefixKey = "EditMqttPraefix_Text";
const char *const PublishKey = "CheckBoxMqttSenden_Checked";
const char *const QosKey = "ComboBoxMqttQoS_ItemIndex";
const char *const SourceKey = "ComboBoxMqttQuelle_ItemIndex";

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool SameLink(const TBrokerSettings &a, const TBrokerSettings &b) {
  return a.Url.Tls == b.Url.Tls && a.Url.User == b.Url.User && a.Url.Host == b.Url.Host && a.Url.Port == b.Url.Port &&
         a.Prefix == b.Prefix && a.Qos == b.Qos && a.Panel == b.Panel && a.Password == b.Password &&
         a.CaFile == b.CaFile;
}

std::string Trimmed(const QLineEdit *edit) { return edit->text().trimmed().toStdString(); }

} // namespace

QWidget *TFormMain::BuildBrokerOptions(QWidget *parent) {
  GroupBoxMqtt = new QGroupBox(QStringLiteral("  MQTT  "), parent);
  GroupBoxMqtt->setObjectName(QStringLiteral("GroupBoxMqtt"));
  auto *grid = new QGridLayout(GroupBoxMqtt);
  const auto label = [&](const char *name, const char *text, int row, int column = 0) {
    auto *l = new QLabel(QString::fromUtf8(text), GroupBoxMqtt);
    l->setObjectName(QString::fromLatin1(name));
    grid->addWidget(l, row, column, column == 0 ? Qt::AlignLeft : Qt::AlignRight);
  };
  label("LabelMqttBroker", "Broker", 0);
  EditMqttBroker = new QLineEdit(GroupBoxMqtt);
  EditMqttBroker->setObjectName(QStringLiteral("EditMqttBroker"));
  EditMqttBroker->setPlaceholderText(QStringLiteral("mqtt://host[:port][/präfix] oder mqtts://…"));
  EditMqttBroker->setMinimumWidth(340);
  grid->addWidget(EditMqttBroker, 0, 1, 1, 3);
  label("LabelMqttPraefix", "Präfix", 1);
  EditMqttPraefix = new QLineEdit(GroupBoxMqtt);
  EditMqttPraefix->setObjectName(QStringLiteral("EditMqttPraefix"));
  grid->addWidget(EditMqttPraefix, 1, 1, 1, 3);
  CheckBoxMqttSenden = new QCheckBox(QStringLiteral("Werte senden"), GroupBoxMqtt);
  CheckBoxMqttSenden->setObjectName(QStringLiteral("CheckBoxMqttSenden"));
  grid->addWidget(CheckBoxMqttSenden, 2, 1);
  label("LabelMqttQoS", "QoS", 2, 2);
  ComboBoxMqttQoS = new QComboBox(GroupBoxMqtt);
  ComboBoxMqttQoS->setObjectName(QStringLiteral("ComboBoxMqttQoS"));
  ComboBoxMqttQoS->addItems({QStringLiteral("0"), QStringLiteral("1")});
  grid->addWidget(ComboBoxMqttQoS, 2, 3);
  label("LabelMqttQuelle", "Messwerte von", 3);
  ComboBoxMqttQuelle = new QComboBox(GroupBoxMqtt);
  ComboBoxMqttQuelle->setObjectName(QStringLiteral("ComboBoxMqttQuelle"));
  ComboBoxMqttQuelle->addItems({QStringLiteral("Serielle Schnittstelle"), QStringLiteral("MQTT-Broker")});
  grid->addWidget(ComboBoxMqttQuelle, 3, 1, 1, 3);
  LabelMqttHinweis = new QLabel(GroupBoxMqtt);
  LabelMqttHinweis->setObjectName(QStringLiteral("LabelMqttHinweis"));
  LabelMqttHinweis->setWordWrap(true);
  LabelMqttHinweis->setTextFormat(Qt::PlainText);
  grid->addWidget(LabelMqttHinweis, 4, 0, 1, 4);
  grid->setColumnStretch(1, 1);

  FBrokerTimer = new QTimer(this);
  FBrokerTimer->setObjectName(QStringLiteral("BrokerTimer"));
  FBrokerTimer->setInterval(500);
  connect(FBrokerTimer, &QTimer::timeout, this, &TFormMain::BrokerTick);
  FBrokerFlush = new QTimer(this);
  FBrokerFlush->setSingleShot(true);
  // Each hand-over wakes the link's two threads: at most a hundred a second, whatever the rate,
  // for at most 10 ms more on the way to the broker.
  FBrokerFlush->setInterval(10);
  connect(FBrokerFlush, &QTimer::timeout, this, [this] {
    if (FBroker) FBroker->Flush();
  });

  const auto apply = [this] { ApplyBrokerOptions(); };
  connect(EditMqttBroker, &QLineEdit::editingFinished, this, apply);
  connect(EditMqttPraefix, &QLineEdit::editingFinished, this, apply);
  connect(CheckBoxMqttSenden, &QCheckBox::toggled, this, apply);
  connect(ComboBoxMqttQoS, &QComboBox::currentIndexChanged, this, apply);
  connect(ComboBoxMqttQuelle, &QComboBox::currentIndexChanged, this, apply);
  return GroupBoxMqtt;
}

void TFormMain::SetBrokerCredentials(const std::string &password, const std::string &caFile) {
  FBrokerPassword = password;
  FBrokerCaFile = caFile;
  ApplyBrokerOptions();
}

void TFormMain::UseBroker(const std::string &url, bool source) {
  {
    const QSignalBlocker b1(EditMqttBroker), b2(CheckBoxMqttSenden), b3(ComboBoxMqttQuelle);
    EditMqttBroker->setText(QString::fromStdString(url));
    if (source)
      ComboBoxMqttQuelle->setCurrentIndex(1);
    else
      CheckBoxMqttSenden->setChecked(true), ComboBoxMqttQuelle->setCurrentIndex(0);
  }
  ApplyBrokerOptions();
}

std::string TFormMain::BrokerPrefix() const {
  TBrokerSettings s;
  WantedBroker(s, nullptr);
  return s.Prefix;
}

bool TFormMain::WantedBroker(TBrokerSettings &settings, std::string *why) const {
  const auto fail = [&](const std::string &text) {
    if (why) *why = text;
    return false;
  };
  const std::string text = Trimmed(EditMqttBroker);
  const auto url = text.empty() ? std::nullopt : ParseBrokerUrl(text, why);
  std::string prefix = url ? url->Prefix : std::string();
  if (prefix.empty()) prefix = Trimmed(EditMqttPraefix);
  if (prefix.empty()) prefix = DefaultTopicPrefix(ThisHostName(), PortName());
  settings.Prefix = prefix;
  if (!url) return text.empty() ? fail("") : false;
  std::string bad;
  if (!ValidTopicPrefix(prefix, &bad)) return fail(bad);
  settings.Url = *url;
  settings.Qos = ComboBoxMqttQoS->currentIndex() == 1 ? 1 : 0;
  settings.Panel = ComboBoxMqttQuelle->currentIndex() == 1;
  settings.Password = FBrokerPassword;
  settings.CaFile = FBrokerCaFile;
  if (!settings.Panel && !CheckBoxMqttSenden->isChecked()) return fail("");
  if (why) why->clear();
  return true;
}

void TFormMain::StopBroker() {
  if (FBrokerFlush) FBrokerFlush->stop();
  if (FBroker) {
    FBroker->Stop();
    FBroker.reset();
  }
  if (FBrokerTimer) FBrokerTimer->stop();
  FSourceOffline = false;
  FBrokerEvent.clear();
}

void TFormMain::ApplyBrokerOptions() {
  if (!EditMqttBroker) return;
  TBrokerSettings wanted;
  std::string why;
  const bool want = WantedBroker(wanted, &why);
  // The prefix in effect while the field is empty: the URL's, or the default one.
  const auto url = ParseBrokerUrl(Trimmed(EditMqttBroker), nullptr);
  EditMqttPraefix->setPlaceholderText(QString::fromStdString(
      url && !url->Prefix.empty() ? url->Prefix : DefaultTopicPrefix(ThisHostName(), PortName())));
  // A panel publishes nothing: its values are someone else's.
  CheckBoxMqttSenden->setEnabled(ComboBoxMqttQuelle->currentIndex() == 0);
  LabelMqttHinweis->setText(QString::fromStdString(why));
  LabelMqttHinweis->setVisible(!why.empty());
  if (want && FBroker && SameLink(wanted, FBrokerSettings)) return;
  const bool wasPanel = FBroker && FBrokerSettings.Panel;
  StopBroker();
  if (want) {
    // A panel takes its values from the broker: the port is not used meanwhile.
    if (wanted.Panel && !wasPanel && ComPort1->Connected()) RunGuarded([this] { ComPort1->SetConnected(false); });
    FBrokerSettings = wanted;
    FBroker = std::make_unique<TBrokerLink>(wanted);
    if (wanted.Panel) FBroker->OnMessages = [this](std::vector<TBrokerMessage> &m) { TakeBrokerMessages(m); };
    FBroker->Start();
    FBrokerDroppedTold = 0;
    FBrokerSample = {};
    FBrokerSampleMs = 0;
    FBrokerSentRate = FBrokerDroppedRate = FBrokerReceivedRate = 0;
    FBrokerTimer->start();
    BrokerTick();
  }
  UpdateStatusLine();
}

void TFormMain::PublishRecord(std::int32_t instrument, float value) {
  if (!FBroker || FBrokerSettings.Panel) return;
  FBroker->Value(instrument, ValuePayload(value));
  // Out with the other records of the next 10 ms: one hand-over per batch, not per record.
  if (!FBrokerFlush->isActive()) FBrokerFlush->start();
}

void TFormMain::BrokerTick() {
  if (!FBroker) return;
  // The port, and with it the default prefix, may have changed.
  TBrokerSettings wanted;
  if (WantedBroker(wanted, nullptr) && !SameLink(wanted, FBrokerSettings)) {
    ApplyBrokerOptions();
    return;
  }
  if (!FBrokerSettings.Panel) {
    // The link sends a description only when its text changed (editor, project, settings).
    for (int n = 1; n <= 10; ++n)
      if (const TAnVMeter *m = PacketTarget(n)) {
        const TSignalSettings &sig = m->SignalSettings();
        FBroker->Meta(n, MetaPayload({sig.Name1(), sig.ValueUnit(), m->ScaleSettings().ValueFormat(), sig.ValueFrom(), sig.ValueTo()}));
      }
  }
  const TBrokerCounts c = FBroker->Counts();
  const std::int64_t now = SteadyMs();
  if (FBrokerSampleMs > 0 && now > FBrokerSampleMs) {
    const double secs = double(now - FBrokerSampleMs) / 1000.0;
    FBrokerSentRate = double(c.Sent - FBrokerSample.Sent) / secs;
    FBrokerDroppedRate = double(c.Dropped - FBrokerSample.Dropped) / secs;
    FBrokerReceivedRate = double(c.Received - FBrokerSample.Received) / secs;
  }
  FBrokerSample = c;
  FBrokerSampleMs = now;
  const bool connected = c.State == TBrokerState::Connected;
  const std::string event = connected ? "MQTT connected" : c.Failure.empty() ? "" : "MQTT disconnected: " + c.Failure;
  if (!event.empty() && event != FBrokerEvent) {
    FBrokerEvent = event;
    TBrokerUrl where = FBrokerSettings.Url;
    where.Prefix.clear(); // named on its own: it may come from the page or the port
    if (OnBrokerEvent) OnBrokerEvent(event + " (" + BrokerUrlText(where) + ", " + FBrokerSettings.Prefix + ")");
  }
  if (c.Dropped > FBrokerDroppedTold) {
    if (OnBrokerEvent)
      OnBrokerEvent("MQTT: " + std::to_string(c.Dropped - FBrokerDroppedTold) +
                    " values dropped (queue full or broker away), " + std::to_string(c.Dropped) + " in all");
    FBrokerDroppedTold = c.Dropped;
  }
  UpdateStatusLine();
}

void TFormMain::TakeBrokerMessages(std::vector<TBrokerMessage> &messages) {
  const std::string &prefix = FBrokerSettings.Prefix;
  for (TBrokerMessage &m : messages) {
    if (m.Level == "status") {
      const bool offline = m.Payload == "offline";
      if (offline != FSourceOffline && OnBrokerEvent)
        OnBrokerEvent(std::string("MQTT: source ") + (offline ? "offline" : "online") + " (" + prefix + ")");
      FSourceOffline = offline;
      continue;
    }
    std::string why;
    const auto record = ParseRemoteValue(m.Level, m.Payload, m.TooLong, FormatSettings(), &why);
    TAnVMeter *set = nullptr;
    if (record) {
      if (TAnVMeter *meter = PacketTarget(record->Instrument)) {
        meter->SetValue(record->Value);
        set = meter;
      } else {
        why = "the meter is missing";
      }
    }
    // Whatever a broker delivers is shown as one line without control bytes, reason included.
    const std::string shown =
        PrintableText(prefix + "/" + m.Level, 120) + " " + PrintableText(m.Payload, 80) + (m.TooLong ? "..." : "");
    why = PrintableText(why, 160);
    if (!set) {
      // The window's list says it in German; --trace keeps the English reason.
      std::string shownWhy = "das Instrument fehlt";
      if (!record) ParseRemoteValue(m.Level, m.Payload, m.TooLong, FormatSettings(), &shownWhy, TWording::German);
      FDropLog->AddWithReason(shown, PrintableText(shownWhy, 160));
    }
    // What the broker kept or the publisher repeats moves the meter but is no new measurement.
    if (!m.Replayed) {
      ++FRecordsSeen;
      if (FRecorder) {
        const std::string asRecord = "#" + m.Level + "M" + m.Payload + "<";
        if (!set)
          FRecorder->Dropped(asRecord);
        else if (FRecorder->Raw())
          FRecorder->AcceptedRaw(record->Instrument, record->Value, set->SignalSettings().ValueUnit(), asRecord);
        else
          FRecorder->Accepted(record->Instrument, record->Value, set->SignalSettings().ValueUnit());
      }
    }
    if (OnRemoteMeasurement) OnRemoteMeasurement(m.Replayed ? shown + " (stored)" : shown, set, why);
  }
}

void TFormMain::RestoreBrokerSettings(TFormStorage &storage) {
  TAppIniFileStorage &ini = *storage.Storage();
  const std::string section = storage.PropsSection();
  {
    const QSignalBlocker b1(EditMqttBroker), b2(EditMqttPraefix), b3(CheckBoxMqttSenden), b4(ComboBoxMqttQoS),
        b5(ComboBoxMqttQuelle);
    if (const auto text = ini.ReadValue(section, BrokerKey)) EditMqttBroker->setText(QString::fromStdString(*text));
    if (const auto text = ini.ReadValue(section, PrefixKey)) EditMqttPraefix->setText(QString::fromStdString(*text));
    try {
      if (const auto text = ini.ReadValue(section, PublishKey)) CheckBoxMqttSenden->setChecked(DecodeBoolean(*text));
      if (const auto text = ini.ReadValue(section, QosKey)) ComboBoxMqttQoS->setCurrentIndex(DecodeInteger(*text) == 1 ? 1 : 0);
      if (const auto text = ini.ReadValue(section, SourceKey)) ComboBoxMqttQuelle->setCurrentIndex(DecodeInteger(*text) == 1 ? 1 : 0);
    } catch (const EStoredValue &) {
    }
  }
  // Once the start is through: a port given on the command line replaces the stored one right
  // after the restore, and with it the default prefix.
  QTimer::singleShot(0, this, [this] { ApplyBrokerOptions(); });
}

void TFormMain::SaveBrokerSettings(TFormStorage &storage) {
  TAppIniFileStorage &ini = *storage.Storage();
  const std::string section = storage.PropsSection();
  ini.WriteValue(section, BrokerKey, EditMqttBroker->text().toStdString());
  ini.WriteValue(section, PrefixKey, EditMqttPraefix->text().toStdString());
  ini.WriteValue(section, PublishKey, EncodeBoolean(CheckBoxMqttSenden->isChecked()));
  ini.WriteValue(section, QosKey, EncodeInteger(ComboBoxMqttQoS->currentIndex()));
  ini.WriteValue(section, SourceKey, EncodeInteger(ComboBoxMqttQuelle->currentIndex()));
}
