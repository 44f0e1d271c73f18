#include "app/records/RecordingReader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "app/records/MeasurementProtocol.h"
#include "app/records/RecordCsv.h"
#include "platform/AtomicFile.h"
#include "platform/FormatFloat.h"
#include "tools/SimRunner.h"

TRecordingReader::~TRecordingReader() {
  if (FFile) std::fclose(FFile);
}

bool TRecordingReader::ReadLine(std::string &line, bool &complete, std::size_t room) {
  line.clear();
  complete = false;
  ++FLineNumber;
  int c;
  while ((c = getc_unlocked(FFile)) != EOF) {
    if (c == '\n') {
      complete = true;
      break;
    }
    if (line.size() >= room) {
      FTooLong = true;
      return false;
    }
    line += char(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return complete || !line.empty();
}

bool TRecordingReader::Open(const std::string &file, std::string *error) {
  FName = file;
  std::string why;
  const int fd = OpenRegularFile(file, &why);
  if (fd >= 0 && !(FFile = ::fdopen(fd, "rb"))) {
    why = "cannot read " + file + ": " + std::strerror(errno);
    ::close(fd);
  }
  if (!FFile) {
    if (error) *error = "The recording cannot be read: " + why + ".";
    return false;
  }
  std::string header;
  bool complete = false;
  if (!ReadLine(header, complete, MaxRecordBytes) && FTooLong) {
    if (error)
      *error = "Line 1 of " + file + " is longer than " + std::to_string(MaxRecordBytes) +
               " bytes: it is no recording line.";
    return false;
  }
  if (header.rfind("\xEF\xBB\xBF", 0) == 0) header.erase(0, 3);
  // A spreadsheet saving under a locale with "," as decimal separator puts ";" between fields.
  FSeparator = header.find(',') == std::string::npos && header.find(';') != std::string::npos ? ';' : ',';
  std::vector<std::string> fields;
  SplitCsvLine(header, FSeparator, fields);
  if (fields.size() < 3 || fields[0] != "Zeit" || fields[1] != "Instrument" || fields[2] != "Wert") {
    if (error)
      *error = file + " is not a Telmora recording: its first line should begin with \"" + RecordingHeader + "\".";
    return false;
  }
  return true;
}

bool TRecordingReader::Next(TReplayRecord &record) {
  std::string line;
  bool complete = false;
  do {
    if (ReadLine(line, complete, MaxRecordBytes)) continue;
    if (FTooLong)
      FError = "Zeile " + std::to_string(FLineNumber) + " von " + FName + " ist länger als " +
               std::to_string(MaxRecordBytes) + " Bytes: keine Zeile einer Aufzeichnung.";
    return false;
  } while (line.empty() && complete);
  const std::size_t first = FLineNumber;
  const std::string shown = line.substr(0, 80);
  // A quoted field may hold line breaks: the record goes on until its quotes are closed.
  FSplitter.Start(FSeparator);
  bool closed = FSplitter.Add(line);
  while (!closed && complete) {
    if (!ReadLine(line, complete, MaxRecordBytes - std::min(MaxRecordBytes, FSplitter.Size() + 2))) {
      // Without FTooLong the file ends inside the quotes: cut off, as a last line is.
      if (FTooLong)
        FError = "Zeile " + std::to_string(first) + " von " + FName +
                 " öffnet ein Feld in Anführungszeichen, das innerhalb von " + std::to_string(MaxRecordBytes) +
                 " Bytes nicht geschlossen wird: " + shown;
      return false;
    }
    FSplitter.Add("\r\n");
    closed = FSplitter.Add(line);
  }
  if (!complete) return false;
  const std::vector<std::string> &fields = FSplitter.Fields();
  const auto bad = [&](const std::string &why) {
    FError = "Zeile " + std::to_string(first) + " von " + FName + " ist keine Zeile einer Aufzeichnung (" + why +
             "): " + shown;
    return false;
  };
  if (fields.size() < 3) return bad("zu wenige Felder");
  if (!ParseIsoTime(fields[0], record.TimeMs)) return bad("keine Zeit wie 2024-05-01T14:03:07.123+02:00");
  const std::string raw = fields.size() >= 5 ? fields[4] : std::string();
  record.Instrument = 0;
  if (!fields[1].empty()) {
    // Both separators go in a record, so the value needs no conversion here; the check is the
    // program's own, so that no line sends what the meters would not take.
    std::string text = "#" + fields[1] + "M" + fields[2] + "<";
    TFormatSettings dot;
    const auto parsed = ParseMeasurementRecord(text, dot);
    if (!parsed) return bad(WhyDropped(text, dot, TWording::German));
    record.Instrument = parsed->Instrument;
    record.Bytes = raw.empty() ? std::move(text) : RawFromCsvText(raw);
  } else {
    if (raw.empty()) return bad("weder ein Instrument noch ein Datensatz");
    record.Bytes = RawFromCsvText(raw);
  }
  return true;
}

bool RecordingSpan(const std::string &file, std::int64_t &firstMs, std::int64_t &lastMs) {
  TRecordingReader reader;
  TReplayRecord record;
  if (!reader.Open(file, nullptr) || !reader.Next(record)) return false;
  firstMs = lastMs = record.TimeMs;
  // The last lines are read from the end, so an hour's recording is not read twice.
  const int fd = OpenRegularFile(file);
  std::FILE *f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
  if (!f) {
    if (fd >= 0) ::close(fd);
    return true;
  }
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  const long from = size > 4096 ? size - 4096 : 0;
  std::fseek(f, from, SEEK_SET);
  std::string tail(std::size_t(size - from), '\0');
  tail.resize(std::fread(tail.data(), 1, tail.size(), f));
  std::fclose(f);
  std::size_t end = tail.rfind('\n');
  while (end != std::string::npos && end > 0) {
    const std::size_t start = tail.rfind('\n', end - 1);
    const std::size_t b = start == std::string::npos ? 0 : start + 1;
    std::string line = tail.substr(b, end - b);
    const std::size_t cut = line.find_first_of(",;");
    std::int64_t t = 0;
    if (cut != std::string::npos && ParseIsoTime(line.substr(0, cut), t)) {
      lastMs = t;
      break;
    }
    if (start == std::string::npos) break;
    end = start;
  }
  return true;
}

std::chrono::nanoseconds ReplayDelay(std::int64_t atMs, double speed) {
  // Some 31 years: beyond any replay, and far within the clock's range from any start.
  constexpr double MaxNs = 1e18;
  if (!(speed > 0) || atMs <= 0) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds(TruncSat64(std::min(double(atMs) / speed * 1e6, MaxNs)));
}

namespace {
using TClock = std::chrono::steady_clock;

// Waits for the stop, and for room on the line when `writable`, until `deadline`. False on stop.
bool Wait(int fd, bool writable, const TSimStop &stop, TClock::time_point deadline) {
  pollfd fds[2] = {{stop.Fd(), POLLIN, 0}, {fd, POLLOUT, 0}};
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - TClock::now());
  timespec ts{time_t(left.count() / 1000000000), long(left.count() % 1000000000)};
  const bool untilStopped = deadline == TClock::time_point::max();
  if (!untilStopped && left.count() <= 0) return !stop.Raised();
  ::ppoll(fds, writable ? 2 : 1, untilStopped ? nullptr : &ts, nullptr);
  return !stop.Raised();
}
} // namespace

std::string RunReplay(int fd, TRecordingReader &reader, double speed, const TSimStop &stop, TReplayProgress &progress) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return std::strerror(errno);
  std::string pending;
  // Sends what is pending; false when stopped or the line failed (then `error` says why).
  std::string error;
  const auto flush = [&]() {
    std::size_t sent = 0;
    while (sent < pending.size()) {
      const ssize_t n = ::write(fd, pending.data() + sent, pending.size() - sent);
      if (n > 0) {
        sent += std::size_t(n);
      } else if (n < 0 && errno == EAGAIN) {
        if (!Wait(fd, true, stop, TClock::time_point::max())) return false;
      } else if (!(n < 0 && errno == EINTR)) {
        error = std::string("das Gerät lässt sich nicht beschreiben: ") + std::strerror(n < 0 ? errno : EIO);
        return false;
      }
    }
    pending.clear();
    return true;
  };
  TReplayRecord record;
  bool first = true;
  std::int64_t firstMs = 0;
  TClock::time_point start;
  while (!stop.Raised() && reader.Next(record)) {
    if (first) {
      first = false;
      firstMs = record.TimeMs;
      start = TClock::now();
    }
    const std::int64_t at = record.TimeMs - firstMs;
    if (speed > 0) {
      const auto due = start + ReplayDelay(at, speed);
      // What is due now goes out together; then wait for this record's time.
      if (due > TClock::now()) {
        if (!flush()) return error;
        if (!Wait(fd, false, stop, due)) return "";
      }
    }
    pending += record.Bytes;
    progress.PositionMs.store(std::max<std::int64_t>(at, 0), std::memory_order_relaxed);
    progress.Records.fetch_add(1, std::memory_order_relaxed);
    if (record.Instrument > 0) progress.Instruments.fetch_or(1u << record.Instrument, std::memory_order_relaxed);
    if (pending.size() >= 16384 && !flush()) return error;
  }
  if (!flush()) return error;
  return reader.Error();
}
