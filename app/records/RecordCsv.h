#pragma once
// The text of a recording: CSV after RFC 4180 (fields quoted when needed, CR LF line ends), UTF-8,
// one line per record. The value is the shortest text that reads back to the same 32-bit float,
// always with "." so that the file reads the same whatever the locale; the time is ISO 8601 local
// time with milliseconds and the UTC offset, so times compare across time zones and clock changes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The header line's fields; a raw recording adds the record as it arrived and why it was dropped.
inline constexpr const char *RecordingHeader = "Zeit,Instrument,Wert,Einheit";
inline constexpr const char *RawRecordingHeader = "Zeit,Instrument,Wert,Einheit,Datensatz,Grund";

// Shortest text that, converted to double and narrowed to float (as the record check does), gives
// `value` again. Finite values only.
void AppendShortestFloat(std::string &out, float value);

// One field, in quotes (inner quotes doubled) when it holds a comma, semicolon, quote, CR or LF.
void AppendCsvField(std::string &out, std::string_view field);

// Serial bytes as UTF-8 text a spreadsheet shows: bytes above 127 as their Windows-1252 characters,
// control bytes as the Unicode control pictures (U+2400 …), which RawFromCsvText turns back.
std::string RawToCsvText(std::string_view bytes);
std::string RawFromCsvText(std::string_view text);

// "2024-05-01T14:03:07.123+02:00": `unixMs` milliseconds since 1970 in the local time zone.
// `cache` keeps the last second's text, as local time conversion is dear and records come many a second.
struct TLocalTimeCache {
  std::int64_t Second = INT64_MIN;
  std::string DateTime; // "2024-05-01T14:03:07"
  std::string Offset;   // "+02:00"
};
void AppendIsoLocalTime(std::string &out, std::int64_t unixMs, TLocalTimeCache &cache);

// Milliseconds since 1970 of a time as AppendIsoLocalTime writes it ("T" or a blank between date
// and time, milliseconds optional, offset "Z" or ±hh:mm or ±hhmm). False for anything else.
bool ParseIsoTime(std::string_view text, std::int64_t &unixMs);

// Splits one line into fields by `separator`, undoing the quoting. False when a quote is not
// closed (the line continues on the next one; `fields` then holds nothing useful).
bool SplitCsvLine(std::string_view line, char separator, std::vector<std::string> &fields);

// Splits a record into fields as its text arrives piece by piece: a quoted field may run over
// several lines, and each byte is looked at once however many lines that is (splitting the whole
// text again after each further line took quadratic time).
class TCsvSplitter {
public:
  // Starts a new record, cut at `separator`.
  void Start(char separator);
  // Adds the record's next piece; true when no quote is left open at its end.
  bool Add(std::string_view text);
  std::vector<std::string> &Fields() { return FFields; }
  // Bytes added since Start.
  std::size_t Size() const { return FSize; }

private:
  std::vector<std::string> FFields;
  char FSeparator = ',';
  bool FQuoted = false;
  std::size_t FSize = 0;
};
