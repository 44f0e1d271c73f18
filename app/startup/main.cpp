#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <QFileInfo>
#include <QScreen>
#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <optional>

#include <unistd.h>

#include "app/cli/CommandLine.h"
#include "app/startup/Demo.h"
#include "app/window/FormMain.h"
#include "app/storage/FormStorage.h"
#include "app/window/OneInstance.h"
#include "app/cli/PortListing.h"
#include "app/startup/Replay.h"
#include "app/records/Trace.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "platform/CloseSignals.h"
#include "platform/FormatSettings.h"
#include "platform/Version.h"

namespace {

bool HasDisplay() {
  const char *qpa = std::getenv("QT_QPA_PLATFORM");
  if (qpa && *qpa) return true;
  return (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
         (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
}

int WriteScreenshot(TFormMain &form, const std::string &file, int settleMs) {
  form.show();
  // Values on their way (the demo's stream) get time to arrive and be drawn.
  if (settleMs > 0) {
    QEventLoop loop;
    QTimer::singleShot(settleMs, &loop, &QEventLoop::quit);
    loop.exec();
  }
  // Let the window lay itself out and paint once before it is grabbed.
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const QPixmap shot = form.grab();
  if (shot.isNull() || !shot.save(QString::fromStdString(file), "PNG")) {
    std::cerr << "telmora: cannot write the screenshot to '" << file
              << "': check that the folder exists and is writable\n";
    return 1;
  }
  std::cout << "telmora: screenshot written to " << file << " (" << shot.width() << " x " << shot.height()
            << ")\n";
  return 0;
}

// A second start had this window raised: the state it is in now. On stderr, so that standard
// output carries records only.
// The broker password: the first line of --mqtt-password-file, else TELMORA_MQTT_PASSWORD.
// False with *error when the file cannot be read.
bool BrokerPassword(const std::string &file, std::string &password, std::string *error) {
  if (file.empty()) {
    const char *env = std::getenv("TELMORA_MQTT_PASSWORD");
    password = env ? env : "";
    return true;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in || !std::getline(in, password)) {
    *error = "cannot read the password file " + file + (in ? " (it is empty)" : ": " + std::string(std::strerror(errno)));
    return false;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

void TraceActivation(const QWidget &window) {
  std::cerr << "raise request: window " << (window.isMinimized() ? "minimized" : "normal")
            << (window.isActiveWindow() ? ", active" : ", not active") << std::endl;
}

} // namespace

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  const TCommandLine cl = ParseCommandLine(args);
  if (!cl.Error.empty()) {
    std::cerr << "telmora: " << cl.Error << "\nTry 'telmora --help' for more information.\n";
    return 2;
  }
  if (cl.Help) {
    std::cout << UsageText("telmora");
    return 0;
  }
  if (cl.Version) {
    std::cout << "telmora " << TELMORA_VERSION << "\n";
    return 0;
  }
  // Before anything that needs a display: the list is for shells and scripts.
  if (cl.ListPorts) {
    std::cout << PortListing(DescribeSerialPorts());
    return 0;
  }
  // A screenshot needs no screen: without one the offscreen platform draws the window.
  if (!cl.Screenshot.empty() && !HasDisplay()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (cl.Screenshot.empty() && !HasDisplay()) {
    std::cerr << "telmora: no display found (DISPLAY and WAYLAND_DISPLAY are unset).\n"
                 "Start it inside a desktop session, under Xvfb (xvfb-run telmora), or use "
                 "--screenshot FILE.\n";
    return 1;
  }

  std::string brokerPassword, passwordError;
  if (!BrokerPassword(cl.MqttPasswordFile, brokerPassword, &passwordError)) {
    std::cerr << "telmora: " << passwordError << "\n";
    return 2;
  }
  if (!cl.MqttCaFile.empty() && !std::ifstream(cl.MqttCaFile)) {
    std::cerr << "telmora: cannot read the CA file " << cl.MqttCaFile << ": " << std::strerror(errno) << "\n";
    return 2;
  }

  // Registered before any window exists; the demo, replays and screenshots neither turn others away nor
  // are turned away.
  std::optional<TInstanceApplication> instance;
  if (!cl.Demo && cl.Replay.empty() && cl.Screenshot.empty()) instance.emplace(TInstanceApplication::ProcessKey(argv[0]));

  TApplication app(argc, argv);
  QCoreApplication::setApplicationName("Telmora");
  // The window speaks German: so do Qt's own dialogs (file, font) and buttons.
  InstallQtTranslations(QStringLiteral("de"));
  QCoreApplication::setApplicationVersion(TELMORA_VERSION);
  // Ties the window to its desktop entry (Wayland's app id; the software centre's id).
  QGuiApplication::setDesktopFileName(TELMORA_APP_ID);
  FormatSettings() = TFormatSettings::FromProcessLocale();

  // Nobody is there to close a message box while a screenshot is taken: failures go to stderr.
  if (!cl.Screenshot.empty())
    SetExceptionSink([](const std::string &message) { std::cerr << "telmora: " << message << "\n"; });

  // Before the form: the form may still report records while it goes.
  std::unique_ptr<TTraceWriter> trace;
  if (cl.Trace) trace = std::make_unique<TTraceWriter>(STDOUT_FILENO);
  // The demo keeps its own layout and leaves the user's settings alone.
  const std::string settingsFile = cl.Demo ? std::string()
                                           : cl.Settings.empty() ? UserSettingsFile()
                                                                 : QFileInfo(QString::fromStdString(cl.Settings))
                                                                       .absoluteFilePath()
                                                                       .toStdString();
  TFormMain form(nullptr, settingsFile);
  // Without a window to show them, the port's failures go to stderr, which speaks English.
  if (!cl.Screenshot.empty()) form.ComPort1->SetHintWording(TWording::English);
  // A picture of the window is no reason to change the settings.
  if (!cl.Screenshot.empty()) form.AppIniFileStorage1->FlushOnDestroy = false;
  // Logout, shutdown and Ctrl-C close the window as the user would, so the run's settings are kept,
  // also while a message box or a dialog is open.
  const auto closeOnSignals = [&app] { InstallCloseSignals(&app, [](int) { CloseEverything(); }); };
  if (cl.Replay.empty()) closeOnSignals();
  if (trace) form.OnMeasurement = [&trace](const std::string &r, const TAnVMeter *m) { trace->Measurement(r, m); };
  if (trace) TraceDiscards(*trace, *form.ComDataPacket1);
  if (trace)
    form.OnRemoteMeasurement = [&trace](const std::string &text, const TAnVMeter *m, const std::string &why) {
      trace->Measurement(text, m, why);
    };
  // The broker's state goes to --trace; without it a failure is told once on stderr, not per retry.
  form.OnBrokerEvent = [&trace](const std::string &line) {
    if (trace)
      trace->Line(line);
    else if (line.rfind("MQTT disconnected", 0) == 0)
      std::cerr << "telmora: " << line << std::endl;
  };
  // Before the window shows: showing restores the stored broker, which starts with them.
  form.SetBrokerCredentials(brokerPassword, cl.MqttCaFile);
  if (cl.Trace) form.OneInstance1->OnActivate = [&form](TObject *) { TraceActivation(form); };
  if (cl.Trace && instance && instance->Guard().Registered() && !form.OneInstance1->Terminating())
    std::cerr << "instance: first copy, a later start raises this window" << std::endl;
  // Before any record can arrive, so the file holds the stream from its first record.
  if (!cl.Record.empty()) {
    std::error_code same;
    if (!cl.Replay.empty() && std::filesystem::equivalent(cl.Record, cl.Replay, same)) {
      std::cerr << "telmora: --record " << cl.Record << " would overwrite the recording being replayed\n";
      return 2;
    }
    std::string error;
    if (!form.StartRecording(cl.Record, cl.RecordRaw, &error)) {
      std::cerr << "telmora: " << error << "\n";
      return 1;
    }
  }
  std::unique_ptr<TDemo> demo;
  std::unique_ptr<TReplay> replay;
  if (!cl.Replay.empty()) {
    // The replay's device is no port of the user's: the settings are read but not written.
    form.AppIniFileStorage1->FlushOnDestroy = false;
    form.show();
    replay = std::make_unique<TReplay>(form);
    QObject::connect(replay.get(), &TReplay::StatusChanged, &form,
                     [&form](const QString &text) { form.SetReplayStatus(text.toStdString()); });
    std::string error;
    if (!replay->Start(cl.Replay, cl.Speed, &error)) {
      std::cerr << "telmora: " << error << "\n";
      return 1;
    }
    // Only now: opening the recording runs before any event loop could serve a signal, and a
    // replay keeps no settings, so until here a signal ends the program at once.
    closeOnSignals();
    std::cout << "telmora: replaying " << cl.Replay << " on " << replay->DevicePath() << std::endl;
  } else if (cl.Demo) {
    form.show();
    demo = std::make_unique<TDemo>(form);
    std::string error;
    if (!demo->Start(200, error)) {
      std::cerr << "telmora: " << error << "\n";
      return 1;
    }
    std::cout << "telmora: demo running on the simulated device " << demo->DevicePath() << std::endl;
  } else {
    // Shown first: showing restores the stored port, which the command line's choice replaces.
    form.show();
    form.UsePort(cl.Port, cl.BaudRate);
  }
  if (!cl.Mqtt.empty() || !cl.MqttSource.empty()) {
    form.show();
    form.UseBroker(cl.MqttSource.empty() ? cl.Mqtt : cl.MqttSource, !cl.MqttSource.empty());
  }
  if (!cl.Page.empty()) {
    // The window starts on its Show page; the requested page follows once it is shown.
    form.show();
    form.ShowPageByName(cl.Page);
  }
  const auto connect = [&form] { RunGuarded([&form] { form.ConnectSchnittstelle1Click(); }); };
  if (!cl.Screenshot.empty()) {
    form.show();
    if (cl.Connect) connect();
    // Scripts tell a port that would not open by the status; the picture is written either way.
    const bool notConnected = cl.Connect && !form.ComPort1->Connected();
    const int written = WriteScreenshot(form, cl.Screenshot, cl.Demo || !cl.Replay.empty() ? 1500 : 0);
    return notConnected ? 1 : written;
  }
  form.show();
  // Once the event loop runs, so that a failure's message box appears over the painted window.
  // A later start only raises the first copy and ends: the port stays with that copy.
  if (cl.Connect && !form.OneInstance1->Terminating()) QTimer::singleShot(0, &form, connect);
  return app.exec();
}
