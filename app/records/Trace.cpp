#include "app/records/Trace.h"

#include <cerrno>
#include <charconv>
#include <csignal>

#include <unistd.h>

#include "app/records/DropLog.h"
#include "instruments/AnVMeter.h"

TTraceWriter::TTraceWriter(int Fd) : FFd(Fd) {
  // A reader that closes the pipe (telmora --trace | head) must not kill the program: the write
  // then fails with EPIPE and tracing ends.
  std::signal(SIGPIPE, SIG_IGN);
  FBuffer.reserve(FlushSize + 256);
  FTimer.setInterval(PauseSpan);
  FTimer.callOnTimeout([this] { Check(); });
}

TTraceWriter::~TTraceWriter() { Flush(); }

void TTraceWriter::Measurement(const std::string &Record, const TAnVMeter *Meter, const std::string &Reason) {
  if (!FStopped) Line(TraceLine(Record, Meter, Reason));
}

void TTraceWriter::Line(const std::string &Text) {
  if (FStopped) return;
  if (FBuffer.empty()) {
    FOldest = std::chrono::steady_clock::now();
    FFreshLines = false; // the first line alone: a silent period after it flushes it
    FTimer.start();
  } else {
    FFreshLines = true;
  }
  FBuffer += Text;
  FBuffer += '\n';
  if (FBuffer.size() >= FlushSize) Flush();
}

// Every PauseSpan while lines wait: out when none came since the last look, or when the oldest
// would otherwise wait longer than MaxDelay.
void TTraceWriter::Check() {
  const bool paused = !FFreshLines;
  FFreshLines = false;
  if (paused || std::chrono::steady_clock::now() - FOldest + PauseSpan > MaxDelay) Flush();
}

void TTraceWriter::Flush() {
  FTimer.stop();
  std::size_t done = 0;
  while (!FStopped && done < FBuffer.size()) {
    const ssize_t n = ::write(FFd, FBuffer.data() + done, FBuffer.size() - done);
    ++FWrites;
    if (n > 0) {
      done += std::size_t(n);
    } else if (n < 0 && errno != EINTR) {
      // EPIPE: nobody reads any more; any other failure would repeat with every flush.
      FStopped = true;
    }
  }
  FBuffer.clear();
  FFreshLines = false;
}

std::string TraceLine(const std::string &Record, const TAnVMeter *Meter, const std::string &Reason) {
  std::string line = Record;
  line += " -> ";
  if (Meter) {
    line += Meter->objectName().toStdString();
    line += " = ";
    // Six significant digits in the shortest form, with "." whatever the locale, as a C++
    // stream prints a float.
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, Meter->Value(), std::chars_format::general, 6);
    line.append(digits, end.ptr);
  } else {
    line += "dropped: ";
    line += Reason.empty() ? DropReason(Record) : Reason;
  }
  return line;
}

std::string DiscardLine(TDiscardReason Reason, std::uint64_t Bytes, std::int32_t BufferLimit, TWording Wording) {
  const bool de = Wording == TWording::German;
  const std::string limit = std::to_string(BufferLimit);
  const std::string buffer = de ? "Puffer von " + limit + " Byte" : "the " + limit + "-byte buffer";
  const std::string line =
      std::to_string(Bytes) + (de ? " Byte verworfen: " : Bytes == 1 ? " byte discarded: " : " bytes discarded: ");
  switch (Reason) {
  case drOutsideRecord: return line + (de ? "Text außerhalb von Datensätzen" : "text outside records");
  case drRecordTooLong: return line + (de ? "Datensatz länger als der " : "record longer than ") + buffer;
  case drBufferFull: return line + (de ? "Pufferüberlauf, kein Datensatzanfang im " : "buffer overflow, no record start in ") + buffer;
  case drLineChanged:
    return line + (de ? "beim Öffnen oder Schließen der Schnittstelle im Puffer übrig"
                      : "left in the buffer when the port opened or closed");
  case drSettingChanged:
    return line + (de ? "beim Ändern der Rahmung im Puffer übrig" : "left in the buffer when the framing changed");
  }
  return line + (de ? "unbekannter Grund" : "unknown reason");
}

void TraceDiscards(TTraceWriter &trace, TComDataPacket &framer) {
  framer.OnDiscard = [&trace, &framer](TObject *, const std::string &Str) {
    trace.Line(DiscardLine(framer.DiscardReason(), Str.size(), framer.BufferLimit()));
  };
}
