#pragma once
// The lines sent from the terminal page's edit field, recalled there with Up (older) and Down
// (newer, and finally the line that was being typed), as in a shell.
#include <QObject>
#include <QString>
#include <QStringList>

class QLineEdit;

class TSendHistory : public QObject {
  Q_OBJECT
public:
  // Watches the field's keys; a child of the field.
  explicit TSendHistory(QLineEdit *edit);

  // Remembers a sent line (not an empty one, nor the one just before again) and starts the next
  // recall from the newest line.
  void Add(const QString &line);
  const QStringList &Lines() const { return FLines; }

  static constexpr int MaxLines = 100;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void Recall(int step);

  QLineEdit *FEdit = nullptr;
  QStringList FLines;
  qsizetype FAt = 0; // FLines.size() stands for the line being typed
  QString FDraft;
};
