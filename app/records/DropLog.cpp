#include "app/records/DropLog.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "app/records/MeasurementProtocol.h"
#include "platform/FormatSettings.h"

void TDropLog::Add(const std::string &record, TClock::time_point time, const std::string &reason) {
  TEntry &slot = FRing[FCount % Capacity];
  slot.Time = time;
  slot.Record.assign(record); // keeps the slot's storage: no allocation once the ring is warm
  slot.Reason.assign(reason);
  ++FCount;
}

std::vector<TDropLog::TEntry> TDropLog::Entries() const {
  std::vector<TEntry> out;
  const std::uint64_t kept = FCount < Capacity ? FCount : Capacity;
  out.reserve(kept);
  for (std::uint64_t i = FCount - kept; i < FCount; ++i) out.push_back(FRing[i % Capacity]);
  return out;
}

std::string TDropLog::LastReason() const {
  return FCount == 0 ? std::string() : PrintableText(EntryReason(FRing[(FCount - 1) % Capacity]), 120);
}

std::string EntryReason(const TDropLog::TEntry &entry) {
  return entry.Reason.empty() ? DropReason(entry.Record, TWording::German) : entry.Reason;
}

std::string DropReason(const std::string &record, TWording wording) {
  // A record that parses was dropped only because no meter took it.
  const std::string why = WhyDropped(record, FormatSettings(), wording);
  if (!why.empty()) return why;
  return wording == TWording::German ? "das Instrument fehlt" : "the meter is missing";
}

std::string PrintableText(const std::string &text, std::size_t longest) {
  std::size_t cut = std::min(text.size(), longest);
  // Not inside a UTF-8 sequence: the window would show a broken character there.
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  std::string out;
  for (std::size_t i = 0; i < cut; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  if (cut < text.size()) out += "...";
  return out;
}

std::string DropLogLine(const TDropLog::TEntry &entry) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(entry.Time.time_since_epoch()).count();
  const std::time_t secs = std::time_t(ms / 1000);
  std::tm local{};
  localtime_r(&secs, &local);
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec, int(ms % 1000));
  return std::string(clock) + "  " + PrintableText(entry.Record, 80) + "  ->  " +
         PrintableText(EntryReason(entry), 120);
}
