// The broker link against a real mosquitto: what a publisher sends and keeps, how it fails and
// comes back, how it stays bounded, and what reaches a panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "broker/BrokerLink.h"
#include "platform/GuiThread.h"
#include "support/Mosquitto.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

TBrokerSettings SettingsFor(const TMosquitto &broker, const std::string &prefix, int qos = 0) {
  TBrokerSettings s;
  s.Url = *ParseBrokerUrl(broker.Url(), nullptr);
  s.Prefix = prefix;
  s.Qos = qos;
  return s;
}

// Runs the event loop until the link's counts satisfy `done`.
bool WaitCounts(const TBrokerLink &link, const std::function<bool(const TBrokerCounts &)> &done,
                std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  return RunLoopUntil([&] { return done(link.Counts()); }, limit, std::chrono::milliseconds(20));
}

bool Connected(const TBrokerCounts &c) { return c.State == TBrokerState::Connected; }

std::vector<std::string> PayloadsOn(const std::vector<TProbeMessage> &messages, const std::string &topic) {
  std::vector<std::string> out;
  for (const auto &m : messages)
    if (m.Topic == topic) out.push_back(m.Payload);
  return out;
}

// The value messages among `messages`, by instrument, in arrival order.
std::vector<std::string> ValuesUnder(const std::vector<TProbeMessage> &messages, const std::string &prefix) {
  std::vector<std::string> out;
  for (const auto &m : messages) {
    const std::string level = m.Topic.substr(prefix.size() + 1);
    if (m.Topic.rfind(prefix + "/", 0) == 0 && level.find('/') == std::string::npos && level != "status")
      out.push_back(level + "=" + m.Payload);
  }
  return out;
}

TEST(BrokerLink, publishesValuesInOrderWithDescriptionsAndStatusRetained) {
  TMosquitto broker;
  broker.Start();
  TMqttProbe probe(broker, "probe");
  ASSERT_TRUE(probe.Subscribe("t/rig/#", 1));

  TBrokerLink link(SettingsFor(broker, "t/rig"));
  link.Meta(3, R"({"name":"Druck"})");
  link.Start();
  ASSERT_TRUE(WaitCounts(link, Connected));
  std::vector<std::string> expected;
  for (int i = 1; i <= 200; ++i) {
    const int n = i % 10 + 1;
    link.Value(n, std::to_string(i) + ".5");
    expected.push_back(std::to_string(n) + "=" + std::to_string(i) + ".5");
    if (i % 7 == 0) link.Flush();
  }
  link.Flush();
  ASSERT_TRUE(probe.WaitFor([&](const auto &m) { return ValuesUnder(m, "t/rig").size() >= expected.size(); }));
  EXPECT_EQ(ValuesUnder(probe.Messages(), "t/rig"), expected);
  EXPECT_EQ(PayloadsOn(probe.Messages(), "t/rig/status"), std::vector<std::string>{"online"});
  EXPECT_EQ(PayloadsOn(probe.Messages(), "t/rig/3/meta"), std::vector<std::string>{R"({"name":"Druck"})"});

  // A subscriber that comes later gets the newest value of every meter, the description and the status.
  TMqttProbe late(broker, "late");
  ASSERT_TRUE(late.Subscribe("t/rig/#"));
  ASSERT_TRUE(late.WaitFor([](const auto &m) { return m.size() >= 12; }));
  std::set<std::string> stored;
  for (const auto &m : late.Messages()) {
    EXPECT_TRUE(m.Retain) << m.Topic;
    stored.insert(m.Topic + "=" + m.Payload);
  }
  EXPECT_TRUE(stored.count("t/rig/1=200.5") && stored.count("t/rig/10=199.5") && stored.count("t/rig/status=online") &&
              stored.count(R"(t/rig/3/meta={"name":"Druck"})"));

  // A description goes out again only when it changes.
  link.Meta(3, R"({"name":"Druck"})");
  link.Meta(3, R"({"name":"Druck 2"})");
  ASSERT_TRUE(probe.WaitFor([](const auto &m) { return PayloadsOn(m, "t/rig/3/meta").size() == 2; }));
  EXPECT_EQ(PayloadsOn(probe.Messages(), "t/rig/3/meta").back(), R"({"name":"Druck 2"})");

  link.Stop();
  ASSERT_TRUE(probe.WaitFor([](const auto &m) { return PayloadsOn(m, "t/rig/status").size() == 2; }));
  EXPECT_EQ(PayloadsOn(probe.Messages(), "t/rig/status").back(), "offline");
}

// Every value a publisher sends at QoS 1 either reaches a subscriber that keeps its session, or is
// counted as dropped: the broker is stopped mid-stream, values pile up beyond the bounded queue,
// and the broker comes back.
TEST(BrokerLink, brokerRestartDropsExactlyWhatTheSubscriberMisses) {
  TMosquitto broker;
  broker.Start();
  TMqttProbe probe(broker, "counter", /*clean=*/false);
  ASSERT_TRUE(probe.Subscribe("t/seq/+", 1));
  TBrokerSettings s = SettingsFor(broker, "t/seq", 1);
  s.QueueLimitBytes = 16 * 1024;
  TBrokerLink link(s);
  link.Start();
  ASSERT_TRUE(WaitCounts(link, Connected));

  int seq = 0;
  const auto send = [&](int count) {
    for (int i = 0; i < count; ++i) {
      ++seq;
      link.Value(seq % 10 + 1, std::to_string(seq));
      if (seq % 50 == 0) link.Flush();
    }
    link.Flush();
  };
  const auto distinct = [](const std::vector<TProbeMessage> &m) {
    std::set<std::string> values;
    for (const auto &x : m)
      if (!x.Repeat && x.Topic != "t/seq/status") values.insert(x.Payload);
    return values;
  };
  // Bursts below the queue's size pass whole while connected.
  send(200);
  ASSERT_TRUE(probe.WaitFor([&](const auto &m) { return distinct(m).size() == 200; }));

  broker.Kill(SIGTERM);
  ASSERT_TRUE(WaitCounts(link, [](const TBrokerCounts &c) { return c.State == TBrokerState::Disconnected; }));
  EXPECT_EQ(link.Counts().Failure, "connection lost");
  send(3000);
  EXPECT_GT(link.Counts().Dropped, 0u);
  broker.Start();
  ASSERT_TRUE(WaitCounts(link, [](const TBrokerCounts &c) { return c.Connects == 2; }, std::chrono::seconds(40)));
  send(200);

  // The newest value goes out last; what was dropped never arrives.
  ASSERT_TRUE(probe.WaitFor([&](const auto &m) { return distinct(m).count(std::to_string(seq)) > 0; }, std::chrono::seconds(40)));
  const TBrokerCounts c = link.Counts();
  EXPECT_EQ(static_cast<std::uint64_t>(seq) - distinct(probe.Messages()).size(), c.Dropped);
  EXPECT_LE(c.PeakQueuedBytes, s.QueueLimitBytes);
  EXPECT_EQ(c.QueuedBytes, 0u);
}

TEST(BrokerLink, noBrokerAtStartIsReportedAndTheLinkConnectsWhenOneComes) {
  TMosquitto broker;
  TBrokerLink link(SettingsFor(broker, "t/late"));
  link.Start();
  ASSERT_TRUE(WaitCounts(link, [](const TBrokerCounts &c) { return !c.Failure.empty(); }));
  EXPECT_EQ(link.Counts().Failure, "connection refused");
  EXPECT_EQ(link.Counts().State, TBrokerState::Disconnected);
  for (int n = 1; n <= 5; ++n) link.Value(n, std::to_string(n * 11));
  link.Flush();

  broker.Start();
  ASSERT_TRUE(WaitCounts(link, Connected, std::chrono::seconds(40)));
  TMqttProbe probe(broker, "probe");
  ASSERT_TRUE(probe.Subscribe("t/late/+"));
  // Held while the broker was away, then stored by it.
  ASSERT_TRUE(probe.WaitFor([](const auto &m) { return ValuesUnder(m, "t/late").size() >= 5; }));
  std::set<std::string> got;
  for (const auto &v : ValuesUnder(probe.Messages(), "t/late")) got.insert(v);
  EXPECT_EQ(got, (std::set<std::string>{"1=11", "2=22", "3=33", "4=44", "5=55"}));
  EXPECT_EQ(link.Counts().Dropped, 0u);
}

// How each kind of failure reads on the status line, and that the right credentials connect.
TEST(BrokerLink, failuresAreNamedInWords) {
  TMosquitto withPassword(TBrokerAuth::Password);
  withPassword.Start();
  TMosquitto withTls(TBrokerAuth::Tls);
  withTls.Start();
  TMosquitto none;
  struct Case {
    const char *what;
    TMosquitto &broker;
    std::string url, password, caFile;
    const char *failure; // "" for connected
  };
  const Case cases[] = {
      {"wrong password", withPassword, withPassword.Url(), "wrong", "", "not authorised"},
      {"no password", withPassword, "mqtt://127.0.0.1:" + std::to_string(withPassword.Port()), "", "", "not authorised"},
      {"right password", withPassword, withPassword.Url(), TMosquitto::Password, "", ""},
      {"CA not trusted", withTls, withTls.Url(), TMosquitto::Password, "", "TLS certificate not trusted"},
      {"CA given", withTls, withTls.Url(), TMosquitto::Password, withTls.CaFile(), ""},
      {"plain to TLS", withTls, "mqtt://alice@127.0.0.1:" + std::to_string(withTls.Port()), TMosquitto::Password, "", "connection lost"},
      {"nobody listening", none, none.Url(), "", "", "connection refused"},
      {"unknown host", none, "mqtt://no-such-host.invalid", "", "", "host not found"},
  };
  for (const Case &c : cases) {
    TBrokerSettings s;
    s.Url = *ParseBrokerUrl(c.url, nullptr);
    s.Prefix = "t/fail";
    s.Password = c.password;
    s.CaFile = c.caFile;
    TBrokerLink link(s);
    link.Start();
    ASSERT_TRUE(WaitCounts(link, [](const TBrokerCounts &n) { return Connected(n) || !n.Failure.empty(); })) << c.what;
    EXPECT_EQ(link.Counts().Failure, c.failure) << c.what;
    EXPECT_EQ(Connected(link.Counts()), *c.failure == '\0') << c.what;
  }
}

// A broker that takes nothing more (stopped) holds up neither the owner nor the memory: the
// values beyond the queue are dropped and counted, and when the broker wakes the rest goes out.
TEST(BrokerLink, stalledBrokerNeverBlocksAndStaysBounded) {
  TMosquitto broker;
  broker.Start();
  TBrokerSettings s = SettingsFor(broker, "t/stall", 1);
  s.QueueLimitBytes = 8 * 1024;
  TBrokerLink link(s);
  link.Start();
  ASSERT_TRUE(WaitCounts(link, Connected));
  broker.Pause();
  {
    TWatchdog watchdog("publishing to a stalled broker");
    for (int i = 1; i <= 5000; ++i) {
      link.Value(i % 10 + 1, std::to_string(i));
      if (i % 100 == 0) link.Flush();
    }
  }
  // Unacknowledged messages fill the flight window, then the queue fills.
  ASSERT_TRUE(WaitCounts(link, [](const TBrokerCounts &c) { return c.Dropped > 0; }));
  EXPECT_LE(link.Counts().PeakQueuedBytes, s.QueueLimitBytes);
  broker.Resume();
  TMqttProbe probe(broker, "probe");
  ASSERT_TRUE(probe.Subscribe("t/stall/+"));
  ASSERT_TRUE(WaitCounts(link, [](const TBrokerCounts &c) { return c.QueuedBytes == 0 && c.Sent + c.Dropped >= 5000; }));
  // The newest value of every meter reaches the broker, repeated if it had been dropped.
  const auto newest = [](const std::vector<TProbeMessage> &m) {
    const auto v = ValuesUnder(m, "t/stall");
    return std::count(v.begin(), v.end(), "1=5000") > 0 && std::count(v.begin(), v.end(), "10=4999") > 0;
  };
  EXPECT_TRUE(probe.WaitFor(newest));
}

// Closing never waits long, whatever the link is doing.
TEST(BrokerLink, stopReturnsWhileTheBrokerIsAway) {
  TMosquitto broker;
  broker.Start();
  TBrokerLink link(SettingsFor(broker, "t/stop"));
  link.Start();
  ASSERT_TRUE(WaitCounts(link, Connected));
  broker.Kill(SIGKILL);
  ASSERT_TRUE(WaitCounts(link, [](const TBrokerCounts &c) { return !Connected(c); }));
  link.Value(1, "1");
  TWatchdog watchdog("stopping a link whose broker is gone");
  link.Stop(500);
  EXPECT_EQ(link.Counts().State, TBrokerState::Stopped);
}

struct TPanel {
  explicit TPanel(const TMosquitto &broker, const std::string &prefix) {
    TBrokerSettings s = SettingsFor(broker, prefix);
    s.Panel = true;
    Link = std::make_unique<TBrokerLink>(s);
    Link->OnMessages = [this](std::vector<TBrokerMessage> &m) {
      OnGuiThread = OnGuiThread && IsGuiThread();
      Got.insert(Got.end(), m.begin(), m.end());
      LargestBatch = std::max(LargestBatch, m.size());
    };
    Link->Start();
  }
  bool Has(const std::string &level, const std::string &payload) const {
    return std::any_of(Got.begin(), Got.end(), [&](const TBrokerMessage &m) { return m.Level == level && m.Payload == payload; });
  }
  std::unique_ptr<TBrokerLink> Link;
  std::vector<TBrokerMessage> Got;
  bool OnGuiThread = true;
  std::size_t LargestBatch = 0;
};

// What any publisher puts below the prefix reaches the panel's GUI thread as it came, cut to an
// excerpt when longer than a value can be, and marked when the broker replays it.
TEST(BrokerLink, panelGetsWhatArrivesOnTheGuiThreadBoundedInLength) {
  TMosquitto broker;
  broker.Start();
  TMqttProbe source(broker, "source");
  ASSERT_TRUE(source.WaitConnected());
  source.Publish("t/p/2", "stored earlier", /*retain=*/true);
  TPanel panel(broker, "t/p");
  ASSERT_TRUE(WaitCounts(*panel.Link, Connected));
  ASSERT_TRUE(RunLoopUntil([&] { return panel.Has("2", "stored earlier"); }));

  const std::string tooLong(TBrokerLink::MaxPayload + 1, '7');
  const std::vector<std::pair<std::string, std::string>> sent = {
      {"t/p/1", "25.5"},
      {"t/p/1", ""},
      {"t/p/1", std::string("1\0" "2", 3)},
      {"t/p/1", "\xff\xfe\x80"},
      {"t/p/1", std::string(TBrokerLink::MaxPayload, '9')},
      {"t/p/1", tooLong},
      {"t/p/1", std::string(200 * 1024, 'x')}, // beyond the packet size the panel takes
      {"t/p/status", "offline"},
      {"t/p/abc", "1"},
      {"t/p/3/meta", "{}"}, // not below the subscription
      {"t/other/1", "5"},
      {"t/p/9", "end"},
  };
  for (const auto &[topic, payload] : sent) source.Publish(topic, payload);
  ASSERT_TRUE(RunLoopUntil([&] { return panel.Has("9", "end"); }));
  std::vector<std::pair<std::string, std::string>> got;
  for (const TBrokerMessage &m : panel.Got) {
    got.emplace_back(m.Level, m.Payload);
    EXPECT_EQ(m.Replayed, m.Payload == "stored earlier") << m.Payload;
    EXPECT_EQ(m.TooLong, m.Payload.size() == TBrokerLink::ExcerptLength) << m.Payload.size();
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"2", "stored earlier"},
      {"1", "25.5"},
      {"1", ""},
      {"1", std::string("1\0" "2", 3)},
      {"1", "\xff\xfe\x80"},
      {"1", std::string(TBrokerLink::MaxPayload, '9')},
      {"1", tooLong.substr(0, TBrokerLink::ExcerptLength)},
      {"status", "offline"},
      {"abc", "1"},
      {"9", "end"},
  };
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(panel.OnGuiThread);
  EXPECT_EQ(panel.Link->Counts().Received, expected.size());

  // A value a publisher repeats after a reconnect is marked the same way.
  TBrokerLink publisher(SettingsFor(broker, "t/p"));
  publisher.Start();
  ASSERT_TRUE(WaitCounts(publisher, Connected));
  publisher.Value(4, "4.25");
  publisher.Flush();
  ASSERT_TRUE(RunLoopUntil([&] { return panel.Has("4", "4.25"); }));
  EXPECT_FALSE(panel.Got.back().Replayed);
}

// A GUI thread that falls behind costs a bounded amount of memory: what does not fit is counted.
TEST(BrokerLink, panelInboxIsBoundedWhileTheGuiThreadIsBusy) {
  TMosquitto broker;
  broker.Start();
  TMqttProbe source(broker, "source");
  ASSERT_TRUE(source.WaitConnected());
  TPanel panel(broker, "t/busy");
  ASSERT_TRUE(WaitCounts(*panel.Link, Connected));
  constexpr int Count = 4000;
  for (int i = 0; i < Count; ++i) source.Publish("t/busy/1", std::string(1000, 'a' + i % 26), false, 0);
  // The GUI thread takes no events meanwhile: the network thread fills the inbox, then counts.
  const auto deadline = std::chrono::steady_clock::now() + Deadline;
  while (panel.Link->Counts().Overflow == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GT(panel.Link->Counts().Overflow, 0u);
  ASSERT_TRUE(WaitCounts(*panel.Link, [](const TBrokerCounts &c) { return c.Received + c.Overflow == Count; }));
  EXPECT_LE(panel.LargestBatch * 1000, 1u << 20);
  EXPECT_GT(panel.LargestBatch, 500u);
}

} // namespace
