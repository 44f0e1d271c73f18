#include "platform/KeyValueStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class KeyValueStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kvstore-XXXXXX").string();
    FFolder = mkdtemp(tmpl.data());
    FPath = FFolder + "/cfg/registry.ini";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(FFolder, ec);
  }
  std::string FileText() const {
    std::string s;
    EXPECT_TRUE(ReadWholeFile(FPath, &s));
    return s;
  }

  std::string FFolder;
  std::string FPath;
};

// Sets or removes an environment variable for the scope.
class TScopedEnv {
public:
  TScopedEnv(const char *name, const char *value) : FName(name) {
    if (const char *old = std::getenv(name)) FOld = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~TScopedEnv() { FOld ? setenv(FName, FOld->c_str(), 1) : unsetenv(FName); }

private:
  const char *FName;
  std::optional<std::string> FOld;
};

TEST(KeyValueStorePath, defaultFileFollowsTheConfigFolder) {
  struct TCase {
    const char *Xdg;
    const char *Expected;
  };
  const TScopedEnv home("HOME", "/home/anna");
  for (const TCase &c : {TCase{"/xdg/conf", "/xdg/conf/telmora/registry.ini"},
                         TCase{nullptr, "/home/anna/.config/telmora/registry.ini"},
                         TCase{"", "/home/anna/.config/telmora/registry.ini"},
                         TCase{"relative/conf", "/home/anna/.config/telmora/registry.ini"}}) {
    SCOPED_TRACE(c.Expected);
    const TScopedEnv xdg("XDG_CONFIG_HOME", c.Xdg);
    EXPECT_EQ(TKeyValueStore::DefaultFilePath(), c.Expected);
  }
}

TEST_F(KeyValueStoreTest, valuesSurviveInTheFileWithTheirTypes) {
  {
    TKeyValueStore store(FPath);
    ASSERT_TRUE(store.OpenKey("Software\\Telmora\\ComPort", true));
    EXPECT_TRUE(store.WriteString("Port", "COM1"));
    EXPECT_TRUE(store.WriteInteger("CustomBaudRate", 9600));
    EXPECT_TRUE(store.WriteInteger("Min", -2147483647 - 1));
    EXPECT_TRUE(store.WriteString("Odd", "  a\\b\r\n\"c\"  "));
    store.CloseKey();
  }
  EXPECT_EQ(FileText(), "[Software\\Telmora\\ComPort]\r\nPort=\"COM1\"\r\nCustomBaudRate=dword:00002580\r\n"
                        "Min=dword:80000000\r\nOdd=\"  a\\\\b\\r\\n\"c\"  \"\r\n\r\n");

  TKeyValueStore store(FPath);
  ASSERT_TRUE(store.OpenKey("\\software\\TELMORA\\comport", false));
  EXPECT_EQ(store.GetValueNames(), (std::vector<std::string>{"Port", "CustomBaudRate", "Min", "Odd"}));
  EXPECT_EQ(store.ReadString("port"), "COM1");
  EXPECT_EQ(store.ReadInteger("CUSTOMBAUDRATE"), 9600);
  EXPECT_EQ(store.ReadInteger("Min"), -2147483647 - 1);
  EXPECT_EQ(store.ReadString("Odd"), "  a\\b\r\n\"c\"  ");
}

TEST_F(KeyValueStoreTest, missingOrMistypedValuesReadAsTheRegistryDoes) {
  TKeyValueStore store(FPath);
  EXPECT_FALSE(store.WriteString("NoKey", "x")); // nothing open yet
  EXPECT_FALSE(store.ValueExists("NoKey"));
  ASSERT_TRUE(store.OpenKey("K", true));
  store.WriteString("Text", "12");
  store.WriteInteger("Number", 12);

  struct TCase {
    const char *Name;
    TKeyValueStore::TValueKind Kind;
    const char *AsString;
    std::optional<int32_t> AsInteger;
  };
  using K = TKeyValueStore::TValueKind;
  for (const TCase &c : {TCase{"Text", K::String, "12", std::nullopt}, TCase{"Number", K::Integer, "", 12},
                         TCase{"Missing", K::None, "", std::nullopt}}) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(store.GetValueKind(c.Name), c.Kind);
    EXPECT_EQ(store.ReadString(c.Name), c.AsString);
    EXPECT_EQ(store.ReadInteger(c.Name), c.AsInteger);
  }
  EXPECT_TRUE(store.DeleteValue("text"));
  EXPECT_FALSE(store.DeleteValue("text"));
  EXPECT_EQ(store.GetValueNames(), std::vector<std::string>{"Number"});
}

TEST(KeyValueStoreForms, storedTextDecodes) {
  struct TCase {
    const char *Stored;
    TKeyValueStore::TValueKind Kind;
    std::string Text;
    int32_t Number;
  };
  using K = TKeyValueStore::TValueKind;
  const std::vector<TCase> cases = {
      {"dword:ffffffff", K::Integer, "", -1},     {"DWORD:1", K::String, "DWORD:1", 0},
      {"dword:7FFFFFFF", K::Integer, "", 2147483647}, {"dword:a", K::Integer, "", 10},
      {"dword:", K::String, "dword:", 0},         {"dword:123456789", K::String, "dword:123456789", 0},
      {"dword:12g", K::String, "dword:12g", 0},   {"COM3", K::String, "COM3", 0},
      {"\"\"", K::String, "", 0},                 {"\"", K::String, "\"", 0},
      {"\"a\\\\b\\x\\\"", K::String, "a\\b\\x\\", 0}, {"\"line\\nbreak\\r\"", K::String, "line\nbreak\r", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Stored);
    std::string text;
    int32_t number = 0;
    EXPECT_EQ(TKeyValueStore::Decode(c.Stored, &text, &number), c.Kind);
    if (c.Kind == K::String) EXPECT_EQ(text, c.Text);
    else EXPECT_EQ(number, c.Number);
  }
}

TEST_F(KeyValueStoreTest, keysOpenRelativeOrAbsoluteAndListTheirChildren) {
  TKeyValueStore store(FPath);
  EXPECT_FALSE(store.OpenKey("Software\\Telmora", false));
  EXPECT_FALSE(store.HasCurrentKey());
  ASSERT_TRUE(store.OpenKey("Software\\Telmora\\ComPort", true));
  ASSERT_TRUE(store.OpenKey("\\Software\\Telmora\\Terminal\\Colors", true));
  ASSERT_TRUE(store.OpenKey("\\Software\\Other", true));
  EXPECT_TRUE(store.KeyExists("\\software\\telmora")); // a parent exists through its children
  EXPECT_FALSE(store.KeyExists("\\Software\\Telmo"));

  ASSERT_TRUE(store.OpenKey("\\Software", false));
  EXPECT_EQ(store.GetKeyNames(), (std::vector<std::string>{"Telmora", "Other"}));
  ASSERT_TRUE(store.OpenKey("Telmora", false)); // relative to the open key
  EXPECT_EQ(store.CurrentPath(), "Software\\Telmora");
  EXPECT_EQ(store.GetKeyNames(), (std::vector<std::string>{"ComPort", "Terminal"}));
  EXPECT_FALSE(store.OpenKey("Nothing", false));
  EXPECT_EQ(store.CurrentPath(), "Software\\Telmora"); // a failed open keeps the open key
  ASSERT_TRUE(store.OpenKey("\\", false));
  EXPECT_EQ(store.GetKeyNames(), std::vector<std::string>{"Software"});
}

TEST_F(KeyValueStoreTest, deletingAKeyRemovesItsSubtreeOnly) {
  TKeyValueStore store(FPath);
  for (const char *key : {"\\A\\B", "\\A\\B\\C", "\\A\\BB", "\\A\\D"}) {
    ASSERT_TRUE(store.OpenKey(key, true));
    store.WriteInteger("v", 1);
  }
  ASSERT_TRUE(store.OpenKey("\\A\\B\\C", false));
  EXPECT_TRUE(store.DeleteKey("\\a\\b"));
  EXPECT_FALSE(store.HasCurrentKey()); // the open key was inside
  EXPECT_FALSE(store.KeyExists("\\A\\B\\C"));
  EXPECT_TRUE(store.KeyExists("\\A\\BB"));
  EXPECT_FALSE(store.DeleteKey("\\A\\B"));
  EXPECT_FALSE(store.DeleteKey("\\"));
  ASSERT_TRUE(store.Flush());
  EXPECT_EQ(FileText(), "[A\\BB]\r\nv=dword:00000001\r\n\r\n[A\\D]\r\nv=dword:00000001\r\n\r\n");
}

TEST_F(KeyValueStoreTest, changesOfOthersArePickedUpAndPendingChangesAreWritten) {
  TKeyValueStore mine(FPath);
  ASSERT_TRUE(mine.OpenKey("K", true));
  mine.WriteString("a", "mine");
  mine.CloseKey();
  {
    TKeyValueStore other(FPath);
    ASSERT_TRUE(other.OpenKey("K", false));
    other.WriteString("b", "theirs"); // written by the destructor
  }
  ASSERT_TRUE(mine.OpenKey("K", false));
  EXPECT_EQ(mine.ReadString("a"), "mine");
  EXPECT_EQ(mine.ReadString("b"), "theirs");
}

TEST_F(KeyValueStoreTest, aReadOnlyFileIsNotWritten) {
  {
    TKeyValueStore store(FPath);
    ASSERT_TRUE(store.OpenKey("K", true));
    store.WriteString("a", "1");
  }
  chmod(FPath.c_str(), 0444);
  const std::string before = FileText();
  TKeyValueStore store(FPath);
  ASSERT_TRUE(store.OpenKey("K", false));
  store.WriteString("a", "2");
  std::string error;
  EXPECT_FALSE(store.Flush(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(store.ReadString("a"), "2"); // kept in memory
}

} // namespace
