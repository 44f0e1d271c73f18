#pragma once
// The demo: Telmora connected to its own simulated device on a pseudo-terminal, with the ten
// working meters shown and moving. Nothing of the user's own settings is read or written.
#include <memory>
#include <string>

#include "tty/PseudoTerminal.h"

class TFormMain;
class TSimulator;

class TDemo {
public:
  explicit TDemo(TFormMain &form);
  ~TDemo();
  TDemo(const TDemo &) = delete;
  TDemo &operator=(const TDemo &) = delete;

  // Creates the device, shows and sizes the meters, connects the port and starts sending.
  // False with a message when the device cannot be made or opened.
  bool Start(double recordsPerSecond, std::string &error);
  const std::string &DevicePath() const { return FPty.SlavePath(); }

private:
  TFormMain &FForm;
  TPseudoTerminal FPty;
  std::unique_ptr<TSimulator> FSim;
};
