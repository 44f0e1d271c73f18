// The window reopening its port when the device comes back: meters carry on without a click, the
// loss is shown once, the lamps and OnWaitingForDevice tell the wait, closing or choosing another
// port ends it, and so does the Optionen check box (its setting is in FormStorageTest).
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/window/FormMain.h"
#include "app/window/StatusLine.h"
#include "instruments/AnVMeter.h"
#include "serial/ComControls.h"
#include "serial/ComReconnect.h"
#include "tty/PseudoTerminal.h"
#include "support/TestSupport.h"

using namespace std::chrono_literals;

namespace {

class FormMainReconnectTest : public ::testing::Test {
protected:
  QTemporaryDir Dir;
  std::string Link = Dir.path().toStdString() + "/board"; // a stable name, as a udev rule gives
  TPseudoTerminal Pty;
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
  std::unique_ptr<TFormMain> Form = std::make_unique<TFormMain>();

  void SetUp() override { Connect(); }
  void TearDown() override {
    Form.reset();
    SetExceptionSink(PreviousSink);
  }
  void Connect() {
    ASSERT_EQ(Pty.Open(), 0);
    std::filesystem::create_symlink(Pty.SlavePath(), Link);
    Form->UsePort(Link, 0);
    Form->ConnectSchnittstelle1->trigger();
    ASSERT_TRUE(Form->ComPort1->Connected());
  }
  // Pulled mid-record: the cut-off "#3M6" must not swallow the first record after the return.
  void Unplug() {
    ASSERT_EQ(Pty.Send("#3M6", 2s), 4u);
    Pty.CloseMaster();
    std::filesystem::remove(Link);
  }
};

TEST_F(FormMainReconnectTest, replugBringsTheValuesBackWithoutAClickAndShowsTheLossOnce) {
  std::vector<bool> changes;
  Form->OnWaitingForDevice = [&](bool w) { changes.push_back(w); };
  auto *meter = Form->FindComponent<TAnVMeter>(QStringLiteral("Instr3"));
  for (const float value : {33.0f, 44.0f}) {
    Unplug();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Form->WaitingForDevice(); }));
    EXPECT_EQ(Form->ComLed1->Kind(), lkYellowLight);
    EXPECT_EQ(Form->ComLed2->State(), lsOn);
    EXPECT_EQ(Form->StatusLine1->StateLabel()->text(), QStringLiteral("wartet auf Gerät"));
    ASSERT_EQ(Pty.Open(), 0);
    std::filesystem::create_symlink(Pty.SlavePath(), Link);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Form->ComPort1->Connected(); })) << value;
    EXPECT_EQ(Form->ComLed1->Kind(), lkGreenLight);
    EXPECT_EQ(Form->ComLed2->State(), lsOn);
    EXPECT_EQ(Form->StatusLine1->StateLabel()->text(), QStringLiteral("verbunden"));
    ASSERT_EQ(Pty.Send("#3M" + std::to_string(int(value)) + "<", 2s), 6u);
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return meter->Value() == value; })) << meter->Value();
  }
  // Once, with what happened and that the port opens again by itself.
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].substr(0, Shown[0].find('\n')), "ReadFile function failed (Error: 5)");
  EXPECT_NE(Shown[0].find("öffnet die Schnittstelle wieder, sobald es zurück ist"), std::string::npos) << Shown[0];
  EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
}

TEST_F(FormMainReconnectTest, closingOrChoosingAnotherPortEndsTheWaitAndTheNextLossIsShownAgain) {
  TPseudoTerminal other;
  ASSERT_EQ(other.Open(), 0);
  const std::pair<const char *, std::function<void()>> ways[] = {
      {"menu Disconnect", [&] { Form->DisconnectSchnittstelle1->trigger(); }},
      {"Schnittstelle Disconnect", [&] { Form->ButtonDisConnectComPort1->click(); }},
      {"terminal Disconnect", [&] { Form->ButtonTerminalDisconnect->click(); }},
      {"another port", [&] { Form->UsePort(other.SlavePath(), 0); }},
      {"check box off", [&] { Form->CheckBoxAutomatischNeuVerbinden->setChecked(false); }},
  };
  for (const auto &[name, run] : ways) {
    const size_t shown = Shown.size();
    Unplug();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Shown.size() == shown + 1; })) << name;
    run();
    EXPECT_FALSE(Form->WaitingForDevice()) << name;
    EXPECT_EQ(Form->ComLed2->Kind(), lkGreenLight) << name;
    EXPECT_EQ(Form->ComLed2->State(), lsOff) << name;
    Form->CheckBoxAutomatischNeuVerbinden->setChecked(true);
    Connect();
  }
}

} // namespace
