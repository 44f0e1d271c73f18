#pragma once
// Escape-sequence parsers of the terminal: fed one received character at a time, they give the
// character back for display, swallow it as part of a sequence, or report a finished sequence as
// one abstract code with its parameters. In the other direction they turn a code into the text
// to send. They know nothing of the grid; the terminal acts on what they report.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Events.h"

enum TEscapeCode {
  ecUnknown,
  ecNotCompleted,
  ecCursorUp,
  ecCursorDown,
  ecCursorLeft,
  ecCursorRight,
  ecCursorHome,
  ecCursorMove,
  ecReverseLineFeed,
  ecAppCursorLeft,
  ecAppCursorRight,
  ecAppCursorUp,
  ecAppCursorDown,
  ecEraseLineFrom,
  ecEraseScreenFrom,
  ecEraseLine,
  ecEraseScreen,
  ecSetTab,
  ecClearTab,
  ecClearAllTabs,
  ecIdentify,
  ecIdentResponse,
  ecQueryDevice,
  ecReportDeviceOK,
  ecReportDeviceFailure,
  ecQueryCursorPos,
  ecReportCursorPos,
  ecAttributes,
  ecSetMode,
  ecResetMode,
  ecReset,
  ecSaveCaretAndAttr,
  ecRestoreCaretAndAttr,
  ecSaveCaret,
  ecRestoreCaret,
  ecTest,
};
inline constexpr int EscapeCodeCount = ecTest + 1;

enum TFeedResult { frCharacter, frCode, frNothing };

// The parameter list of a code, in order ("5", "10"). Passed by pointer where "none" is allowed.
using TEscapeParams = std::vector<std::string>;

class TEscapeCodes : public TObject {
public:
  static constexpr char Esc = '\x1b';
  // A sequence that reaches this many characters after the escape character is ended as
  // ecUnknown, so a stream without a final character cannot grow the parser without limit.
  static constexpr std::size_t MaxSequenceLength = 4096;

  TEscapeCodes();
  const char *ClassName() const override { return "TEscapeCodes"; }

  // Feeds the next received character.
  virtual TFeedResult FeedChar(char Ch) = 0;
  // The text to send for a code; empty for a code this family cannot express.
  virtual std::string CodeToSequence(TEscapeCode Code, const TEscapeParams *Params = nullptr) const = 0;

  // The N-th (1-based) entry read as a decimal 32-bit integer; 1 when Params is none, has fewer
  // than N entries, or the entry is not such an integer.
  static std::int32_t ParamValue(int N, const TEscapeParams *Params);

  // Between sequences: the next character other than the escape character is passed on as it is.
  bool InSequence() const { return FInSequence; }
  // The character to display after frCharacter.
  char PlainChar() const { return FPlainChar; }
  // The code after frCode.
  TEscapeCode FoundCode() const { return FFoundCode; }
  // The characters after the escape character of the current or last sequence.
  const std::string &SequenceText() const { return FSequenceText; }
  // The parameters of the last code; the terminal clears the list once it has acted on a code.
  TEscapeParams &Parameters() { return FParameters; }
  const TEscapeParams &Parameters() const { return FParameters; }

protected:
  // Outside a sequence: the escape character starts one, every other character is passed on.
  // Inline because it runs for every displayed character.
  TFeedResult FeedOutside(char Ch) {
    if (Ch != Esc) {
      FPlainChar = Ch;
      return frCharacter;
    }
    FSequenceText.clear();
    FInSequence = true;
    return frNothing;
  }
  // Ends the current sequence with Code.
  TFeedResult Found(TEscapeCode Code);

  char FPlainChar = 0;
  TEscapeCode FFoundCode = ecUnknown;
  std::string FSequenceText;
  TEscapeParams FParameters;
  bool FInSequence = false;
};

class TEscapeCodesVT52 : public TEscapeCodes {
public:
  const char *ClassName() const override { return "TEscapeCodesVT52"; }
  TFeedResult FeedChar(char Ch) override;
  std::string CodeToSequence(TEscapeCode Code, const TEscapeParams *Params = nullptr) const override;

private:
  TEscapeCode Classify();
};

class TEscapeCodesVT100 : public TEscapeCodes {
public:
  const char *ClassName() const override { return "TEscapeCodesVT100"; }
  TFeedResult FeedChar(char Ch) override;
  std::string CodeToSequence(TEscapeCode Code, const TEscapeParams *Params = nullptr) const override;

private:
  TEscapeCode ClassifyShort() const;
  TEscapeCode ClassifyBracket();

  bool FInBracket = false;
};
