#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A fresh folder per test, removed afterwards.
class TTempFolder {
public:
  TTempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "inifile-XXXXXX").string();
    FPath = mkdtemp(tmpl.data());
  }
  ~TTempFolder() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  std::string operator/(const std::string &name) const { return FPath + "/" + name; }
  std::vector<std::string> Entries(const std::string &sub = "") const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(sub.empty() ? FPath : FPath + "/" + sub))
      names.push_back(e.path().filename().string());
    return names;
  }

private:
  std::string FPath;
};

std::string ReadFile(const std::string &path) {
  std::string s;
  EXPECT_TRUE(ReadWholeFile(path, &s));
  return s;
}

struct TBuildCase {
  const char *Name;
  std::function<void(TIniFile &)> Build;
  std::string Text;
};

TEST(IniFileText, writtenTextIsExactAndReadsBackByteForByte) {
  const std::vector<TBuildCase> cases = {
      {"empty file", [](TIniFile &) {}, ""},
      {"one key", [](TIniFile &f) { f.WriteString("FormMain", "FormVersion", "0"); },
       "[FormMain]\r\nFormVersion=0\r\n\r\n"},
      {"sections and keys in creation order",
       [](TIniFile &f) {
         f.WriteString("B", "z", "1");
         f.WriteString("A", "y", "2");
         f.WriteString("B", "a", "3");
       },
       "[B]\r\nz=1\r\na=3\r\n\r\n[A]\r\ny=2\r\n\r\n"},
      {"rewriting a key replaces it in place, keeping its spelling",
       [](TIniFile &f) {
         f.WriteString("S", "First", "1");
         f.WriteString("S", "Second", "2");
         f.WriteString("s", "FIRST", "new");
       },
       "[S]\r\nFirst=new\r\nSecond=2\r\n\r\n"},
      {"typed writers",
       [](TIniFile &f) {
         f.WriteBool("S", "On", true);
         f.WriteBool("S", "Off", false);
         f.WriteInteger("S", "Neg", -2147483647 - 1);
       },
       "[S]\r\nOn=TRUE\r\nOff=FALSE\r\nNeg=-2147483648\r\n\r\n"},
      {"empty section and empty value",
       [](TIniFile &f) {
         f.CreateSection("Empty");
         f.WriteString("P\\Instr1_Options", "opUnit", "");
       },
       "[Empty]\r\n\r\n[P\\Instr1_Options]\r\nopUnit=\r\n\r\n"},
      {"8-bit bytes and byte 0 kept", [](TIniFile &f) { f.WriteString("S", "k", "\xE4\0x"s); },
       "[S]\r\nk=\xE4\0x\r\n\r\n"s},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TIniFile built;
    c.Build(built);
    EXPECT_EQ(built.SaveToText(), c.Text);
    TIniFile read;
    read.LoadFromText(c.Text);
    EXPECT_EQ(read.SaveToText(), c.Text);
  }
}

TEST(IniFileText, lineBreaksInsideValuesCannotForgeLines) {
  TIniFile f;
  f.WriteString("S", "Name1", "a\r\n[Other]\nb=c");
  EXPECT_EQ(f.SaveToText(), "[S]\r\nName1=a  [Other] b=c\r\n\r\n");
  TIniFile read;
  read.LoadFromText(f.SaveToText());
  EXPECT_EQ(read.ReadSections(), std::vector<std::string>{"S"});
}

TEST(IniFileText, readingRules) {
  struct TCase {
    const char *Name;
    std::string Input;
    std::string Canonical;
  };
  const std::vector<TCase> cases = {
      {"blanks trimmed", "  [ Sec ]  \r\n\t key  =  value  \r\n", "[Sec]\r\nkey=value\r\n\r\n"},
      {"comments and empty lines skipped", ";top\r\n[S]\r\n\r\n  ; k=1\r\nk=2\r\n\r\n\r\n",
       "[S]\r\nk=2\r\n\r\n"},
      {"lines before the first section ignored", "a=1\r\n[broken\r\n[S]\r\nb=2", "[S]\r\nb=2\r\n\r\n"},
      {"no '=' is a key without value", "[S]\r\nflag\r\n", "[S]\r\nflag=\r\n\r\n"},
      {"split at the first '='", "[S]\r\na = b=c =\r\n", "[S]\r\na=b=c =\r\n\r\n"},
      {"empty key", "[S]\r\n=v\r\n", "[S]\r\n=v\r\n\r\n"},
      {"LF and CR line ends", "[A]\nx=1\ry=2\n\n[B]\rz=3", "[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n\r\n"},
      {"repeated section continues, repeated key keeps first", "[S]\r\nk=1\r\n[T]\r\n[s]\r\nK=2\r\nj=3\r\n",
       "[S]\r\nk=1\r\nj=3\r\n\r\n[T]\r\n\r\n"},
      {"bracket line that is a key", "[S]\r\n[x=1\r\n", "[S]\r\n[x=1\r\n\r\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TIniFile f;
    f.WriteString("Old", "gone", "1"); // loading replaces the content
    f.LoadFromText(c.Input);
    EXPECT_EQ(f.SaveToText(), c.Canonical);
  }
}

TEST(IniFileLookup, sectionAndKeyNamesIgnoreLetterCase) {
  TIniFile f;
  f.LoadFromText("[FormMain\\C:\\Users\\Bob]\r\ninstr1_height=73\r\n");
  for (const char *section :
       {"FormMain\\C:\\Users\\Bob", "FORMMAIN\\c:\\users\\bob", "formmain\\C:\\USERS\\BOB"}) {
    for (const char *key : {"Instr1_Height", "INSTR1_HEIGHT", "instr1_height"}) {
      SCOPED_TRACE(std::string(section) + " / " + key);
      EXPECT_TRUE(f.SectionExists(section));
      EXPECT_TRUE(f.ValueExists(section, key));
      EXPECT_EQ(f.ReadString(section, key, "x"), "73");
      EXPECT_EQ(f.ReadInteger(section, key, -1), 73);
    }
  }
  EXPECT_FALSE(f.SectionExists("FormMain"));
  EXPECT_FALSE(f.ValueExists("FormMain\\C:\\Users\\Bob", "Instr1_Width"));
  EXPECT_EQ(f.ReadString("FormMain", "Instr1_Height", "dflt"), "dflt");
}

TEST(IniFileLookup, integerReads) {
  struct TCase {
    const char *Value;
    int32_t Expected;
  };
  const std::vector<TCase> cases = {
      {"73", 73},          {"-5", -5},          {"+5", 5},           {" 42 ", 42},
      {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"2147483648", 7},
      {"-2147483649", 7},  {"", 7},             {"abc", 7},          {"12x", 7},
      {"1.5", 7},          {"0x10", 7},         {"-", 7},            {"99999999999999999999", 7},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Value);
    TIniFile f;
    f.WriteString("S", "k", c.Value);
    EXPECT_EQ(f.ReadInteger("S", "k", 7), c.Expected);
  }
  EXPECT_EQ(TIniFile().ReadInteger("S", "missing", 7), 7);
}

TEST(IniFileLookup, booleanReads) {
  struct TCase {
    const char *Value;
    int Expected; // -1: the default
  };
  const std::vector<TCase> cases = {
      {"TRUE", 1}, {"true", 1}, {"Yes", 1},  {"y", 1},      {"2", 1},  {"-1", 1},
      {"FALSE", 0}, {"False", 0}, {"no", 0}, {"N", 0},      {"0", 0},  {"maybe", -1},
      {"", -1},     {"on", -1},   {"1.0", -1}, {"yess", -1},
  };
  for (const auto &c : cases) {
    for (bool dflt : {false, true}) {
      SCOPED_TRACE(std::string(c.Value) + (dflt ? " default true" : " default false"));
      TIniFile f;
      f.WriteString("S", "k", c.Value);
      EXPECT_EQ(f.ReadBool("S", "k", dflt), c.Expected < 0 ? dflt : c.Expected == 1);
    }
  }
}

TEST(IniFileStructure, keyListsAndRemoval) {
  TIniFile f;
  f.LoadFromText("[A]\r\na1=1\r\na2=2\r\na3=3\r\n[B]\r\nb=1\r\n[C]\r\nc=1\r\n");
  EXPECT_EQ(f.ReadSection("a"), (std::vector<std::string>{"a1", "a2", "a3"}));
  EXPECT_TRUE(f.ReadSection("missing").empty());

  f.DeleteKey("A", "A2");
  f.DeleteKey("A", "nothing");
  EXPECT_EQ(f.ReadString("A", "a3", ""), "3"); // later keys still found after removal
  f.WriteString("A", "a2", "again");           // a re-added key goes to the end
  f.EraseSection("b");
  f.EraseSection("nothing");
  EXPECT_EQ(f.ReadString("C", "c", ""), "1");
  f.WriteString("B", "b", "new"); // a re-created section goes to the end
  EXPECT_EQ(f.SaveToText(), "[A]\r\na1=1\r\na3=3\r\na2=again\r\n\r\n[C]\r\nc=1\r\n\r\n[B]\r\nb=new\r\n\r\n");

  f.Clear();
  EXPECT_EQ(f.SaveToText(), "");
  EXPECT_FALSE(f.SectionExists("A"));
}

TEST(StorePath, joiningAndSplitting) {
  struct TJoin {
    std::vector<std::string_view> Parts;
    std::string Joined;
  };
  const std::vector<TJoin> joins = {
      {{"FormMain\\", "C:\\Users\\Bob\\AppData\\Local"}, "FormMain\\C:\\Users\\Bob\\AppData\\Local"},
      {{"a", "b"}, "a\\b"},
      {{"a\\\\b\\", "\\\\"}, ""},
      {{"a\\\\b\\", "c\\\\d\\"}, "a\\b\\c\\d"},
      {{"a\\b", "\\c\\d"}, "c\\d"},
      {{"", "", "x"}, "x"},
      {{"a", "\\b", "c"}, "b\\c"},
      {{}, ""},
  };
  for (const auto &j : joins) {
    SCOPED_TRACE(j.Joined);
    std::string joined;
    if (j.Parts.size() == 2) joined = JoinStorePath(j.Parts[0], j.Parts[1]);
    else if (j.Parts.size() == 3) joined = JoinStorePath({j.Parts[0], j.Parts[1], j.Parts[2]});
    else joined = JoinStorePath({});
    EXPECT_EQ(joined, j.Joined);
  }

  struct TSplit {
    const char *Path;
    const char *Section;
    const char *Key;
  };
  const std::vector<TSplit> splits = {
      {"FormMain\\FormVersion", "FormMain", "FormVersion"},
      {"\\FormMain\\P\\Instr1_Options\\opUnit", "FormMain\\P\\Instr1_Options", "opUnit"},
      {"a\\\\b\\\\key\\", "a\\b", "key"},
      {"key", "", "key"},
      {"", "", ""},
  };
  for (const auto &s : splits) {
    SCOPED_TRACE(s.Path);
    const auto [section, key] = SplitStorePath(s.Path);
    EXPECT_EQ(section, s.Section);
    EXPECT_EQ(key, s.Key);
  }
}

TEST(IniFileDisk, updateCreatesFoldersAndWritesCompleteFileWithoutLeftovers) {
  TTempFolder dir;
  TIniFile f;
  f.SetFileName(dir / "a/b/Telmora.ini");
  f.WriteString("FormMain", "FormVersion", "0");
  std::string error;
  ASSERT_TRUE(f.UpdateFile(&error)) << error;
  EXPECT_EQ(ReadFile(dir / "a/b/Telmora.ini"), "[FormMain]\r\nFormVersion=0\r\n\r\n");
  f.WriteString("FormMain", "ShowCmd", "1");
  ASSERT_TRUE(f.UpdateFile());
  EXPECT_EQ(ReadFile(dir / "a/b/Telmora.ini"), f.SaveToText());
  EXPECT_EQ(dir.Entries("a/b"), std::vector<std::string>{"Telmora.ini"});
}

TEST(IniFileDisk, refusedWritesLeaveTheDiskAlone) {
  TTempFolder dir;
  ASSERT_TRUE(WriteFileAtomically(dir / "ro.ini", "[Old]\r\n\r\n"));
  chmod((dir / "ro.ini").c_str(), 0444); // read-only even for root
  ASSERT_TRUE(WriteFileAtomically(dir / "blocker", "file, not folder"));

  struct TCase {
    const char *Name;
    std::string File;
  };
  for (const TCase &c : {TCase{"read-only file", dir / "ro.ini"},
                         TCase{"folder cannot be made", dir / "blocker/sub/x.ini"}, TCase{"no file name", ""}}) {
    SCOPED_TRACE(c.Name);
    TIniFile f;
    f.SetFileName(c.File);
    f.WriteString("New", "k", "v");
    std::string error;
    EXPECT_FALSE(f.UpdateFile(&error));
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(ReadFile(dir / "ro.ini"), "[Old]\r\n\r\n");
  EXPECT_EQ(dir.Entries().size(), 2u);
}

TEST(AtomicFile, failedWriteKeepsOldContentAndRemovesTemporaryFile) {
  TTempFolder dir;
  ASSERT_TRUE(WriteFileAtomically(dir / "f.ini", "old"));
  // A file size limit makes the write itself fail after the temporary file exists.
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool written = WriteFileAtomically(dir / "f.ini", std::string(4096, 'x'), &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFile(dir / "f.ini"), "old");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"f.ini"});
}

TEST(AtomicFile, aWriterKilledAtAnyMomentLeavesTheOldFileOrTheNewNeverATornOne) {
  TTempFolder dir;
  const std::string path = dir / "Telmora.ini";
  const std::string a(1 << 20, 'a'), b(1 << 20, 'b');
  ASSERT_TRUE(WriteFileAtomically(path, a));
  for (int round = 0; round < 8; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      for (unsigned n = 0;; ++n) {
        WriteFileAtomically(path, n % 2 ? a : b);
        const char one = 1;
        if (write(ready[1], &one, 1) != 1) _exit(1);
      }
    }
    close(ready[1]);
    // A few whole writes, then the kill lands somewhere inside a later one.
    char c = 0;
    for (int i = 0; i < 2 + round; ++i) ASSERT_EQ(read(ready[0], &c, 1), 1);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    const std::string content = ReadFile(path);
    EXPECT_TRUE(content == a || content == b) << "round " << round << ": " << content.size() << " bytes";
  }
  // What the killed writers left behind goes with the next write.
  ASSERT_TRUE(WriteFileAtomically(path, a));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Telmora.ini"});
}

TEST(AtomicFile, replacementKeepsPermissionsAndFollowsLinks) {
  TTempFolder dir;
  ASSERT_TRUE(WriteFileAtomically(dir / "real.ini", "1"));
  chmod((dir / "real.ini").c_str(), 0640);
  ASSERT_EQ(symlink("real.ini", (dir / "link.ini").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(dir / "link.ini", "2"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(dir / "real.ini"), "2");
  struct stat st {};
  ASSERT_EQ(stat((dir / "real.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  std::string content = "unchanged", error;
  EXPECT_FALSE(ReadWholeFile(dir / "missing", &content, &error));
  EXPECT_EQ(content, "unchanged");
  EXPECT_FALSE(error.empty());
}

TEST(AtomicFile, aWriteRemovesOnlyTemporariesThatADeadWriterOfTheSameFileLeft) {
  TTempFolder dir;
  const auto make = [&](const std::string &name, bool old) {
    ASSERT_TRUE(WriteFileAtomically(dir / name, "x"));
    const timespec past[2] = {{1000000, 0}, {1000000, 0}};
    if (old) ASSERT_EQ(utimensat(AT_FDCWD, (dir / name).c_str(), past, 0), 0);
  };
  struct TCase {
    const char *Name;
    bool Old;
    bool Removed;
  };
  const TCase cases[] = {
      {".f.ini.a1B2c3", true, true},   // a killed writer's temporary
      {".f.ini.Zz9999", true, true},   //
      {".f.ini.newer0", false, false}, // younger than the running write: may be a writer at work
      {".f.ini.held00", true, false},  // locked: a living writer
      {".f.ini.abcde", true, false},   // not the pattern: five characters
      {".f.ini.abcdefg", true, false}, // seven
      {".f.ini.ab-def", true, false},  // a character mkostemp never uses
      {"f.ini.abcdef", true, false},   // no leading dot
      {".g.ini.abcdef", true, false},  // another file's temporary
  };
  for (const TCase &c : cases) make(c.Name, c.Old);
  ASSERT_EQ(mkdir((dir / ".f.ini.folder").c_str(), 0700), 0);
  ASSERT_EQ(symlink((dir / ".g.ini.abcdef").c_str(), (dir / ".f.ini.link00").c_str()), 0);
  const int held = open((dir / ".f.ini.held00").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  // "newer" is younger than the write below: its time is set into the future.
  const timespec future[2] = {{4000000000, 0}, {4000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / ".f.ini.newer0").c_str(), future, 0), 0);

  ASSERT_TRUE(WriteFileAtomically(dir / "f.ini", "content"));
  close(held);
  for (const TCase &c : cases) EXPECT_EQ(fs::exists(dir / c.Name), !c.Removed) << c.Name;
  EXPECT_TRUE(fs::is_directory(dir / ".f.ini.folder"));
  EXPECT_TRUE(fs::is_symlink(dir / ".f.ini.link00"));
  EXPECT_EQ(ReadFile(dir / "f.ini"), "content");
}

TEST(AtomicFile, onlyRegularFilesAreReadOrReplacedAndReadsKeepTheirBounds) {
  TTempFolder dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0700), 0);
  ASSERT_TRUE(WriteFileAtomically(dir / "long", "a\r\nb\rc\n" + std::string(100, 'x') + "\r\n"));
  ASSERT_TRUE(WriteFileAtomically(dir / "short", "[S]\r\nk=" + std::string(90, 'v') + "\r\n"));
  struct TCase {
    const char *Name;
    std::string File;
    TReadBounds Bounds;
    const char *Error; // "" when the read succeeds
  };
  const TCase cases[] = {
      {"FIFO without writer", dir / "fifo", {}, "not a regular file"},
      {"device", "/dev/zero", {}, "not a regular file"},
      {"folder", dir / "folder", {}, "a folder"},
      {"line 4 too long (CR LF, CR and LF each end one line)", dir / "long", {1000, 99}, "line 4 is longer than 99 bytes"},
      {"lines within bounds", dir / "long", {1000, 100}, ""},
      {"file too big", dir / "short", {64, 1000}, "larger than 64 bytes"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    std::string content = "unchanged", error;
    EXPECT_EQ(ReadWholeFile(c.File, &content, &error, c.Bounds), !*c.Error);
    EXPECT_NE(error.find(c.Error), std::string::npos) << error;
    if (*c.Error) EXPECT_EQ(content, "unchanged");
  }
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir / "fifo", "x", &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  struct stat st {};
  ASSERT_EQ(lstat((dir / "fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(IniFileDisk, linesThatAreNotUtf8AreReadAsWindows1252WhenAsked) {
  TTempFolder dir;
  // One line from the older platform (degree sign, euro sign), one written here in UTF-8.
  ASSERT_TRUE(WriteFileAtomically(dir / "mixed.ini", "[S]\r\nUnit=\xB0" "C \x80\r\nName=\xC2\xB5V\r\nBad=\xC3\r\n"));
  TIniFile legacy;
  legacy.SetLegacyLinesAsCp1252(true);
  ASSERT_TRUE(legacy.LoadFromFile(dir / "mixed.ini"));
  EXPECT_EQ(legacy.ReadString("S", "Unit", ""), "\xC2\xB0" "C \xE2\x82\xAC");
  EXPECT_EQ(legacy.ReadString("S", "Name", ""), "\xC2\xB5V");
  EXPECT_EQ(legacy.ReadString("S", "Bad", ""), "\xC3\x83"); // a lone lead byte is no UTF-8
  TIniFile plain(dir / "mixed.ini");
  EXPECT_EQ(plain.ReadString("S", "Unit", ""), "\xB0" "C \x80"); // bytes kept as they are otherwise
}

TEST(IniFileDisk, loadingAndReloadingFollowTheFile) {
  TTempFolder dir;
  const std::string path = dir / "s.ini";

  TIniFile missing(path);
  EXPECT_EQ(missing.FileName(), path);
  EXPECT_FALSE(missing.LoadFromFile(path));
  EXPECT_FALSE(missing.ReloadIfChanged());

  ASSERT_TRUE(WriteFileAtomically(path, "[S]\r\nk=1\r\n"));
  TIniFile f(path);
  EXPECT_EQ(f.ReadString("S", "k", ""), "1");
  EXPECT_FALSE(f.ReloadIfChanged());

  // Another process replaces the file.
  ASSERT_TRUE(WriteFileAtomically(path, "[S]\r\nk=2\r\n"));
  EXPECT_TRUE(f.ReloadIfChanged());
  EXPECT_EQ(f.ReadString("S", "k", ""), "2");
  EXPECT_FALSE(f.ReloadIfChanged());

  // An in-place rewrite of the same size seen only through the modification time.
  {
    FILE *out = fopen(path.c_str(), "r+b");
    ASSERT_NE(out, nullptr);
    fputs("[S]\r\nk=3\r\n", out);
    fclose(out);
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  EXPECT_TRUE(f.ReloadIfChanged());
  EXPECT_EQ(f.ReadString("S", "k", ""), "3");

  // Our own write is not taken for a change; a vanished file keeps the copy in memory.
  f.WriteString("S", "mine", "x");
  ASSERT_TRUE(f.UpdateFile());
  EXPECT_FALSE(f.ReloadIfChanged());
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_FALSE(f.ReloadIfChanged());
  EXPECT_EQ(f.ReadString("S", "mine", ""), "x");
}

} // namespace
