#include "app/window/ColorBox.h"

#include "platform/Application.h"

#include <QIcon>
#include <QPixmap>

namespace {

QIcon Swatch(TColor color) {
  QPixmap pm(16, 12);
  pm.fill(ToQColor(color));
  return QIcon(pm);
}

// "clMoneyGreen" is listed as "MoneyGreen", the way colour lists on the desktop show names.
QString PrettyName(const char *ident) {
  QString s = QString::fromLatin1(ident);
  return s.startsWith(QLatin1String("cl")) ? s.mid(2) : s;
}

} // namespace

TColorBox::TColorBox(QWidget *parent) : QComboBox(parent) {
  setEditable(false);
  ForEachNamedColor(
      [](const char *ident, TColor value, void *ctx) {
        auto *box = static_cast<TColorBox *>(ctx);
        // Aliases (clLtGray = clSilver) would give two entries of one colour: keep the first.
        if (box->IndexOfColor(value) < 0) box->AddEntry(PrettyName(ident), value);
      },
      this);
  // Qt does not carry exceptions through its signals: the handler's failures go to the display.
  connect(this, &QComboBox::activated, this, [this] {
    RunGuarded([this] {
      if (OnChange) OnChange(this);
    });
  });
}

void TColorBox::AddEntry(const QString &text, TColor color) {
  addItem(Swatch(color), text, QVariant::fromValue<qint32>(color));
}

int TColorBox::IndexOfColor(TColor color) const {
  return findData(QVariant::fromValue<qint32>(color));
}

TColor TColorBox::Selected() const {
  const int i = currentIndex();
  return i < 0 ? clBlack : static_cast<TColor>(itemData(i).value<qint32>());
}

void TColorBox::SetSelected(TColor color) {
  int i = IndexOfColor(color);
  if (i < 0) {
    const QString text = QStringLiteral("$%1").arg(static_cast<quint32>(color), 8, 16, QLatin1Char('0')).toUpper();
    if (FCustomIndex < 0) {
      AddEntry(text, color);
      FCustomIndex = count() - 1;
    } else {
      setItemText(FCustomIndex, text);
      setItemIcon(FCustomIndex, Swatch(color));
      setItemData(FCustomIndex, QVariant::fromValue<qint32>(color));
    }
    i = FCustomIndex;
  }
  setCurrentIndex(i);
}
