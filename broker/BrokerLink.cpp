#include "broker/BrokerLink.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <pthread.h>
#include <unistd.h>

#include "broker/BrokerFailure.h"
#include "platform/GuiThread.h"

namespace {

using Clock = std::chrono::steady_clock;

// Messages handed to libmosquitto and not yet written (QoS 0) or acknowledged (QoS 1): the
// library's own queue has no bound, so the sender keeps it short.
constexpr int InflightLimit = 1024;
// Messages the sender hands to libmosquitto in one go, without holding the lock.
constexpr std::size_t ChunkSize = 256;
// Memory a panel holds for the GUI thread; beyond it messages are left out and counted.
constexpr std::size_t InboxLimitBytes = 1u << 20;
// A panel asks the broker for nothing larger (MQTT 5 maximum packet size).
constexpr int MaxPacketBytes = 64 * 1024;
constexpr int MaxRetrySeconds = 30;
// Marks a value a publisher repeats after a reconnect (an MQTT 5 user property).
constexpr const char *RepeatName = "telmora";
constexpr const char *RepeatValue = "repeat";

struct TOutValue {
  std::uint64_t Seq;
  int Instrument;
  std::string Text;
};

std::size_t QueueCost(const std::string &text) {
  // A short text lives inside the string itself.
  return sizeof(TOutValue) + (text.size() > 15 ? text.size() : 0);
}

void InitLibrary() {
  static std::once_flag once;
  // Never cleaned up: a thread left finishing a connect may still use the library at exit.
  std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

struct TBrokerCore {
  explicit TBrokerCore(TBrokerSettings s) : S(std::move(s)) {
    for (int n = 1; n <= 10; ++n) {
      ValueTopics[n] = S.Prefix + "/" + std::to_string(n);
      MetaTopics[n] = ValueTopics[n] + "/meta";
    }
    StatusTopic = S.Prefix + "/status";
  }

  const TBrokerSettings S;
  std::string ValueTopics[11], MetaTopics[11], StatusTopic;
  // Created and destroyed by the network thread; used by the sender while both run.
  mosquitto *Mosq = nullptr;

  std::mutex Mutex;
  std::condition_variable SenderWake, NetWake, Finished;

  // Publisher: the values waiting for the sender, and what a reconnect sends again.
  std::deque<TOutValue> Queue;
  std::size_t QueueBytes = 0, PeakBytes = 0;
  std::uint64_t NextSeq = 0;
  std::uint64_t NewestSeq[11] = {};
  std::string Newest[11];
  std::string Meta[11];
  bool MetaDirty[11] = {};

  bool Stopping = false;
  Clock::time_point StopBy;
  bool Connected = false;
  bool ConnectEvent = false;  // the sender has yet to send status and descriptions
  bool RepeatPending = false; // the sender has yet to bring the broker's stored values up to date
  bool Refused = false;       // the broker refused this attempt (the reason is kept)
  bool CertRejected = false;  // the TLS layer rejected the broker's certificate in this attempt
  bool NetDone = false;
  TBrokerState State = TBrokerState::Connecting;
  std::string Failure;
  std::uint64_t Connects = 0;

  std::atomic<std::uint64_t> Sent{0}, Dropped{0}, Received{0}, Overflow{0};
  std::atomic<int> Inflight{0};

  // Panel: what arrived, waiting for the GUI thread.
  std::vector<TBrokerMessage> Inbox;
  std::size_t InboxBytes = 0;
  bool DrainPosted = false;
  TDeferredSync Sync;
  std::function<void(std::vector<TBrokerMessage> &)> OnMessages; // GUI thread only

  bool AnyMetaDirty() const {
    return std::any_of(std::begin(MetaDirty), std::end(MetaDirty), [](bool d) { return d; });
  }
  // Something the sender can hand to libmosquitto now; the caller holds the mutex.
  bool SenderReady() const {
    if (!Connected) return false;
    if (ConnectEvent || AnyMetaDirty()) return true;
    if (!Queue.empty()) return Inflight.load() < InflightLimit;
    return RepeatPending;
  }

  void RunNet();
  void RunSender();
  void Drain();
  void SetFailure(const std::string &text) {
    std::lock_guard lock(Mutex);
    if (!Refused) Failure = text;
    if (!Stopping) State = TBrokerState::Disconnected;
  }
};

namespace {

TBrokerCore &CoreOf(void *obj) { return *static_cast<TBrokerCore *>(obj); }

void OnLog(mosquitto *, void *obj, int level, const char *text) {
  if (level == MOSQ_LOG_ERR && std::strstr(text, "certificate verify failed")) {
    TBrokerCore &c = CoreOf(obj);
    std::lock_guard lock(c.Mutex);
    c.CertRejected = true;
  }
}

void Disconnect(TBrokerCore &c);

void OnConnect(mosquitto *m, void *obj, int rc, int, const mosquitto_property *) {
  TBrokerCore &c = CoreOf(obj);
  if (rc != 0) {
    std::lock_guard lock(c.Mutex);
    c.Refused = true;
    c.Failure = BrokerRefusalText(rc);
    c.State = TBrokerState::Disconnected;
    return;
  }
  // The log callback is wanted for TLS failures only: libmosquitto formats a line per message.
  mosquitto_log_callback_set(m, nullptr);
  bool stopping;
  {
    std::lock_guard lock(c.Mutex);
    stopping = c.Stopping;
    c.Connected = true;
    c.ConnectEvent = !c.S.Panel;
    c.State = TBrokerState::Connected;
    c.Failure.clear();
    c.Refused = false;
    c.CertRejected = false;
    ++c.Connects;
  }
  c.SenderWake.notify_all();
  if (stopping) {
    Disconnect(c);
    return;
  }
  if (c.S.Panel) {
    const std::string filter = c.S.Prefix + "/+";
    mosquitto_subscribe_v5(m, nullptr, filter.c_str(), c.S.Qos, 0, nullptr);
  }
}

void OnDisconnect(mosquitto *m, void *obj, int rc, const mosquitto_property *) {
  TBrokerCore &c = CoreOf(obj);
  const int error = errno;
  mosquitto_log_callback_set(m, OnLog);
  {
    std::lock_guard lock(c.Mutex);
    c.Connected = false;
    if (c.Stopping) {
      c.State = TBrokerState::Stopped;
    } else {
      c.State = TBrokerState::Disconnected;
      if (!c.Refused) c.Failure = BrokerFailureText(rc, error, c.CertRejected);
    }
    // QoS 0 messages not yet written die with the connection; QoS 1 ones are sent again.
    if (c.S.Qos == 0) c.Dropped += c.Inflight.exchange(0);
    c.RepeatPending = !c.S.Panel;
  }
  c.SenderWake.notify_all();
}

// One message less in flight (never below zero: a disconnect may have written them all off).
// The sender waits only while the limit is reached: it is woken when room appears.
void ReleaseInflight(TBrokerCore &c) {
  int v = c.Inflight.load();
  while (v > 0 && !c.Inflight.compare_exchange_weak(v, v - 1)) {
  }
  if (v == InflightLimit) {
    std::lock_guard lock(c.Mutex);
    c.SenderWake.notify_all();
  }
}

void OnPublish(mosquitto *, void *obj, int, int, const mosquitto_property *) {
  TBrokerCore &c = CoreOf(obj);
  ++c.Sent;
  ReleaseInflight(c);
}

// A publisher's normal close has the broker send the last will: "offline", retained.
void Disconnect(TBrokerCore &c) {
  if (c.S.Panel)
    mosquitto_disconnect(c.Mosq);
  else
    mosquitto_disconnect_v5(c.Mosq, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
}

bool HasRepeatMark(const mosquitto_property *props) {
  bool found = false;
  for (bool skip = false;; skip = true) {
    char *name = nullptr, *value = nullptr;
    props = mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &name, &value, skip);
    if (!props) break;
    found = found || (std::strcmp(name, RepeatName) == 0 && std::strcmp(value, RepeatValue) == 0);
    std::free(name);
    std::free(value);
  }
  return found;
}

void OnMessage(mosquitto *, void *obj, const mosquitto_message *msg, const mosquitto_property *props) {
  TBrokerCore &c = CoreOf(obj);
  const std::string_view topic = msg->topic ? msg->topic : "";
  const std::string &prefix = c.S.Prefix;
  if (topic.size() <= prefix.size() || topic.compare(0, prefix.size(), prefix) != 0 || topic[prefix.size()] != '/')
    return;
  TBrokerMessage m;
  m.Level = std::string(topic.substr(prefix.size() + 1));
  const auto length = static_cast<std::size_t>(std::max(msg->payloadlen, 0));
  const char *payload = static_cast<const char *>(msg->payload);
  m.TooLong = length > TBrokerLink::MaxPayload;
  m.Payload.assign(payload ? payload : "", payload ? std::min(length, m.TooLong ? TBrokerLink::ExcerptLength : length) : 0);
  m.Replayed = msg->retain || (props && HasRepeatMark(props));
  const std::size_t cost = sizeof(TBrokerMessage) + m.Level.size() + m.Payload.size();
  bool post;
  {
    std::lock_guard lock(c.Mutex);
    if (c.InboxBytes + cost > InboxLimitBytes) {
      ++c.Overflow;
      return;
    }
    c.Inbox.push_back(std::move(m));
    c.InboxBytes += cost;
    post = !c.DrainPosted;
    c.DrainPosted = true;
  }
  // Posted only after the previous drain has taken the inbox: at worst this waits for that
  // drain to finish on the GUI thread, never for one the GUI thread has not started.
  if (post) c.Sync.Post([&c] { c.Drain(); });
}

} // namespace

void TBrokerCore::Drain() {
  std::vector<TBrokerMessage> taken;
  {
    std::lock_guard lock(Mutex);
    taken.swap(Inbox);
    InboxBytes = 0;
    DrainPosted = false;
  }
  Received += taken.size();
  // A copy: the handler may replace the link's handler while it runs.
  if (auto handler = OnMessages; handler && !taken.empty()) handler(taken);
}

void TBrokerCore::RunSender() {
  pthread_setname_np(pthread_self(), "mqtt-send");
  mosquitto_property *repeat = nullptr;
  mosquitto_property_add_string_pair(&repeat, MQTT_PROP_USER_PROPERTY, RepeatName, RepeatValue);
  std::uint64_t publishedSeq[11] = {}; // the newest value sent on this connection, per meter
  std::vector<TOutValue> chunk;
  std::vector<std::pair<const std::string *, std::string>> texts;
  const auto publish = [&](const std::string &topic, const std::string &payload, const mosquitto_property *props) {
    // Counted before the call: the network thread may have written the message before it returns.
    ++Inflight;
    const int rc = mosquitto_publish_v5(Mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                        payload.data(), S.Qos, true, props);
    if (rc != MOSQ_ERR_SUCCESS) {
      ReleaseInflight(*this);
      ++Dropped;
    }
  };

  std::unique_lock lock(Mutex);
  for (;;) {
    if (Stopping) {
      // What is queued still goes out while connected, up to the stop's deadline.
      const bool more = Connected && (ConnectEvent || AnyMetaDirty() || !Queue.empty());
      if (!more || !SenderWake.wait_until(lock, StopBy, [&] { return !Connected || SenderReady(); }) || !Connected)
        break;
    } else {
      SenderWake.wait(lock, [&] { return Stopping || SenderReady(); });
      if (Stopping) continue;
    }
    texts.clear();
    if (ConnectEvent) {
      ConnectEvent = false;
      std::fill(std::begin(publishedSeq), std::end(publishedSeq), 0);
      RepeatPending = true;
      texts.emplace_back(&StatusTopic, "online");
      for (int n = 1; n <= 10; ++n) MetaDirty[n] = !Meta[n].empty();
    }
    for (int n = 1; n <= 10; ++n)
      if (MetaDirty[n]) {
        MetaDirty[n] = false;
        texts.emplace_back(&MetaTopics[n], Meta[n]);
      }
    chunk.clear();
    const auto room = static_cast<std::size_t>(std::max(InflightLimit - Inflight.load(), 0));
    while (!Queue.empty() && chunk.size() < std::min(room, ChunkSize)) {
      QueueBytes -= QueueCost(Queue.front().Text);
      chunk.push_back(std::move(Queue.front()));
      Queue.pop_front();
    }
    // Once the queue is empty, meters whose newest value has not gone out on this connection
    // (dropped, or sent before a broker restart) get it again, marked as a repeat.
    std::vector<std::pair<int, std::string>> repeats;
    if (Queue.empty() && chunk.empty() && RepeatPending) {
      RepeatPending = false;
      for (int n = 1; n <= 10; ++n)
        if (NewestSeq[n] != 0 && publishedSeq[n] != NewestSeq[n]) {
          repeats.emplace_back(n, Newest[n]);
          publishedSeq[n] = NewestSeq[n];
        }
    }
    lock.unlock();
    for (const auto &[topic, payload] : texts) publish(*topic, payload, nullptr);
    for (const TOutValue &v : chunk) {
      publish(ValueTopics[v.Instrument], v.Text, nullptr);
      publishedSeq[v.Instrument] = v.Seq;
    }
    for (const auto &[n, text] : repeats) publish(ValueTopics[n], text, repeat);
    lock.lock();
  }
  lock.unlock();
  mosquitto_property_free_all(&repeat);
  Disconnect(*this);
}

void TBrokerCore::RunNet() {
  pthread_setname_np(pthread_self(), "mqtt-net");
  InitLibrary();
  Mosq = mosquitto_new(S.ClientId.c_str(), true, this);
  const auto finish = [this] {
    std::lock_guard lock(Mutex);
    NetDone = true;
    State = TBrokerState::Stopped;
    Finished.notify_all();
  };
  if (!Mosq) {
    SetFailure("out of memory");
    finish();
    return;
  }
  mosquitto_int_option(Mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_threaded_set(Mosq, true);
  mosquitto_reconnect_delay_set(Mosq, 1, MaxRetrySeconds, true);
  mosquitto_connect_v5_callback_set(Mosq, OnConnect);
  mosquitto_disconnect_v5_callback_set(Mosq, OnDisconnect);
  mosquitto_publish_v5_callback_set(Mosq, OnPublish);
  mosquitto_message_v5_callback_set(Mosq, OnMessage);
  mosquitto_log_callback_set(Mosq, OnLog);
  std::string setupError;
  if (S.Url.Tls) {
    const int rc = S.CaFile.empty() ? mosquitto_int_option(Mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                                    : mosquitto_tls_set(Mosq, S.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) setupError = "cannot read the CA file " + S.CaFile;
  }
  if (!S.Url.User.empty())
    mosquitto_username_pw_set(Mosq, S.Url.User.c_str(), S.Password.empty() ? nullptr : S.Password.c_str());
  if (!S.Panel) mosquitto_will_set_v5(Mosq, StatusTopic.c_str(), 7, "offline", S.Qos, true, nullptr);
  mosquitto_property *props = nullptr;
  if (S.Panel) mosquitto_property_add_int32(&props, MQTT_PROP_MAXIMUM_PACKET_SIZE, MaxPacketBytes);

  std::thread sender([this] { RunSender(); });
  int delay = 1;
  std::unique_lock lock(Mutex);
  if (!setupError.empty()) {
    Failure = setupError;
    State = TBrokerState::Disconnected;
    NetWake.wait(lock, [&] { return Stopping; });
  }
  // libmosquitto's loop reconnects by itself with a growing delay, but gives up on a first
  // connect that fails and on name, TLS and refusal errors: those are retried here.
  while (!Stopping) {
    const std::uint64_t connectsBefore = Connects;
    Refused = false;
    CertRejected = false;
    State = TBrokerState::Connecting;
    lock.unlock();
    int rc = mosquitto_connect_bind_v5(Mosq, S.Url.Host.c_str(), S.Url.Port, S.KeepAliveSeconds, nullptr, props);
    int error = errno;
    if (rc == MOSQ_ERR_SUCCESS) {
      rc = mosquitto_loop_forever(Mosq, -1, 1);
      error = errno;
    }
    lock.lock();
    if (Stopping) break;
    if (!Refused) Failure = BrokerFailureText(rc, error, CertRejected);
    State = TBrokerState::Disconnected;
    Connected = false;
    if (Connects != connectsBefore) delay = 1;
    NetWake.wait_for(lock, std::chrono::seconds(delay), [&] { return Stopping; });
    delay = std::min(delay * 2, MaxRetrySeconds);
  }
  lock.unlock();
  // The sender disconnects when it has sent what it could; the loop then ends.
  SenderWake.notify_all();
  sender.join();
  mosquitto_property_free_all(&props);
  mosquitto_destroy(Mosq);
  Mosq = nullptr;
  finish();
}

TBrokerLink::TBrokerLink(TBrokerSettings settings) : FSettings(std::move(settings)) {
  if (FSettings.ClientId.empty()) FSettings.ClientId = UniqueClientId();
  FSettings.Qos = std::clamp(FSettings.Qos, 0, 1);
  FSettings.KeepAliveSeconds = std::max(FSettings.KeepAliveSeconds, 5);
}

TBrokerLink::~TBrokerLink() { Stop(); }

const std::string &TBrokerLink::ClientId() const { return FSettings.ClientId; }

void TBrokerLink::Start() {
  if (FCore) return;
  FCore = std::make_shared<TBrokerCore>(FSettings);
  FCore->OnMessages = OnMessages;
  for (int n = 1; n <= 10; ++n) {
    FCore->Meta[n] = FMetaSent[n];
    FCore->MetaDirty[n] = !FMetaSent[n].empty();
  }
  FNetThread = std::thread([core = FCore] { core->RunNet(); });
}

void TBrokerLink::Stop(int waitMs) {
  if (!FCore) return;
  Flush();
  TBrokerCore &c = *FCore;
  c.OnMessages = nullptr;
  bool done;
  {
    std::unique_lock lock(c.Mutex);
    c.Stopping = true;
    c.StopBy = Clock::now() + std::chrono::milliseconds(waitMs) / 2;
    c.SenderWake.notify_all();
    c.NetWake.notify_all();
    done = c.Finished.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return c.NetDone; });
  }
  // The core dies here, on this thread, when the network thread has ended; otherwise that
  // thread keeps it until it ends.
  if (done)
    FNetThread.join();
  else
    FNetThread.detach();
  FCore.reset();
}

void TBrokerLink::Value(int instrument, std::string_view text) {
  if (instrument < 1 || instrument > 10 || FSettings.Panel) return;
  FBatch.emplace_back(instrument, std::string(text));
}

void TBrokerLink::Meta(int instrument, std::string json) {
  if (instrument < 1 || instrument > 10 || FSettings.Panel || json == FMetaSent[instrument]) return;
  FMetaSent[instrument] = json;
  if (!FCore) return;
  {
    std::lock_guard lock(FCore->Mutex);
    FCore->Meta[instrument] = std::move(json);
    FCore->MetaDirty[instrument] = true;
  }
  FCore->SenderWake.notify_all();
}

void TBrokerLink::Flush() {
  if (FBatch.empty()) return;
  if (!FCore) {
    FBatch.clear();
    return;
  }
  TBrokerCore &c = *FCore;
  std::uint64_t dropped = 0;
  {
    std::lock_guard lock(c.Mutex);
    for (auto &[n, text] : FBatch) {
      const std::uint64_t seq = ++c.NextSeq;
      c.NewestSeq[n] = seq;
      c.Newest[n] = text;
      const std::size_t cost = QueueCost(text);
      if (c.QueueBytes + cost > FSettings.QueueLimitBytes) {
        ++dropped;
        continue;
      }
      c.Queue.push_back({seq, n, std::move(text)});
      c.QueueBytes += cost;
    }
    c.PeakBytes = std::max(c.PeakBytes, c.QueueBytes);
    if (dropped) c.RepeatPending = true;
  }
  c.Dropped += dropped;
  c.SenderWake.notify_all();
  FBatch.clear();
}

TBrokerCounts TBrokerLink::Counts() const {
  TBrokerCounts counts;
  if (!FCore) return counts;
  TBrokerCore &c = *FCore;
  std::lock_guard lock(c.Mutex);
  counts.State = c.State;
  counts.Failure = c.State == TBrokerState::Connected ? std::string() : c.Failure;
  counts.Sent = c.Sent;
  counts.Dropped = c.Dropped;
  counts.Received = c.Received;
  counts.Overflow = c.Overflow;
  counts.QueuedBytes = c.QueueBytes;
  counts.PeakQueuedBytes = c.PeakBytes;
  counts.Connects = c.Connects;
  return counts;
}

std::string UniqueClientId() {
  std::string host = ThisHostName();
  for (char &c : host)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
  host = host.substr(0, 32);
  std::random_device random;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
  return "telmora-" + host + "-" + std::to_string(getpid()) + "-" + hex;
}
