#pragma once
// Logout, shutdown and Ctrl-C end the program the normal way: SIGTERM, SIGINT and SIGHUP are
// handed to the GUI thread through a self-pipe, where a handler can close the window (and so save
// what the run changed) instead of the process dying on the spot.
#include <functional>

class QObject;

// Installs the handlers; `onSignal` runs on the GUI thread with the signal's number. A second
// signal that arrives before the GUI thread served the first ends the process as the signal
// would have by default: a program whose event loop hangs still stops. False when the pipe or
// the handlers cannot be set up (the signals then keep their default action).
bool InstallCloseSignals(QObject *parent, std::function<void(int)> onSignal);
