// The window and a real broker: the records its meters take go out in order with the meters'
// descriptions, a panel's meters follow what the broker brings through the record check, and the
// settings keep the broker but never the password.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

#include "app/records/DropLog.h"
#include "app/window/FormMain.h"
#include "app/window/StatusLine.h"
#include "instruments/AnVMeter.h"
#include "support/Mosquitto.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

TAnVMeter *Meter(TFormMain &f, int n) { return f.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n)); }

bool LinkConnected(const TFormMain &f) {
  return f.BrokerLink() && f.BrokerLink()->Counts().State == TBrokerState::Connected;
}

std::string BrokerLine(const TFormMain &f) { return f.StatusLine1->BrokerLabel()->text().toStdString(); }

TEST(FormMainBroker, recordsTheMetersTakeGoOutInOrderWithTheirDescriptions) {
  TMosquitto broker;
  broker.Start();
  TMqttProbe probe(broker, "probe");
  ASSERT_TRUE(probe.Subscribe("t/win/#"));
  TFormMain form;
  std::vector<std::string> events;
  form.OnBrokerEvent = [&](const std::string &e) { events.push_back(e); };
  form.UseBroker(broker.Url("t/win"), false);
  ASSERT_TRUE(RunLoopUntil([&] { return LinkConnected(form); }));
  for (const char *r : {"#3M25.5<", "#11M1<", "#3MX<", "#1M-0,125<", "#10M1e3<"}) form.ComDataPacket1Packet(&form, r);
  const std::vector<std::string> expected = {"t/win/3 25.5", "t/win/1 -0.125", "t/win/10 1000"};
  const auto values = [](const std::vector<TProbeMessage> &m) {
    std::vector<std::string> out;
    for (const auto &x : m)
      if (x.Topic.find("/meta") == std::string::npos && x.Topic != "t/win/status") out.push_back(x.Topic + " " + x.Payload);
    return out;
  };
  // The window hands its batch over from the event loop.
  ASSERT_TRUE(RunLoopUntil([&] { return values(probe.Messages()).size() >= expected.size(); }));
  EXPECT_EQ(values(probe.Messages()), expected);

  // An edited meter's description follows within a tick.
  Meter(form, 3)->SignalSettings().SetValueUnit("bar");
  const auto hasBar = [](const std::vector<TProbeMessage> &m) {
    return std::any_of(m.begin(), m.end(), [](const TProbeMessage &x) {
      return x.Topic == "t/win/3/meta" && x.Payload.find("\"unit\":\"bar\"") != std::string::npos;
    });
  };
  EXPECT_TRUE(RunLoopUntil([&] { return hasBar(probe.Messages()); }));
  EXPECT_TRUE(RunLoopUntil([&] { return BrokerLine(form).rfind("MQTT verbunden, ", 0) == 0; })) << BrokerLine(form);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "MQTT connected (" + broker.Url() + ", t/win)");

  // Away: the status line says why, once.
  broker.Kill(SIGKILL);
  EXPECT_TRUE(RunLoopUntil([&] { return BrokerLine(form).rfind("MQTT getrennt: Verbindung verloren", 0) == 0; })) << BrokerLine(form);
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const std::string &e) { return e.rfind("MQTT disconnected", 0) == 0; }), 1);
}

TEST(FormMainBroker, aPanelsMetersFollowTheBrokerThroughTheRecordCheck) {
  TMosquitto broker;
  broker.Start();
  TMqttProbe source(broker, "source");
  ASSERT_TRUE(source.WaitConnected());
  source.Publish("t/pan/2", "12.5", /*retain=*/true);
  QTemporaryDir dir;
  const std::string csv = dir.path().toStdString() + "/panel.csv";
  TFormMain form;
  std::vector<std::string> traced;
  form.OnRemoteMeasurement = [&](const std::string &text, const TAnVMeter *m, const std::string &why) {
    traced.push_back(text + (m ? " -> " + m->objectName().toStdString() : " -> " + why));
  };
  ASSERT_TRUE(form.StartRecording(csv, false, nullptr));
  form.UseBroker(broker.Url("t/pan"), true);
  ASSERT_TRUE(RunLoopUntil([&] { return Meter(form, 2)->Value() == 12.5f; }));

  source.Publish("t/pan/3", "7,25");
  source.Publish("t/pan/3", "nan");
  source.Publish("t/pan/12", "1");
  source.Publish("t/pan/4", std::string(2000, '1'));
  source.Publish("t/pan/status", "offline");
  source.Publish("t/pan/5", "-4");
  ASSERT_TRUE(RunLoopUntil([&] { return Meter(form, 5)->Value() == -4.0f; }));
  EXPECT_EQ(Meter(form, 3)->Value(), 7.25f);
  EXPECT_EQ(traced, (std::vector<std::string>{
                        "t/pan/2 12.5 (stored) -> Instr2",
                        "t/pan/3 7,25 -> Instr3",
                        "t/pan/3 nan -> 'nan' is not a value",
                        "t/pan/12 1 -> no instrument 12 (instruments are 1 to 10)",
                        "t/pan/4 " + std::string(40, '1') + "... -> longer than 1024 bytes",
                        "t/pan/5 -4 -> Instr5",
                    }));
  EXPECT_EQ(form.DropLog().Count(), 3u);
  EXPECT_EQ(form.DropLog().LastReason(), "länger als 1024 Byte");
  EXPECT_TRUE(RunLoopUntil([&] { return BrokerLine(form).find("Quelle offline") != std::string::npos; })) << BrokerLine(form);
  // The line names the panel's source, not its unused serial port.
  EXPECT_EQ(form.StatusLine1->PortLabel()->text(), QStringLiteral("MQTT t/pan"));
  EXPECT_EQ(form.StatusLine1->StateLabel()->text(), QStringLiteral("verbunden"));

  // The stored value moved its meter but is no measurement of this run.
  form.StopRecording();
  ASSERT_TRUE(RunLoopUntil([&] {
    std::ifstream in(csv);
    std::stringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    return std::count(text.begin(), text.end(), '\n') == 3;
  }));
  std::ifstream in(csv);
  std::string header, first, second;
  std::getline(in, header);
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_NE(first.find(",3,7.25,"), std::string::npos) << first;
  EXPECT_NE(second.find(",5,-4,"), std::string::npos) << second;
}

TEST(FormMainBroker, settingsKeepTheBrokerButNeverThePassword) {
  TMosquitto broker(TBrokerAuth::Password);
  broker.Start();
  QTemporaryDir dir;
  const std::string file = dir.path().toStdString() + "/Telmora.ini";
  {
    TFormMain form(nullptr, file);
    form.show();
    form.SetBrokerCredentials(TMosquitto::Password, "");
    form.EditMqttPraefix->setText(QStringLiteral("rig/7"));
    form.ComboBoxMqttQoS->setCurrentIndex(1);
    form.UseBroker(broker.Url(), false);
    ASSERT_TRUE(RunLoopUntil([&] { return LinkConnected(form); })) << BrokerLine(form);
    EXPECT_EQ(form.BrokerPrefix(), "rig/7");
    form.close();
  }
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().find(TMosquitto::Password), std::string::npos);
  EXPECT_NE(text.str().find("EditMqttBroker_Text=" + broker.Url() + "\r\n"), std::string::npos);

  // The next start takes the broker up again; without the password it is refused.
  TFormMain again(nullptr, file);
  again.show();
  EXPECT_EQ(again.EditMqttBroker->text().toStdString(), broker.Url());
  EXPECT_TRUE(again.CheckBoxMqttSenden->isChecked());
  EXPECT_EQ(again.ComboBoxMqttQoS->currentIndex(), 1);
  ASSERT_TRUE(RunLoopUntil([&] { return again.BrokerLink() != nullptr; }));
  EXPECT_TRUE(RunLoopUntil([&] { return BrokerLine(again) == "MQTT getrennt: nicht berechtigt"; }))
      << BrokerLine(again);
  // An unusable URL typed on the page says why and ends the link.
  again.EditMqttBroker->setText(QStringLiteral("mqtt://host:99999"));
  again.ApplyBrokerOptions();
  EXPECT_FALSE(again.BrokerLink());
  EXPECT_NE(again.LabelMqttHinweis->text().toStdString().find("between 1 and 65535"), std::string::npos);
}

} // namespace
