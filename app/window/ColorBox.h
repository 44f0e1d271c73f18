#pragma once
// A drop-down list of the platform's named colours with a swatch for each. A colour without a
// name is kept as one extra custom entry so that any stored colour can be shown and read back.
#include <QComboBox>

#include "platform/Color.h"
#include "platform/Events.h"

class TColorBox : public QComboBox, public TObject {
  Q_OBJECT
public:
  explicit TColorBox(QWidget *parent = nullptr);
  const char *ClassName() const override { return "TColorBox"; }

  // The colour of the current entry; black when none is selected.
  TColor Selected() const;
  void SetSelected(TColor color);

  // Index of the entry holding this exact colour value, or -1.
  int IndexOfColor(TColor color) const;

  // The user picked an entry (not raised by SetSelected).
  TNotifyEvent OnChange;

private:
  void AddEntry(const QString &text, TColor color);
  int FCustomIndex = -1;
};
