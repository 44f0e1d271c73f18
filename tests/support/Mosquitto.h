#pragma once
// A real mosquitto broker for the tests, on a free loopback port with a configuration written
// into a scratch folder (anonymous, with a password file, or TLS with a CA made here), and a
// plain libmosquitto client that watches and injects messages. Waits are on events with a deadline.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

inline std::string MakeScratchFolder() {
  std::string pattern = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp")) + "/telmora-mqtt-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  chmod(pattern.c_str(), 0755); // the broker may run as another user
  return pattern;
}

inline int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

inline void Shell(const std::string &command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) throw std::runtime_error("failed: " + command);
}

enum class TBrokerAuth { Anonymous, Password, Tls };

class TMosquitto {
public:
  static constexpr const char *User = "alice";
  static constexpr const char *Password = "s3cret pass";

  explicit TMosquitto(TBrokerAuth auth = TBrokerAuth::Anonymous) : FAuth(auth), FDir(MakeScratchFolder()) {
    FPort = FreeLoopbackPort();
    std::ofstream conf(FDir + "/mosquitto.conf");
    const passwd *pw = getpwuid(getuid());
    conf << "user " << (pw ? pw->pw_name : "root") << "\n"
         << "listener " << FPort << " 127.0.0.1\n"
         << "log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
         << "persistence true\npersistence_location " << FDir << "/\n"
         << "max_queued_messages 0\n";
    if (auth == TBrokerAuth::Anonymous) {
      conf << "allow_anonymous true\n";
    } else {
      Shell("mosquitto_passwd -b -c '" + FDir + "/passwords' " + User + " '" + Password + "'");
      chmod((FDir + "/passwords").c_str(), 0644);
      conf << "allow_anonymous false\npassword_file " << FDir << "/passwords\n";
    }
    if (auth == TBrokerAuth::Tls) {
      const std::string d = FDir;
      Shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + d + "/ca.key -out " + d +
            "/ca.crt -days 2 -subj '/CN=Telmora Test CA'");
      Shell("openssl req -newkey rsa:2048 -nodes -keyout " + d + "/server.key -out " + d +
            "/server.csr -subj '/CN=localhost'");
      std::ofstream(d + "/san.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
      Shell("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.crt -CAkey " + d + "/ca.key -CAcreateserial -out " +
            d + "/server.crt -days 2 -extfile " + d + "/san.ext");
      chmod((d + "/server.key").c_str(), 0644);
      conf << "cafile " << d << "/ca.crt\ncertfile " << d << "/server.crt\nkeyfile " << d << "/server.key\n";
    }
  }
  ~TMosquitto() {
    Kill(SIGKILL);
    Shell("rm -rf '" + FDir + "'");
  }
  TMosquitto(const TMosquitto &) = delete;
  TMosquitto &operator=(const TMosquitto &) = delete;

  int Port() const { return FPort; }
  pid_t Pid() const { return FPid; }
  const std::string &Folder() const { return FDir; }
  std::string CaFile() const { return FDir + "/ca.crt"; }
  std::string Url(const std::string &prefix = "") const {
    std::string s = FAuth == TBrokerAuth::Tls ? "mqtts://" : "mqtt://";
    if (FAuth != TBrokerAuth::Anonymous) s += std::string(User) + "@";
    s += (FAuth == TBrokerAuth::Tls ? "localhost:" : "127.0.0.1:") + std::to_string(FPort);
    return prefix.empty() ? s : s + "/" + prefix;
  }

  // Starts the broker and returns once it listens (it says so in its log).
  void Start() {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    FPid = fork();
    if (FPid == 0) {
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(out[0]);
      close(out[1]);
      execlp("mosquitto", "mosquitto", "-c", (FDir + "/mosquitto.conf").c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FLog.clear();
    // The log is read to its end on a thread of its own, so the broker never blocks on a full pipe.
    FReader = std::thread([this, fd = out[0]] {
      char buf[4096];
      for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        std::lock_guard lock(FMutex);
        FLog.append(buf, static_cast<std::size_t>(n));
        FChanged.notify_all();
      }
      close(fd);
      std::lock_guard lock(FMutex);
      FLogEnded = true;
      FChanged.notify_all();
    });
    std::unique_lock lock(FMutex);
    FLogEnded = false;
    if (!FChanged.wait_for(lock, std::chrono::seconds(10), [&] { return FLog.find(" running") != std::string::npos || FLogEnded; }) ||
        FLog.find(" running") == std::string::npos)
      throw std::runtime_error("mosquitto did not start: " + FLog);
  }
  // Ends the broker with `sig` and reaps it (SIGTERM lets it save its sessions and stored messages).
  void Kill(int sig = SIGTERM) {
    if (FPid <= 0) return;
    kill(FPid, sig);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
    if (FReader.joinable()) FReader.join();
  }
  void Pause() { kill(FPid, SIGSTOP); }
  void Resume() { kill(FPid, SIGCONT); }
  std::string Log() {
    std::lock_guard lock(FMutex);
    return FLog;
  }

private:
  TBrokerAuth FAuth;
  std::string FDir;
  int FPort = 0;
  pid_t FPid = -1;
  std::thread FReader;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::string FLog;
  bool FLogEnded = false;
};

struct TProbeMessage {
  std::string Topic, Payload;
  bool Retain = false;
  bool Repeat = false;
};

// A plain client on its own network thread: subscribes, collects, publishes.
class TMqttProbe {
public:
  // A persistent session (`clean` false) keeps QoS 1 messages for the probe while it is away, also
  // across a broker restart.
  TMqttProbe(const TMosquitto &broker, const std::string &id, bool clean = true, const char *user = nullptr,
             const char *password = nullptr) {
    mosquitto_lib_init();
    FMosq = mosquitto_new(id.c_str(), clean, this);
    mosquitto_int_option(FMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (user) mosquitto_username_pw_set(FMosq, user, password);
    mosquitto_reconnect_delay_set(FMosq, 1, 2, false);
    mosquitto_connect_v5_callback_set(FMosq, [](mosquitto *m, void *obj, int rc, int, const mosquitto_property *) {
      auto *self = static_cast<TMqttProbe *>(obj);
      std::lock_guard lock(self->FMutex);
      if (rc == 0) {
        ++self->FConnects;
        for (const auto &[topic, qos] : self->FFilters) mosquitto_subscribe(m, nullptr, topic.c_str(), qos);
      }
      self->FChanged.notify_all();
    });
    mosquitto_subscribe_v5_callback_set(FMosq, [](mosquitto *, void *obj, int, int, const int *, const mosquitto_property *) {
      auto *self = static_cast<TMqttProbe *>(obj);
      std::lock_guard lock(self->FMutex);
      ++self->FSubscribed;
      self->FChanged.notify_all();
    });
    mosquitto_message_v5_callback_set(FMosq, [](mosquitto *, void *obj, const mosquitto_message *msg, const mosquitto_property *props) {
      auto *self = static_cast<TMqttProbe *>(obj);
      TProbeMessage m{msg->topic, std::string(static_cast<const char *>(msg->payload), static_cast<std::size_t>(msg->payloadlen)),
                      msg->retain, false};
      char *name = nullptr, *value = nullptr;
      if (mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &name, &value, false)) {
        m.Repeat = std::string(name) == "telmora" && std::string(value) == "repeat";
        std::free(name);
        std::free(value);
      }
      std::lock_guard lock(self->FMutex);
      self->FMessages.push_back(std::move(m));
      self->FChanged.notify_all();
    });
    // A kept session must outlive the connection: MQTT 5 ends it at once unless told otherwise.
    if (!clean) mosquitto_property_add_int32(&FProps, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 3600);
    mosquitto_connect_bind_v5(FMosq, "127.0.0.1", broker.Port(), 10, nullptr, FProps);
    mosquitto_loop_start(FMosq);
  }
  ~TMqttProbe() {
    mosquitto_disconnect(FMosq);
    mosquitto_loop_stop(FMosq, false);
    mosquitto_destroy(FMosq);
    mosquitto_property_free_all(&FProps);
  }
  TMqttProbe(const TMqttProbe &) = delete;
  TMqttProbe &operator=(const TMqttProbe &) = delete;

  // Subscribes now and after every reconnect; returns once the broker confirmed it.
  bool Subscribe(const std::string &filter, int qos = 0) {
    std::unique_lock lock(FMutex);
    const int before = FSubscribed;
    FFilters.emplace_back(filter, qos);
    if (FConnects > 0) mosquitto_subscribe(FMosq, nullptr, filter.c_str(), qos);
    return FChanged.wait_for(lock, std::chrono::seconds(10), [&] { return FSubscribed > before; });
  }
  void Publish(const std::string &topic, const std::string &payload, bool retain = false, int qos = 1) {
    mosquitto_publish(FMosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
  }
  // Waits until `done` holds for the messages so far.
  bool WaitFor(const std::function<bool(const std::vector<TProbeMessage> &)> &done,
               std::chrono::seconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, limit, [&] { return done(FMessages); });
  }
  bool WaitConnected() {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::seconds(10), [&] { return FConnects > 0; });
  }
  std::vector<TProbeMessage> Messages() {
    std::lock_guard lock(FMutex);
    return FMessages;
  }

private:
  mosquitto *FMosq = nullptr;
  mosquitto_property *FProps = nullptr;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TProbeMessage> FMessages;
  std::vector<std::pair<std::string, int>> FFilters;
  int FConnects = 0;
  int FSubscribed = 0;
};

} // namespace testsupport
