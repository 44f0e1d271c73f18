#include "serial/ComDataPacket.h"

#include "tty/FakeSerialDevice.h"
#include "serial/ComPort.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

// One thing the framer reported: a packet ('P') or discarded text ('D').
struct Ev {
  char Kind;
  std::string Text;
  bool operator==(const Ev &) const = default;
};

Ev P(std::string s) { return {'P', std::move(s)}; }
Ev D(std::string s) { return {'D', std::move(s)}; }

void PrintTo(const Ev &e, std::ostream *os) {
  *os << e.Kind << "(\"";
  for (unsigned char c : e.Text) {
    if (c >= 32 && c < 127) *os << static_cast<char>(c);
    else *os << "\\x" << std::hex << static_cast<int>(c) << std::dec;
  }
  *os << "\")";
}

void Feed(TComDataPacket &p, std::string_view s) {
  p.Link()->OnRxBuf(nullptr, s.data(), static_cast<std::int32_t>(s.size()));
}

struct Settings {
  std::string Start;
  std::string Stop;
  bool Include = false;
  bool CaseInsensitive = false;
  std::int32_t Size = 0;
  std::int32_t MaxBufferSize = 1024;
};

const Settings MainWindow{"#", "<", true};

// A framer with recording handlers.
struct Framer {
  TComDataPacket P;
  std::vector<Ev> Events;

  explicit Framer(const Settings &s = MainWindow) {
    P.SetStartString(s.Start);
    P.SetStopString(s.Stop);
    P.SetIncludeStrings(s.Include);
    P.SetCaseInsensitive(s.CaseInsensitive);
    P.SetSize(s.Size);
    P.SetMaxBufferSize(s.MaxBufferSize);
    P.OnPacket = [this](TObject *sender, const std::string &str) {
      EXPECT_EQ(sender, &P);
      Events.push_back(::P(str));
    };
    P.OnDiscard = [this](TObject *sender, const std::string &str) {
      EXPECT_EQ(sender, &P);
      Events.push_back(::D(str));
    };
  }
  void Rx(std::string_view s) { Feed(P, s); }
  std::string Held() const { return std::string(P.Buffer()); }
};

// ---------------------------------------------------------------------------------------------

struct FramingCase {
  const char *Name;
  Settings S;
  std::vector<std::string> Receptions;
  std::vector<Ev> Expected;
  std::string Held;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(ComDataPacket, framesReceptionsAsTheSettingsSay) {
  const Settings noInclude{"#", "<"};
  const Settings ciAbZ{"ab", "z", true, true};
  const std::vector<FramingCase> cases = {
      {"twoRecordsInOneReception", MainWindow, {"#8M25.5<#2M1.34564<"}, {P("#8M25.5<"), P("#2M1.34564<")}, ""},
      {"recordsSplitAcrossReceptions", MainWindow, {"#8M2", "5.5<#2M1.3", "4564<"}, {P("#8M25.5<"), P("#2M1.34564<")}, ""},
      {"textBeforeStartDiscarded", MainWindow, {"xx#8M1<"}, {D("xx"), P("#8M1<")}, ""},
      {"repeatedStartDoesNotRestart", MainWindow, {"#1#2<"}, {P("#1#2<")}, ""},
      {"stopBeforeStartIsDiscarded", MainWindow, {"<#1<"}, {D("<"), P("#1<")}, ""},
      {"garbageBetweenRecords", MainWindow, {"#1M2<junk#3M4<"}, {P("#1M2<"), D("junk"), P("#3M4<")}, ""},
      {"textAfterStopHeldUntilNextStart", MainWindow, {"#1M2<ab", "c"}, {P("#1M2<")}, "abc"},
      {"heldTextDiscardedWhenStartArrives", MainWindow, {"#1M2<ab", "#3<"}, {P("#1M2<"), D("ab"), P("#3<")}, ""},
      {"textWithoutStartIsHeld", MainWindow, {"abc", "def"}, {}, "abcdef"},
      {"partialPacketIsHeld", MainWindow, {"x#1M2"}, {D("x")}, "#1M2"},
      {"byteZeroIsData", MainWindow, {std::string("#1\0M<", 5)}, {P(std::string("#1\0M<", 5))}, ""},
      {"delimitersRemoved", noInclude, {"#8M25.5<"}, {P("8M25.5")}, ""},
      {"emptyPacketWithoutDelimiters", noInclude, {"#<"}, {P("")}, ""},
      {"sizeCutNotShortenedWithoutStop", {"#", "<<", false, false, 2}, {"#a"}, {P("a")}, ""},
      {"stopOccurringEarlierIsKept", {"#", "<", false, false, 4}, {"#a<<"}, {P("a<<")}, ""},
      {"onlyEndingStopIsRemoved", {"#", "<<"}, {"#a<<<"}, {P("a")}, "<"},
      {"caseInsensitiveMatchKeepsLetters", ciAbZ, {"xxAB12Z"}, {D("xx"), P("AB12Z")}, ""},
      {"caseSensitiveFindsNothing", {"ab", "z", true}, {"xxAB12Z"}, {}, "xxAB12Z"},
      {"caseInsensitiveRemovesDelimiters", {"ab", "z", false, true}, {"xxAB12Z"}, {D("xx"), P("12")}, ""},
      {"caseFoldIsAsciiOnly", {"\xe4", "z", true, true}, {"\xc4z\xe4z"}, {D("\xc4z"), P("\xe4z")}, ""},
      {"fixedSizeWithoutStrings", {"", "", false, false, 4}, {"abcdefghij"}, {P("abcd"), P("efgh")}, "ij"},
      {"sizeTestBeatsStopString", {"#", "<", true, false, 5}, {"#ab<cdefg"}, {P("#ab<c")}, "defg"},
      {"stopBeforeSizeIsReached", {"#", "<", true, false, 5}, {"#ab<"}, {P("#ab<")}, ""},
      {"noFramingPassesReceptionsThrough", {"#", "", false}, {"xx#1<", "ab"}, {P("xx#1<"), P("ab")}, ""},
      {"emptyStartFramesByStop", {"", "<", true}, {"abc<de<f"}, {P("abc<"), P("de<")}, "f"},
      {"stopInsideStartLengthIsSkipped", {"ab", "b", true}, {"ab1b"}, {P("ab1b")}, ""},
      {"startSplitAcrossReceptions", {"##", "<", true}, {"x#", "#1<"}, {D("x"), P("##1<")}, ""},
      {"stopSplitAcrossReceptions", {"#", "<<", true}, {"#1<", "<"}, {P("#1<<")}, ""},
      {"limitReachedExactly", {"#", "<", true, false, 0, 5}, {"abcd", "e"}, {D("abcde")}, ""},
      {"limitDiscardsPartialPacket", {"#", "<", true, false, 0, 5}, {"#1M2", "345"}, {D("#1M2345")}, ""},
      {"limitTestedAfterPackets", {"#", "<", true, false, 0, 5}, {"#1<#2345"}, {P("#1<"), D("#2345")}, ""},
      {"belowLimitIsHeld", {"#", "<", true, false, 0, 5}, {"#1M2"}, {}, "#1M2"},
      {"defaultLimitDiscardsAllAt1024", MainWindow, {Repeat('a', 1023), "b"}, {D(Repeat('a', 1023) + "b")}, ""},
      {"startedPacketDiscardedAtLimit", MainWindow, {"#1M2", Repeat('9', 1020)}, {D("#1M2" + Repeat('9', 1020))}, ""},
      {"zeroLimitHoldsMore", {"#", "<", true, false, 0, 0}, {Repeat('a', 5000)}, {}, Repeat('a', 5000)},
  };
  for (const FramingCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Framer f(c.S);
    for (const std::string &r : c.Receptions) f.Rx(r);
    EXPECT_EQ(f.Events, c.Expected);
    EXPECT_EQ(f.Held(), c.Held);
  }
}

// Every split of the stream into up to three receptions gives the same packets and discards as
// the stream in one piece.
TEST(ComDataPacket, everySplitFramesEachRecordExactlyOnce) {
  struct SplitCase {
    const char *Name;
    Settings S;
    std::string Stream;
    std::vector<Ev> Expected;
  };
  const std::vector<SplitCase> cases = {
      {"mainWindow", MainWindow, "#8M25.5<xx#2M1.34564<<#10M-3<",
       {P("#8M25.5<"), D("xx"), P("#2M1.34564<"), D("<"), P("#10M-3<")}},
      {"multiCharDelimitersCaseInsensitive", {"ab", "yz", true, true}, "qqAb1yZaB22YZa",
       {D("qq"), P("Ab1yZ"), P("aB22YZ")}},
      {"delimitersRemoved", {"<S>", "</S>"}, "<S>1</S>-<S>2<</S>", {P("1"), D("-"), P("2<")}},
  };
  for (const SplitCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::size_t n = c.Stream.size();
    for (std::size_t i = 0; i <= n; ++i) {
      for (std::size_t j = i; j <= n; ++j) {
        Framer f(c.S);
        for (const std::string &part : {c.Stream.substr(0, i), c.Stream.substr(i, j - i), c.Stream.substr(j)})
          if (!part.empty()) f.Rx(part);
        ASSERT_EQ(f.Events, c.Expected) << "split at " << i << " and " << j;
      }
    }
    Framer bytewise(c.S);
    for (char ch : c.Stream) bytewise.Rx(std::string_view(&ch, 1));
    EXPECT_EQ(bytewise.Events, c.Expected);
  }
}

TEST(ComDataPacket, largeBlockOfSmallPacketsIsCutInOrder) {
  Framer f;
  std::string block;
  const int records = 200000;
  for (int i = 0; i < records; ++i) block += "#" + std::to_string(i % 10) + "M" + std::to_string(i) + "<";
  f.Rx(block);
  ASSERT_EQ(f.Events.size(), static_cast<std::size_t>(records));
  for (int i : {0, 1, 12345, records - 1})
    EXPECT_EQ(f.Events[static_cast<std::size_t>(i)], P("#" + std::to_string(i % 10) + "M" + std::to_string(i) + "<"));
  EXPECT_EQ(f.Held(), "");
}

// Whatever arrives is accounted for exactly once, and the held text stays below the limit plus
// one reception.
TEST(ComDataPacket, floodWithoutStopStaysBounded) {
  struct FloodCase {
    const char *Name;
    std::string Prefix;
    std::int32_t MaxBufferSize;
    std::size_t Chunk;
    std::size_t Total;
    std::size_t Bound;
  };
  const std::size_t hard = TComDataPacket::HardBufferLimit;
  const std::vector<FloodCase> cases = {
      {"noStartDefaultLimit", "", 1024, 100, 1 << 20, 1024},
      {"openPacketDefaultLimit", "#1M2", 1024, 7, 1 << 20, 1024},
      {"zeroLimitUsesHardLimit", "#", 0, 1 << 16, hard + (3u << 16), hard},
      {"negativeLimitUsesHardLimit", "", -1, 1 << 16, hard + (1u << 16), hard},
      {"hugeLimitCappedByHardLimit", "", 0x7fffffff, 1 << 16, hard + (1u << 16), hard},
  };
  for (const FloodCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Framer f({"#", "<", true, false, 0, c.MaxBufferSize});
    std::size_t discarded = 0;
    std::size_t discards = 0;
    f.P.OnDiscard = [&](TObject *, const std::string &s) {
      discarded += s.size();
      ++discards;
    };
    f.Rx(c.Prefix);
    const std::string chunk(c.Chunk, 'x');
    std::size_t sent = c.Prefix.size();
    while (sent < c.Total) {
      f.Rx(chunk);
      sent += chunk.size();
      ASSERT_LT(f.P.Buffer().size(), c.Bound);
    }
    EXPECT_GE(discards, 1u);
    EXPECT_EQ(discarded + f.P.Buffer().size(), sent);
    EXPECT_TRUE(f.Events.empty());
  }
}

TEST(ComDataPacket, everyDiscardIsCountedUnderItsReason) {
  const struct {
    std::int32_t MaxBufferSize;
    std::string First, Second;
    TDiscardReason Reason;
    std::vector<std::size_t> Sizes; // of each discard event, all under Reason
  } cases[] = {{1024, "noise", "#1M1<xy#2M2<", drOutsideRecord, {5, 2}},
               {16, "#1M123456", "7890123456789", drRecordTooLong, {22}},
               {8, "abcd", "efghij", drBufferFull, {10}}};
  for (const auto &c : cases) {
    Framer f({"#", "<", true, false, 0, c.MaxBufferSize});
    std::vector<std::size_t> sizes;
    f.P.OnDiscard = [&](TObject *, const std::string &s) {
      sizes.push_back(f.P.DiscardReason() == c.Reason ? s.size() : 0); // 0: under another reason
    };
    f.Rx(c.First);
    f.Rx(c.Second);
    EXPECT_EQ(sizes, c.Sizes) << c.First;
    const std::uint64_t total = c.Sizes.size() == 2 ? c.Sizes[0] + c.Sizes[1] : c.Sizes[0];
    EXPECT_EQ(f.P.ReceivedBytes(), c.First.size() + c.Second.size());
    EXPECT_EQ(f.P.DiscardedBytes(c.Reason), total);
    EXPECT_EQ(f.P.DiscardedBytes(), total) << "counted under another reason";
  }
}

// ---------------------------------------------------------------------------------------------
// Settings

TEST(ComDataPacket, changingAFramingSettingEmptiesTheBuffer) {
  struct SetterCase {
    const char *Name;
    void (*Apply)(TComDataPacket &);
    bool Empties;
  };
  const std::vector<SetterCase> cases = {
      {"sameStart", [](TComDataPacket &p) { p.SetStartString("#"); }, false},
      {"otherStart", [](TComDataPacket &p) { p.SetStartString("$"); }, true},
      {"sameStop", [](TComDataPacket &p) { p.SetStopString("<"); }, false},
      {"otherStop", [](TComDataPacket &p) { p.SetStopString(">"); }, true},
      {"sameSize", [](TComDataPacket &p) { p.SetSize(0); }, false},
      {"otherSize", [](TComDataPacket &p) { p.SetSize(10); }, true},
      {"sameCase", [](TComDataPacket &p) { p.SetCaseInsensitive(false); }, false},
      {"otherCase", [](TComDataPacket &p) { p.SetCaseInsensitive(true); }, true},
      {"includeStrings", [](TComDataPacket &p) { p.SetIncludeStrings(false); }, false},
      {"maxBufferSizeBelowHeld", [](TComDataPacket &p) { p.SetMaxBufferSize(2); }, false},
      {"reset", [](TComDataPacket &p) { p.ResetBuffer(); }, true},
  };
  for (const SetterCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Framer f;
    f.Rx("#12");
    ASSERT_TRUE(f.P.InPacket());
    c.Apply(f.P);
    EXPECT_EQ(f.P.DiscardedBytes(drSettingChanged), c.Empties ? 3u : 0u);
    if (c.Empties) {
      EXPECT_EQ(f.Events, std::vector<Ev>{D("#12")});
      EXPECT_EQ(f.Held(), "");
      EXPECT_FALSE(f.P.InPacket());
    } else {
      EXPECT_TRUE(f.Events.empty());
      EXPECT_EQ(f.Held(), "#12");
      EXPECT_TRUE(f.P.InPacket());
    }
  }
}

TEST(ComDataPacket, settingsChangedWhileLoadingKeepTheBuffer) {
  Framer f({"", "<", true});
  f.Rx("ab");
  f.P.BeginLoading();
  f.P.SetStartString("#");
  f.P.SetStopString(">");
  f.P.SetSize(9);
  f.P.SetCaseInsensitive(true);
  EXPECT_TRUE(f.Events.empty());
  EXPECT_EQ(f.P.StartString(), "#");
  EXPECT_EQ(f.P.StopString(), ">");
  EXPECT_EQ(f.P.Size(), 9);
  EXPECT_TRUE(f.P.CaseInsensitive());
  f.P.Loaded();
  EXPECT_FALSE(f.P.Loading());
  // The held text is framed by the new settings.
  f.Rx("c>");
  EXPECT_EQ(f.Events, std::vector<Ev>{P("abc>")});
  f.Rx("#1");
  f.P.SetStopString("<");
  EXPECT_EQ(f.Events, (std::vector<Ev>{P("abc>"), D("#1")}));
}

TEST(ComDataPacket, defaultsAndResetOfEmptyBuffer) {
  TComDataPacket p;
  EXPECT_EQ(p.MaxBufferSize(), 1024);
  EXPECT_EQ(p.Size(), 0);
  EXPECT_FALSE(p.IncludeStrings());
  EXPECT_FALSE(p.CaseInsensitive());
  EXPECT_EQ(p.StartString(), "");
  EXPECT_EQ(p.StopString(), "");
  EXPECT_EQ(p.ComPort(), nullptr);
  EXPECT_TRUE(p.Link()->OnRxBuf);
  // The framer listens for the port opening and closing, to start empty then.
  EXPECT_TRUE(p.Link()->OnConnChange);

  // An empty start string marks the empty buffer as a packet's start; emptying an empty buffer
  // raises nothing and leaves that mark.
  Framer f({"", "<", true});
  f.Rx("a<");
  EXPECT_TRUE(f.P.InPacket());
  f.P.ResetBuffer();
  f.P.SetStartString("#");
  EXPECT_EQ(f.Events, std::vector<Ev>{P("a<")});
  EXPECT_TRUE(f.P.InPacket());
  f.Rx("x#1<");
  EXPECT_EQ(f.Events, (std::vector<Ev>{P("a<"), P("x#1<")}));
}

// ---------------------------------------------------------------------------------------------
// The user's own searches

TEST(ComDataPacket, customStartDecidesWhereAPacketBegins) {
  struct StartCase {
    const char *Name;
    std::string Start;
    std::int32_t Answer;
    std::vector<Ev> Expected;
    std::string Held;
    bool InPacket;
  };
  const std::vector<StartCase> cases = {
      {"positionCutsBefore", "", 3, {D("ab")}, "#cd", true},
      {"positionOneDiscardsNothing", "", 1, {}, "ab#cd", true},
      {"positionBeyondEndDiscardsAll", "", 100, {D("ab#cd")}, "", true},
      {"zeroSkipsBuiltInSearch", "", 0, {}, "ab#cd", false},
      {"belowMinusOneSkipsBuiltInSearch", "#", -7, {}, "ab#cd", false},
      {"unchangedUsesStartString", "#", -1, {D("ab")}, "#cd", true},
  };
  for (const StartCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Framer f({c.Start, "<", true});
    std::vector<std::string> seen;
    f.P.OnCustomStart = [&](TObject *sender, const std::string &str, std::int32_t &pos) {
      EXPECT_EQ(sender, &f.P);
      EXPECT_EQ(pos, -1);
      seen.push_back(str);
      pos = c.Answer;
    };
    f.Rx("ab#cd");
    EXPECT_EQ(seen, std::vector<std::string>{"ab#cd"});
    EXPECT_EQ(f.Events, c.Expected);
    EXPECT_EQ(f.Held(), c.Held);
    EXPECT_EQ(f.P.InPacket(), c.InPacket);
  }
}

TEST(ComDataPacket, customStopDecidesWhereAPacketEnds) {
  struct StopCase {
    const char *Name;
    Settings S;
    std::int32_t Answer;
    std::vector<Ev> Expected;
    std::string Held;
  };
  const std::vector<StopCase> cases = {
      {"lengthCutsAndRescans", {"", "", true}, 2, {P("#a"), P("bc")}, ""},
      {"lengthBeyondEndTakesAll", {"", "", true}, 50, {P("#abc")}, ""},
      {"zeroSkipsSizeAndStop", {"#", "c", true, false, 2}, 0, {}, "#abc"},
      {"unchangedUsesSize", {"#", "", true, false, 3}, -1, {P("#ab")}, "c"},
      {"unchangedUsesStop", {"#", "b", false}, -1, {P("a")}, "c"},
  };
  for (const StopCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Framer f(c.S);
    int calls = 0;
    f.P.OnCustomStop = [&](TObject *, const std::string &str, std::int32_t &pos) {
      EXPECT_EQ(pos, -1);
      // An answer that does not look at the text must not make the framer cut for ever.
      if (++calls > 10) FAIL() << "scan does not end; buffer '" << str << "'";
      pos = c.Answer;
    };
    f.Rx("#abc");
    EXPECT_EQ(f.Events, c.Expected);
    EXPECT_EQ(f.Held(), c.Held);
  }
}

TEST(ComDataPacket, customStopAloneActivatesFraming) {
  Framer f({"#", "", true});
  f.P.OnCustomStop = [](TObject *, const std::string &str, std::int32_t &pos) {
    const auto at = str.find(';');
    if (at != std::string::npos) pos = static_cast<std::int32_t>(at + 1);
  };
  f.Rx("x#1;#2");
  EXPECT_EQ(f.Events, (std::vector<Ev>{D("x"), P("#1;")}));
  EXPECT_EQ(f.Held(), "#2");
}

// ---------------------------------------------------------------------------------------------
// Handlers that fail or act on the framer

TEST(ComDataPacket, failingHandlerStillEnforcesTheLimit) {
  Framer f({"#", "<", true, false, 0, 5});
  f.P.OnPacket = [](TObject *, const std::string &) { throw std::runtime_error("handler"); };
  EXPECT_THROW(f.Rx("#1<abcdef"), std::runtime_error);
  EXPECT_EQ(f.Events, std::vector<Ev>{D("abcdef")});
  EXPECT_EQ(f.Held(), "");
  EXPECT_FALSE(f.P.InPacket());
}

TEST(ComDataPacket, failingDiscardStillEmptiesTheBuffer) {
  Framer f;
  f.Rx("#12");
  f.P.OnDiscard = [](TObject *, const std::string &) { throw std::runtime_error("discard"); };
  EXPECT_THROW(f.P.ResetBuffer(), std::runtime_error);
  EXPECT_EQ(f.Held(), "");
  EXPECT_FALSE(f.P.InPacket());
  // The buffer seen by the handler when text before a start is cut is already shortened.
  f.P.OnDiscard = [&](TObject *, const std::string &s) { f.Events.push_back(D(s + "|" + f.Held())); };
  f.Rx("ab#1");
  EXPECT_EQ(f.Events, std::vector<Ev>{D("ab|#1")});
}

TEST(ComDataPacket, handlerActingOnTheFramerDuringTheScan) {
  struct ReentryCase {
    const char *Name;
    std::vector<Ev> Expected;
    std::string Held;
  };
  const std::vector<ReentryCase> cases = {
      {"resetInPacket", {P("#1<"), D("#2<#3")}, ""},
      {"receiveInPacket", {P("#1<"), P("#2<"), P("#3<"), P("#9<")}, ""},
      {"startChangeInPacket", {P("#1<"), D("#2<#3<")}, ""},
  };
  for (const ReentryCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Framer f;
    const std::string name = c.Name;
    bool once = true;
    f.P.OnPacket = [&](TObject *, const std::string &s) {
      f.Events.push_back(P(s));
      if (!once) return;
      once = false;
      if (name == "resetInPacket") f.P.ResetBuffer();
      if (name == "receiveInPacket") Feed(f.P, "#9<");
      if (name == "startChangeInPacket") f.P.SetStartString("$");
    };
    f.Rx(c.Name == std::string("resetInPacket") ? "#1<#2<#3" : "#1<#2<#3<");
    EXPECT_EQ(f.Events, c.Expected);
    EXPECT_EQ(f.Held(), c.Held);
  }
}

// ---------------------------------------------------------------------------------------------
// The port

TEST(ComDataPacket, bindingFollowsTheComPortProperty) {
  TComPort port1;
  TComPort port2;
  Framer f;
  f.Rx("#12");

  f.P.SetComPort(&port1);
  EXPECT_EQ(f.P.ComPort(), &port1);
  EXPECT_TRUE(port1.HasLink(f.P.Link()));
  // The same port again must not attach twice (the port refuses a second attach).
  EXPECT_NO_THROW(f.P.SetComPort(&port1));

  f.P.SetComPort(&port2);
  EXPECT_FALSE(port1.HasLink(f.P.Link()));
  EXPECT_TRUE(port2.HasLink(f.P.Link()));
  // A block consumer is attached, so the port reads received bytes for the framer.
  EXPECT_FALSE(port2.TriggersOnRxChar());

  f.P.SetComPort(nullptr);
  EXPECT_EQ(f.P.ComPort(), nullptr);
  EXPECT_FALSE(port2.HasLink(f.P.Link()));
  // Changing ports leaves the partial packet alone.
  EXPECT_EQ(f.Held(), "#12");
  EXPECT_TRUE(f.P.InPacket());
  EXPECT_TRUE(f.Events.empty());
}

TEST(ComDataPacket, destroyedPortClearsTheReference) {
  TComPort survivor;
  Framer f;
  auto port = std::make_unique<TComPort>();
  f.P.SetComPort(port.get());
  port.reset();
  EXPECT_EQ(f.P.ComPort(), nullptr);
  // Nothing refers to the dead port: binding anew detaches nothing.
  EXPECT_NO_THROW(f.P.SetComPort(&survivor));
  EXPECT_TRUE(survivor.HasLink(f.P.Link()));
}

TEST(ComDataPacket, destroyedFramerDetachesFromThePort) {
  TComPort port;
  const TComLink *link = nullptr;
  {
    TComDataPacket p(&port);
    p.SetComPort(&port);
    link = p.Link();
    ASSERT_TRUE(port.HasLink(link));
  }
  EXPECT_FALSE(port.HasLink(link));
  EXPECT_TRUE(port.TriggersOnRxChar());
}

TEST(ComDataPacket, recordsReceivedByThePortReachThePacketHandler) {
  auto device = std::make_shared<TFakeSerialDevice>();
  TComPort port;
  port.SetDeviceFactory([device] { return device; });
  port.SetTriggersOnRxChar(false);
  Framer f;
  f.P.SetComPort(&port);
  port.SetConnected(true);
  ASSERT_TRUE(port.Connected());

  device->InjectRx("xx#8M2");
  device->InjectRx("5.5<#2M1.34564<");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (f.Events.size() < 3 && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  port.SetConnected(false);
  EXPECT_EQ(f.Events, (std::vector<Ev>{D("xx"), P("#8M25.5<"), P("#2M1.34564<")}));
}

// A record cut off by a dead line must not swallow the first record after the port opens again;
// the remnant is reported as discarded, not dropped unseen.
TEST(ComDataPacket, remnantOfADeadLineIsDiscardedBeforeTheNextOpen) {
  {
    auto device = std::make_shared<TFakeSerialDevice>();
    TComPort port;
    port.SetDeviceFactory([device] { return device; });
    port.SetTriggersOnRxChar(false);
    Framer f;
    f.P.SetComPort(&port);
    port.SetConnected(true);
    ASSERT_TRUE(port.Connected());
    device->InjectRx("#3M12");
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return f.Held() == "#3M12"; }));
    port.SetConnected(false);
    EXPECT_EQ(f.Held(), "");
    EXPECT_EQ(f.P.DiscardedBytes(drLineChanged), 5u);
    EXPECT_FALSE(f.P.InPacket());

    auto fresh = std::make_shared<TFakeSerialDevice>();
    port.SetDeviceFactory([fresh] { return fresh; });
    port.SetConnected(true);
    ASSERT_TRUE(port.Connected());
    fresh->InjectRx("#1M1000<");
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return f.Events.size() >= 2; }));
    port.SetConnected(false);
    EXPECT_EQ(f.Events, (std::vector<Ev>{D("#3M12"), P("#1M1000<")}));
  }
}

} // namespace
