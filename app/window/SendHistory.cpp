#include "app/window/SendHistory.h"

#include <QKeyEvent>
#include <QLineEdit>

TSendHistory::TSendHistory(QLineEdit *edit) : QObject(edit), FEdit(edit) { edit->installEventFilter(this); }

void TSendHistory::Add(const QString &line) {
  if (!line.isEmpty() && (FLines.isEmpty() || FLines.back() != line)) {
    FLines.push_back(line);
    if (FLines.size() > MaxLines)
      FLines.pop_front();
  }
  FAt = FLines.size();
  FDraft.clear();
}

void TSendHistory::Recall(int step) {
  const qsizetype to = FAt + step;
  if (to < 0 || to > FLines.size())
    return;
  if (FAt == FLines.size())
    FDraft = FEdit->text(); // leaving the line being typed: it comes back after the newest
  FAt = to;
  FEdit->setText(FAt == FLines.size() ? FDraft : FLines[FAt]);
}

bool TSendHistory::eventFilter(QObject *watched, QEvent *event) {
  if (watched == FEdit && event->type() == QEvent::KeyPress) {
    const auto *key = static_cast<QKeyEvent *>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
      Recall(key->key() == Qt::Key_Up ? -1 : 1);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}
