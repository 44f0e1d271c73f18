#include "serial/EscapeCodes.h"

#include <charconv>

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The first character of the first parameter (entries are never empty), or Absent when there is
// no parameter; an int, since a parameter may start with byte 0.
constexpr int Absent = -1;
int FirstParamChar(const TEscapeParams &params) {
  return params.empty() ? Absent : static_cast<unsigned char>(params.front().front());
}

std::string EscText(const char *text) { return std::string(1, TEscapeCodes::Esc) + text; }

// A VT52 coordinate character: the value plus 31, wrapped to 8 bits (the arithmetic is done wide
// so that a parameter near the integer limit cannot overflow).
char Vt52Coordinate(std::int32_t value) {
  return static_cast<char>(static_cast<unsigned char>((static_cast<std::int64_t>(value) + 31) & 0xFF));
}

} // namespace

TEscapeCodes::TEscapeCodes() {
  // Capacity for the longest sequence up front: collecting never reallocates, and the buffer
  // never outgrows the limit.
  FSequenceText.reserve(MaxSequenceLength);
}

std::int32_t TEscapeCodes::ParamValue(int N, const TEscapeParams *Params) {
  if (!Params || N < 1 || static_cast<std::size_t>(N) > Params->size()) return 1;
  const std::string &entry = (*Params)[static_cast<std::size_t>(N) - 1];
  const char *first = entry.data();
  const char *last = first + entry.size();
  // from_chars takes "-" but not "+"; a "+" is allowed once, in front of the digits.
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return 1;
  }
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(first, last, value, 10);
  if (ec != std::errc() || end != last) return 1;
  return value;
}

TFeedResult TEscapeCodes::Found(TEscapeCode Code) {
  FFoundCode = Code;
  FInSequence = false;
  return frCode;
}

// ---- VT52 ----

TFeedResult TEscapeCodesVT52::FeedChar(char Ch) {
  if (!FInSequence) return FeedOutside(Ch);
  FSequenceText.push_back(Ch);
  const TEscapeCode code = Classify();
  if (code == ecNotCompleted) return frNothing;
  return Found(code);
}

TEscapeCode TEscapeCodesVT52::Classify() {
  const std::string &text = FSequenceText;
  // Every finished sequence reports its own parameters; only cursor moves carry any.
  switch (text[0]) {
  case 'Y':
    if (text.size() < 3) return ecNotCompleted;
    FParameters.clear();
    FParameters.push_back(std::to_string(static_cast<unsigned char>(text[1]) - 31));
    FParameters.push_back(std::to_string(static_cast<unsigned char>(text[2]) - 31));
    return ecCursorMove;
  case '/':
    if (text.size() < 2) return ecNotCompleted;
    FParameters.clear();
    return text[1] == 'Z' ? ecIdentResponse : ecUnknown;
  default:
    break;
  }
  FParameters.clear();
  switch (text[0]) {
  case 'A': return ecCursorUp;
  case 'B': return ecCursorDown;
  case 'C': return ecCursorRight;
  case 'D': return ecCursorLeft;
  case 'H': return ecCursorHome;
  case 'I': return ecReverseLineFeed;
  case 'J': return ecEraseScreenFrom;
  case 'K': return ecEraseLineFrom;
  case 'Z': return ecIdentify;
  default: return ecUnknown;
  }
}

std::string TEscapeCodesVT52::CodeToSequence(TEscapeCode Code, const TEscapeParams *Params) const {
  switch (Code) {
  case ecCursorUp: return EscText("A");
  case ecCursorDown: return EscText("B");
  case ecCursorLeft: return EscText("D");
  case ecCursorRight: return EscText("C");
  case ecCursorHome: return EscText("H");
  case ecCursorMove: {
    std::string s = EscText("Y");
    s.push_back(Vt52Coordinate(ParamValue(1, Params)));
    s.push_back(Vt52Coordinate(ParamValue(2, Params)));
    return s;
  }
  case ecReverseLineFeed: return EscText("I");
  case ecEraseLineFrom: return EscText("K");
  case ecEraseScreenFrom: return EscText("J");
  case ecIdentify: return EscText("Z");
  case ecIdentResponse: return EscText("/Z");
  default: return std::string();
  }
}

// ---- VT100 ----

TFeedResult TEscapeCodesVT100::FeedChar(char Ch) {
  if (!FInSequence) return FeedOutside(Ch);
  FSequenceText.push_back(Ch);
  TEscapeCode code;
  if (FInBracket) {
    if (FSequenceText.size() >= MaxSequenceLength) {
      // Overlong: ended whatever the character, so the buffer stays bounded.
      FParameters.clear();
      code = ecUnknown;
    } else if (!IsAsciiLetter(Ch)) {
      return frNothing;
    } else {
      code = ClassifyBracket();
    }
  } else if (FSequenceText.front() == '[') {
    FInBracket = true;
    return frNothing;
  } else {
    code = ClassifyShort();
    if (code == ecNotCompleted) return frNothing;
    FParameters.clear();
  }
  FInBracket = false;
  return Found(code);
}

TEscapeCode TEscapeCodesVT100::ClassifyShort() const {
  const std::string &text = FSequenceText;
  if (text.size() == 1) {
    switch (text[0]) {
    case '#':
    case 'O': return ecNotCompleted;
    case '7': return ecSaveCaretAndAttr;
    case '8': return ecRestoreCaretAndAttr;
    case 'H': return ecSetTab;
    case 'c': return ecReset;
    default: return ecUnknown;
    }
  }
  // Only "#" and "O" wait for a second character.
  if (text[0] == '#') return text[1] == '8' ? ecTest : ecUnknown;
  switch (text[1]) {
  case 'A': return ecAppCursorUp;
  case 'B': return ecAppCursorDown;
  case 'C': return ecAppCursorRight;
  case 'D': return ecAppCursorLeft;
  default: return ecUnknown;
  }
}

TEscapeCode TEscapeCodesVT100::ClassifyBracket() {
  const std::string &text = FSequenceText;
  // Split what lies between "[" and the final letter. A ";" closes a non-empty entry; on an empty
  // entry it is kept as part of the entry, so ";5" stays one parameter.
  FParameters.clear();
  std::string entry;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c == ';' && !entry.empty()) {
      FParameters.push_back(std::move(entry));
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  if (!entry.empty()) FParameters.push_back(std::move(entry));

  // Codes chosen by the first character of the first parameter carry no parameters on.
  auto byFirst = [this](char none, TEscapeCode onNone, char other, TEscapeCode onOther) {
    const int first = FirstParamChar(FParameters);
    FParameters.clear();
    if (first == Absent || first == none) return onNone;
    return first == other ? onOther : ecUnknown;
  };

  switch (text.back()) {
  case 'A': return ecCursorUp;
  case 'B': return ecCursorDown;
  case 'C': return ecCursorRight;
  case 'D': return ecCursorLeft;
  case 'H': return ecCursorHome;
  case 'f': return ecCursorMove;
  case 'J': return byFirst('0', ecEraseScreenFrom, '2', ecEraseScreen);
  case 'K': return byFirst('0', ecEraseLineFrom, '2', ecEraseLine);
  case 'g': return byFirst('0', ecClearTab, '3', ecClearAllTabs);
  case 'n': {
    const int first = FirstParamChar(FParameters);
    FParameters.clear();
    switch (first) {
    case '0': return ecReportDeviceOK;
    case '3': return ecReportDeviceFailure;
    case '5': return ecQueryDevice;
    case '6': return ecQueryCursorPos;
    default: return ecUnknown;
    }
  }
  case 'c':
    if (FParameters.empty() || (FParameters.size() == 1 && FParameters[0] == "0")) return ecIdentify;
    if (FParameters.size() == 2 && FParameters[0] == "?1") return ecIdentResponse;
    return ecUnknown;
  case 'R': return ecReportCursorPos;
  case 'm': return ecAttributes;
  case 'h': return ecSetMode;
  case 'l': return ecResetMode;
  case 's': return ecSaveCaret;
  case 'u': return ecRestoreCaret;
  default: return ecUnknown;
  }
}

std::string TEscapeCodesVT100::CodeToSequence(TEscapeCode Code, const TEscapeParams *Params) const {
  const auto value = [Params](int n) { return std::to_string(ParamValue(n, Params)); };
  switch (Code) {
  case ecCursorUp: return EscText("[A");
  case ecCursorDown: return EscText("[B");
  case ecCursorLeft: return EscText("[D");
  case ecCursorRight: return EscText("[C");
  case ecCursorHome: return EscText("[H");
  case ecCursorMove: return EscText("[") + value(1) + ";" + value(2) + "f";
  case ecAppCursorLeft: return EscText("OD");
  case ecAppCursorRight: return EscText("OC");
  case ecAppCursorUp: return EscText("OA");
  case ecAppCursorDown: return EscText("OB");
  case ecEraseLineFrom: return EscText("[K");
  case ecEraseScreenFrom: return EscText("[J");
  case ecEraseLine: return EscText("[2K");
  case ecEraseScreen: return EscText("[2J");
  case ecSetTab: return EscText("H");
  case ecClearTab: return EscText("[g");
  case ecClearAllTabs: return EscText("[3g");
  case ecIdentify: return EscText("[c");
  case ecIdentResponse: return EscText("[?1;") + value(1) + "c";
  case ecQueryDevice: return EscText("[5n");
  case ecReportDeviceOK: return EscText("[0n");
  case ecReportDeviceFailure: return EscText("[3n");
  case ecQueryCursorPos: return EscText("[6n");
  case ecReportCursorPos: return EscText("[") + value(1) + ";" + value(2) + "R";
  case ecAttributes: return EscText("[m");
  case ecSetMode: return EscText("[h");
  case ecResetMode: return EscText("[l");
  case ecReset: return EscText("c");
  case ecSaveCaretAndAttr: return EscText("7");
  case ecRestoreCaretAndAttr: return EscText("8");
  case ecSaveCaret: return EscText("[s");
  case ecRestoreCaret: return EscText("[u");
  case ecTest: return EscText("#8");
  default: return std::string();
  }
}
