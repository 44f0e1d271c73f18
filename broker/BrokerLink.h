#pragma once
// The link to an MQTT broker, on libmosquitto. A publisher sends every value to <prefix>/<n>
// (retained), each meter's description to <prefix>/<n>/meta (retained) and "online"/"offline" to
// <prefix>/status (retained; "offline" is also the last will). A panel subscribes to <prefix>/+
// and hands what arrives to the GUI thread.
//
// Three threads share the work and none of them waits on another for long: the owner (the GUI
// thread) only appends values to a batch and hands whole batches over; a sender thread feeds them
// to libmosquitto, at most a bounded number at a time; libmosquitto's loop runs on a network
// thread that connects, reconnects with a growing delay and writes. While the broker is slow or
// away at most QueueLimitBytes wait; the rest is dropped and counted. After every (re)connect
// status, descriptions and the newest values are sent again, as the broker may have lost them.
//
// Value, Meta, Flush, Start, Stop and Counts belong to the owner's thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "broker/BrokerUrl.h"

struct TBrokerSettings {
  TBrokerUrl Url;
  // Topics are <Prefix>/<n>, <Prefix>/<n>/meta and <Prefix>/status.
  std::string Prefix;
  // mqtts: the CA certificates to trust (PEM); empty: the system's store.
  std::string CaFile;
  // Sent with the URL's user; empty: none. Kept in memory only.
  std::string Password;
  int Qos = 0; // 0 or 1
  // A panel subscribes to <Prefix>/+ and publishes nothing.
  bool Panel = false;
  // Values waiting for the broker, in bytes of memory; beyond it they are dropped and counted.
  std::size_t QueueLimitBytes = 4u << 20;
  // Seconds between pings while idle; a broker that stops answering is noticed within 1.5 times it.
  int KeepAliveSeconds = 10;
  // A client id unique to this run when empty.
  std::string ClientId;
};

enum class TBrokerState { Stopped, Connecting, Connected, Disconnected };

// One message that reached a panel.
struct TBrokerMessage {
  std::string Level;   // the topic level below the prefix: "3", "status", …
  std::string Payload; // cut to a short excerpt when TooLong
  bool TooLong = false;
  // The broker's stored copy (sent on subscribing) or a value the publisher repeated after a
  // reconnect: the meter takes it, but it is no new measurement.
  bool Replayed = false;
};

struct TBrokerCounts {
  TBrokerState State = TBrokerState::Stopped;
  // Why the link is not connected, in words ("connection refused"); "" while connected.
  std::string Failure;
  std::uint64_t Sent = 0;     // messages the broker took (QoS 0: written out; QoS 1: acknowledged)
  std::uint64_t Dropped = 0;  // values left out: the queue was full, or lost with the connection
  std::uint64_t Received = 0; // panel: messages handed to OnMessages
  std::uint64_t Overflow = 0; // panel: messages left out because the GUI thread fell behind
  std::size_t QueuedBytes = 0;
  std::size_t PeakQueuedBytes = 0;
  std::uint64_t Connects = 0; // successful connections so far
};

struct TBrokerCore;

class TBrokerLink {
public:
  // A payload longer than this is no value; a panel gets only an excerpt of it.
  static constexpr std::size_t MaxPayload = 1024;
  static constexpr std::size_t ExcerptLength = 40;

  explicit TBrokerLink(TBrokerSettings settings);
  // Stops with the default wait.
  ~TBrokerLink();
  TBrokerLink(const TBrokerLink &) = delete;
  TBrokerLink &operator=(const TBrokerLink &) = delete;

  // Starts connecting (in the background; failures show in Counts).
  void Start();
  // Sends what is queued and "offline" while connected, then closes. Waits at most `waitMs`: a
  // thread still stuck in a name lookup or a connect then finishes on its own.
  void Stop(int waitMs = 2000);

  // Publisher: the value of meter `instrument` (1 … 10) as text, kept in the batch until Flush.
  void Value(int instrument, std::string_view text);
  // Publisher: the description of meter `instrument` (a JSON object), sent now and after every
  // reconnect; the same text again sends nothing.
  void Meta(int instrument, std::string json);
  // Hands the batch to the sender.
  void Flush();

  // Panel: runs on the GUI thread with the messages that arrived since the last call; set before
  // Start. It must not stop the link itself (the network thread may be waiting for it to return).
  std::function<void(std::vector<TBrokerMessage> &)> OnMessages;

  TBrokerCounts Counts() const;
  const TBrokerSettings &Settings() const { return FSettings; }
  const std::string &ClientId() const;

private:
  TBrokerSettings FSettings;
  std::shared_ptr<TBrokerCore> FCore;
  std::thread FNetThread;
  std::vector<std::pair<int, std::string>> FBatch;
  std::string FMetaSent[11];
};

// A client id for this run: "telmora-<host>-<pid>-<random hex>", at most 64 bytes.
std::string UniqueClientId();
