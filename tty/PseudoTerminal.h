#pragma once
// A pseudo-terminal pair standing in for a serial line: the program opens the slave path like any
// tty, and whoever holds the master plays the other end (a test, the simulator, the demo).
// Closing the master hangs the slave up, as unplugging a USB adapter does.
//
// The pair keeps one slave descriptor of its own open, so the master does not see the line drop
// while the program disconnects and reconnects.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

class TPseudoTerminal {
public:
  TPseudoTerminal() = default;
  TPseudoTerminal(const TPseudoTerminal &) = delete;
  TPseudoTerminal &operator=(const TPseudoTerminal &) = delete;
  ~TPseudoTerminal();

  // Creates a new pair in raw mode on both sides; 0 or errno. A pair already open is closed first.
  int Open();
  // Closes both sides.
  void Close();
  // Closes the master only: the slave's holders see a hangup.
  void CloseMaster();

  bool IsOpen() const { return FMaster >= 0; }
  // Non-blocking, close-on-exec; -1 when closed.
  int MasterFd() const { return FMaster; }
  const std::string &SlavePath() const { return FSlavePath; }

  // Writes `data` to the master, waiting for room until `timeout` has passed; the bytes written.
  size_t Send(std::string_view data, std::chrono::milliseconds timeout) const;
  // Reads from the master until `count` bytes have come or `timeout` has passed.
  std::string Receive(size_t count, std::chrono::milliseconds timeout) const;
  // Bytes the slave side wrote that the master has not read; -1 on failure.
  int Pending() const;

private:
  int FMaster = -1;
  int FSlaveKeeper = -1;
  std::string FSlavePath;
};
