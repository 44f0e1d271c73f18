#include "app/records/Recorder.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/records/MeasurementProtocol.h"
#include "app/records/RecordCsv.h"

std::int64_t TRecorder::NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

TRecorder::~TRecorder() {
  RequestStop();
  if (FThread.joinable()) FThread.join();
  if (FFd >= 0) ::close(FFd);
}

bool TRecorder::Start(const std::string &file, bool raw, const TFormatSettings &fs, std::string *error,
                      TWording wording) {
  FFile = file;
  FRaw = raw;
  FFormat = fs;
  // Not blocking on the open: a FIFO nobody reads would hold the start for good. Written to, it
  // blocks again, as the recorder's thread expects.
  FFd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
  if (FFd < 0) {
    const int err = errno;
    const std::string why = err != ENXIO                   ? std::strerror(err)
                            : wording == TWording::German ? "ein FIFO, aus dem niemand liest"
                                                          : "it is a FIFO that nobody reads";
    if (error)
      *error = wording == TWording::German ? "In " + file + " lässt sich nicht aufzeichnen: " + why + "."
                                           : "Cannot record into " + file + ": " + why + ".";
    return false;
  }
  if (const int flags = ::fcntl(FFd, F_GETFL); flags >= 0) ::fcntl(FFd, F_SETFL, flags & ~O_NONBLOCK);
  struct stat st{};
  if (::fstat(FFd, &st) == 0) {
    FFileDevice = st.st_dev;
    FFileInode = st.st_ino;
  }
  FBatch.reserve(BatchRecords);
  FThread = std::thread([this] { Run(); });
  return true;
}

void TRecorder::NoteUnit(int instrument, const std::string &unit, std::int64_t now) {
  FUnits[instrument] = unit;
  PushText(kUnit, instrument, 0.0f, unit);
  FBatch.back().TimeMs = now;
}

void TRecorder::PushText(std::uint8_t kind, int instrument, float value, std::string text) {
  const std::int64_t now = NowMs();
  FBatch.push_back({now, value, instrument, std::uint32_t(FBatchTexts.size()) << 8 | kind});
  FBatchTexts.push_back(std::move(text));
}

void TRecorder::AcceptedRaw(int instrument, float value, const std::string &unit, const std::string &record) {
  if (FStopping) return;
  if (unit != FUnits[instrument]) NoteUnit(instrument, unit, NowMs());
  PushText(kAcceptedRaw, instrument, value, record);
  if (FBatch.size() >= BatchRecords || FBatch.back().TimeMs - FBatch.front().TimeMs >= BatchAgeMs) Publish();
}

void TRecorder::Dropped(const std::string &record) {
  if (FStopping || !FRaw) return;
  PushText(kDropped, 0, 0.0f, record);
  if (FBatch.size() >= BatchRecords || FBatch.back().TimeMs - FBatch.front().TimeMs >= BatchAgeMs) Publish();
}

void TRecorder::Publish() {
  if (FBatch.empty() || !FThread.joinable()) return;
  std::size_t records = 0;
  for (const TItem &item : FBatch) records += (item.Text & 0xFF) != kUnit;
  bool wake = false;
  {
    std::lock_guard lock(FMutex);
    if (!FFailed.load(std::memory_order_relaxed)) {
      // A unit change is kept even when the queue is full: the lines after it would carry the wrong unit.
      if (FQueueRecords + records > QueueLimit) {
        FLost.fetch_add(records, std::memory_order_relaxed);
        TBatch units;
        for (const TItem &item : FBatch) {
          if ((item.Text & 0xFF) != kUnit) continue;
          units.Items.push_back(item);
          units.Items.back().Text = std::uint32_t(units.Texts.size()) << 8 | kUnit;
          units.Texts.push_back(FBatchTexts[item.Text >> 8]);
        }
        if (!units.Items.empty()) FQueue.push_back(std::move(units));
      } else {
        FQueue.push_back({std::move(FBatch), std::move(FBatchTexts)});
        FQueueRecords += records;
        FQueued += records;
        wake = FQueue.size() == 1;
      }
    }
  }
  if (wake) FWake.notify_one();
  FBatch.clear();
  FBatchTexts.clear();
  FBatch.reserve(BatchRecords);
}

void TRecorder::RequestStop() {
  if (FStopping) return;
  Publish();
  FStopping = true;
  {
    std::lock_guard lock(FMutex);
    FStop = true;
  }
  FWake.notify_one();
  if (!FThread.joinable()) FFinished.store(true, std::memory_order_release);
}

std::string TRecorder::Error() const {
  std::lock_guard lock(FMutex);
  return FError;
}

void TRecorder::FailWrite(int error) {
  // A full disk says all there is to say; other errors keep the system's reason.
  if (error == ENOSPC)
    Fail("der Datenträger ist voll", 0);
  else
    Fail("die Datei lässt sich nicht schreiben", error);
}

void TRecorder::Fail(const std::string &what, int error) {
  std::lock_guard lock(FMutex);
  FError = "Die Aufzeichnung in " + FFile + " wurde beendet: " + what +
           (error ? std::string(" (") + std::strerror(error) + ")" : "") + ". Die Zeilen bis dahin bleiben erhalten.";
  FQueue.clear();
  FQueueRecords = 0;
  FFailed.store(true, std::memory_order_release);
}

int TRecorder::WriteOut(std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(FFd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += std::size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      const int e = n < 0 ? errno : EIO;
      // A line cut in half would read as a wrong value: the file ends with the last whole line.
      if (done > 0 && ::ftruncate(FFd, off_t(FFileSize)) != 0) { /* the file keeps the cut line */ }
      text.clear();
      return e;
    }
  }
  FFileSize += text.size();
  text.clear();
  return 0;
}

// Writing into a file whose folder was removed succeeds but reaches nobody: the path must still
// name the file the recording opened.
int TRecorder::CheckStillThere() const {
  struct stat st{};
  if (::stat(FFile.c_str(), &st) != 0) return errno;
  return st.st_dev == FFileDevice && st.st_ino == FFileInode ? 0 : ENOENT;
}

void TRecorder::Run() {
  // The writer's own view of the units, as the unit changes come through the queue.
  std::string units[11];
  TLocalTimeCache cache;
  std::string out = FRaw ? RawRecordingHeader : RecordingHeader;
  out += "\r\n";
  std::vector<TBatch> work;
  std::int64_t lastSync = NowMs();
  bool unsynced = false;
  for (;;) {
    bool stop;
    {
      std::unique_lock lock(FMutex);
      FWake.wait_for(lock, std::chrono::milliseconds(SyncIntervalMs / 2), [this] { return FStop || !FQueue.empty(); });
      work.swap(FQueue);
      FQueueRecords = 0;
      stop = FStop;
    }
    std::uint64_t lines = 0;
    for (const TBatch &batch : work) {
      for (const TItem &item : batch.Items) {
        const std::uint8_t kind = item.Text & 0xFF;
        const std::string *text = kind == kAccepted ? nullptr : &batch.Texts[item.Text >> 8];
        if (kind == kUnit) {
          units[item.Instrument] = *text;
          continue;
        }
        AppendIsoLocalTime(out, item.TimeMs, cache);
        out += ',';
        if (kind != kDropped) {
          out += item.Instrument == 10 ? "10" : std::string(1, char('0' + item.Instrument));
          out += ',';
          AppendShortestFloat(out, item.Value);
          out += ',';
          AppendCsvField(out, units[item.Instrument]);
        } else {
          out += ",,";
        }
        if (FRaw) {
          out += ',';
          if (text) AppendCsvField(out, RawToCsvText(*text)); // a record taken without its text
          out += ',';
          if (kind == kDropped) {
            const std::string why = WhyDropped(*text, FFormat);
            AppendCsvField(out, why.empty() ? "the meter is missing" : RawToCsvText(why));
          }
        }
        out += "\r\n";
        ++lines;
      }
    }
    work.clear();
    if (!out.empty()) {
      if (const int e = WriteOut(out); e != 0) {
        FailWrite(e);
        break;
      }
      FWritten.fetch_add(lines, std::memory_order_release);
      unsynced = true;
    }
    const std::int64_t now = NowMs();
    if (stop || now - lastSync >= SyncIntervalMs) {
      lastSync = now;
      if (const int e = CheckStillThere(); e != 0) {
        Fail("die Datei oder ihr Ordner wurde entfernt", 0);
        break;
      }
      // Devices and pipes cannot be synced, which is no failure.
      if (unsynced && ::fdatasync(FFd) != 0 && errno != EINVAL && errno != EROFS) {
        const int e = errno;
        FailWrite(e);
        break;
      }
      unsynced = false;
    }
    if (stop) break;
  }
  ::close(FFd);
  FFd = -1;
  FFinished.store(true, std::memory_order_release);
}
