#pragma once
// The records the measurement handler dropped: how many, and the last ones with the time they
// came, so the window can say what went wrong. An accepted record costs nothing here; the reason
// is worked out only when someone looks.
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "app/records/MeasurementProtocol.h"

class TDropLog {
public:
  static constexpr std::size_t Capacity = 100;
  using TClock = std::chrono::system_clock;
  struct TEntry {
    TClock::time_point Time;
    std::string Record;
    std::string Reason; // "" for a serial record: its reason is worked out from it
  };

  void Add(const std::string &record) { Add(record, TClock::now()); }
  void Add(const std::string &record, TClock::time_point time, const std::string &reason = {});
  // Something that is no serial record (a broker's message, shown as "topic payload"), with its reason.
  void AddWithReason(const std::string &record, const std::string &reason) { Add(record, TClock::now(), reason); }
  // Records dropped since the start, also those no longer kept.
  std::uint64_t Count() const { return FCount; }
  // The kept records, oldest first.
  std::vector<TEntry> Entries() const;
  // Why the last record was dropped, in the window's words and fit for one line; "" when none was.
  std::string LastReason() const;

private:
  std::array<TEntry, Capacity> FRing;
  std::uint64_t FCount = 0;
};

// Why the measurement handler dropped `record`: in --trace's words, or the window's.
std::string DropReason(const std::string &record, TWording wording = TWording::English);
// `text` with control bytes as \xNN, cut after `longest` bytes ("..." marks the cut), so that a
// line of garbage stays one readable line.
std::string PrintableText(const std::string &text, std::size_t longest);
// Why `entry` was dropped, in the window's words: its own reason, or the serial record's.
std::string EntryReason(const TDropLog::TEntry &entry);
// One line of the list shown in the window: local time with milliseconds, the record, the reason.
std::string DropLogLine(const TDropLog::TEntry &entry);
