#pragma once
// The application object and its exception display: an error that escapes a handler is shown in
// a message box with its message, and the program goes on.
#include <QApplication>

#include <exception>
#include <functional>
#include <string>

// Shown for exceptions that carry no message (not derived from std::exception).
inline constexpr const char *UnknownExceptionMessage = "Unknown exception";

// Where exception messages go instead of the message box (tests, headless runs).
using TExceptionSink = std::function<void(const std::string &)>;
// Installs `sink` and returns the previous one; an empty sink restores the message box.
TExceptionSink SetExceptionSink(TExceptionSink sink);

// Shows `message` (several lines allowed) in a modal message box with the critical icon and the
// application name as title, or hands it to the sink; while shutting down it goes to stderr. Called on a worker thread, it is handed to
// the GUI thread and the worker waits. Never throws.
void ShowExceptionMessage(const std::string &message);
void ShowException(const std::exception &e);

// Closing for good (a signal, the session ending): from then on messages are written to the
// standard error instead of opening a box nobody is left to close, which would keep the event loop
// and so the process alive after the window has gone.
void BeginShutdown();
bool ShuttingDown();
// Closes whatever is open the way the user would: message boxes and dialogs first (their exec
// returns as if cancelled), then every window, so the main window saves once on its close.
void CloseEverything();

// Shows the exception being handled; for use inside a catch block (does nothing outside one).
void ShowCurrentException();

// Runs `call`; an exception escaping it is shown and swallowed. Returns whether it completed.
// For handlers that are not reached through TApplication::notify.
bool RunGuarded(const std::function<void()> &call);

// Loads Qt's own translations of its dialogs and buttons (file and font dialogs, "Cancel") for
// `language` ("de"), so that they speak the window's language whatever the user's locale is.
// Null when they are not installed: Qt's English texts stay then. The application owns the
// translator.
class QTranslator;
QTranslator *InstallQtTranslations(const QString &language);

class TApplication : public QApplication {
public:
  TApplication(int &argc, char **argv);

  // Delivers as QApplication does; an exception escaping the receiver's handlers is shown.
  bool notify(QObject *receiver, QEvent *event) override;

  // The guarded delivery notify() uses: runs `deliver`, shows an escaping exception and then
  // reports the event as not handled. A template, so that delivering an event allocates nothing.
  template <class Deliver> static bool DeliverGuarded(Deliver &&deliver) {
    try {
      return deliver();
    } catch (...) {
      ShowCurrentException();
    }
    return false;
  }
};
