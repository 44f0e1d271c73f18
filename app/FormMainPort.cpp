// The Schnittstelle page (port choice and protocol description) and the Terminal page.
#include "app/FormMain.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

const char *const SchnittstelleLines[] = {
    "Die möglichen ComPorts werden",
    "automatisch detektiert.",
    "",
    "Die Schnittstelle ist fest eingestellt auf:",
    "",
    "8 DataBit",
    "1 Stopbit",
    "No Parity",
    "Keine Hard- oder Software-Flusskontrolle",
};

const char *const ProtokollLines[] = {
    "Das Protokoll      #iMm<     als String",
    "hat folgende Parameter:",
    "#   -  Identifier Messwertübertragung",
    "i   -  gewünschte Instrumenten Nummer",
    "M  -  Identifier für Messwert",
    "m  -  Messwert",
    "<  -  Ende eines Datensatzes ",
    "",
    "Messwerte können belibig aneinander gereit",
    "oder gemischt inzeln übertragen werden. ",
    "#iMm<#iMm<#iMm<#iMm<",
    "",
    "Dieses Programm erwartet alle seriellen ",
    "Daten als Strings vom Mikrokontroller.",
    "und sähe mit wirlichen Werten z.B. so aus:",
    "#8M25.5<#2M1.34564<",
};

template <std::size_t N> std::string JoinCrLf(const char *const (&lines)[N]) {
  std::string s;
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) s += "\r\n";
    s += lines[i];
  }
  return s;
}

// A label shows the stored CR LF text with plain line breaks.
QString LabelText(const std::string &stored) {
  return QString::fromStdString(stored).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QLabel *BoldLabel(const char *name, const std::string &text, QWidget *parent) {
  auto *l = new QLabel(LabelText(text), parent);
  l->setObjectName(QString::fromLatin1(name));
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  l->setTextFormat(Qt::PlainText);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return l;
}

QLabel *LedPlaceholder(const char *name, QWidget *parent) {
  auto *led = new QLabel(parent);
  led->setObjectName(QString::fromLatin1(name));
  led->setFixedSize(16, 16);
  led->setStyleSheet(QStringLiteral("background: #004000; border: 1px solid gray; border-radius: 8px;"));
  return led;
}

QPushButton *Button(const char *name, const char *caption, QWidget *parent) {
  auto *b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

} // namespace

std::string TFormMain::SchnittstelleText() const { return JoinCrLf(SchnittstelleLines); }

std::string TFormMain::ProtokollText() const { return JoinCrLf(ProtokollLines) + "\r\n\r\n\r\n\r\n\r\n"; }

// The port component will report its own port name; until it is part of the window the name
// is the design value.
std::string TFormMain::PortName() const { return "COM10"; }

void TFormMain::BuildSchnittstellePage() {
  auto *page = new QHBoxLayout(TabSheetSchnittstelle);

  auto *port = new QGroupBox(QStringLiteral("  Serielle Schnittstelle  "), TabSheetSchnittstelle);
  port->setObjectName(QStringLiteral("GroupBoxSerielleSchnittstelle"));
  auto *grid = new QGridLayout(port);
  auto *labelPort = new QLabel(QStringLiteral("Com Port"), port);
  labelPort->setObjectName(QStringLiteral("LabelComPort"));
  ComComboBox1 = new QComboBox(port);
  ComComboBox1->setObjectName(QStringLiteral("ComComboBox1"));
  ComComboBox1->addItem(QStringLiteral("COM10"));
  auto *labelBaud = new QLabel(QStringLiteral("Baud Rate"), port);
  labelBaud->setObjectName(QStringLiteral("LabelBaudRate"));
  ComComboBox2 = new QComboBox(port);
  ComComboBox2->setObjectName(QStringLiteral("ComComboBox2"));
  ComComboBox2->addItem(QStringLiteral("19200"));
  ComLed2 = LedPlaceholder("ComLed2", port);
  ButtonConnectComPort1 = Button("ButtonConnectComPort1", "Connect", port);
  connect(ButtonConnectComPort1, &QPushButton::clicked, this, [this] { ConnectSchnittstelle1Click(); });
  ButtonDisConnectComPort1 = Button("ButtonDisConnectComPort1", "Disconnect", port);
  connect(ButtonDisConnectComPort1, &QPushButton::clicked, this, [this] { DisconnectSchnittstelle1Click(); });
  grid->addWidget(labelPort, 0, 0);
  grid->addWidget(ComComboBox1, 0, 1);
  grid->addWidget(ComLed2, 0, 2);
  grid->addWidget(labelBaud, 1, 0);
  grid->addWidget(ComComboBox2, 1, 1);
  grid->addWidget(ButtonConnectComPort1, 2, 0);
  grid->addWidget(ButtonDisConnectComPort1, 2, 1);
  grid->addWidget(BoldLabel("LabelSchnittstelle", SchnittstelleText(), port), 3, 0, 1, 3);
  grid->setRowStretch(4, 1);
  page->addWidget(port);

  auto *protocol = new QGroupBox(QStringLiteral("  Protokoll / Daten-Format  "), TabSheetSchnittstelle);
  protocol->setObjectName(QStringLiteral("GroupBoxProtokoll"));
  auto *box = new QVBoxLayout(protocol);
  box->addWidget(BoldLabel("LabelProtokoll", ProtokollText(), protocol));
  box->addStretch(1);
  page->addWidget(protocol);
  page->addStretch(1);
}

void TFormMain::BuildTerminalPage() {
  auto *page = new QVBoxLayout(TabSheetTerminal);
  auto *row = new QHBoxLayout;
  ButtonClearTerminal = Button("ButtonClearTerminal", "Clear", TabSheetTerminal);
  connect(ButtonClearTerminal, &QPushButton::clicked, this, [this] { ButtonClearTerminalClick(this); });
  ComLed1 = LedPlaceholder("ComLed1", TabSheetTerminal);
  LabelTerminal = new QLabel(QStringLiteral("xxx"), TabSheetTerminal);
  LabelTerminal->setObjectName(QStringLiteral("LabelTerminal"));
  EditTerminalSendString = new QLineEdit(TabSheetTerminal);
  EditTerminalSendString->setObjectName(QStringLiteral("EditTerminalSendString"));
  // Sending a string has no function: the button is only enabled and disabled.
  ButtonSendString = Button("ButtonSendString", "Send String", TabSheetTerminal);
  ButtonTerminalConnect = Button("ButtonTerminalConnect", "Connect", TabSheetTerminal);
  connect(ButtonTerminalConnect, &QPushButton::clicked, this, [this] { ButtonTerminalConnectClick(this); });
  ButtonTerminalDisconnect = Button("ButtonTerminalDisconnect", "Disconnect", TabSheetTerminal);
  connect(ButtonTerminalDisconnect, &QPushButton::clicked, this, [this] { ButtonTerminalDisconnectClick(this); });
  row->addWidget(ButtonClearTerminal);
  row->addWidget(ComLed1);
  row->addWidget(LabelTerminal);
  row->addWidget(EditTerminalSendString, 1);
  row->addWidget(ButtonSendString);
  row->addWidget(ButtonTerminalConnect);
  row->addWidget(ButtonTerminalDisconnect);
  page->addLayout(row);

  ComTerminal1 = new QPlainTextEdit(TabSheetTerminal);
  ComTerminal1->setObjectName(QStringLiteral("ComTerminal1"));
  ComTerminal1->setReadOnly(true);
  ComTerminal1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  ComTerminal1->setFont(DesignFont("Courier", -17, fsBold));
  ComTerminal1->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; color: black; }")
                                  .arg(ToQColor(clCream).name()));
  page->addWidget(ComTerminal1, 1);
}

void TFormMain::TabSheetTerminalShow(TObject * /*Sender*/) {
  ButtonSendString->setEnabled(true);
  LabelTerminal->setText(QString::fromStdString(PortName()));
  ComTerminal1->clear();
}

void TFormMain::ButtonTerminalConnectClick(TObject * /*Sender*/) {
  ButtonSendString->setEnabled(true);
  // The terminal connects its bound port here once the port component is part of the window.
}

void TFormMain::ButtonTerminalDisconnectClick(TObject * /*Sender*/) {
  ButtonSendString->setEnabled(false);
  // The terminal closes its bound port here once the port component is part of the window.
}

void TFormMain::ButtonClearTerminalClick(TObject * /*Sender*/) { ComTerminal1->clear(); }
