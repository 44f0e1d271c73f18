#pragma once
// The common ground of components and settings objects: a polymorphic sender and single-handler
// events. An unassigned event is skipped by the raiser.
#include <functional>
#include <stdexcept>
#include <string>

class TObject {
public:
  virtual ~TObject() = default;
  // Class name as the streaming system and failure messages print it ("TSignalSettings").
  virtual const char *ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject *Sender)>;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftFlag { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
using TShiftState = int; // bit set of TShiftFlag
using TMouseEvent = std::function<void(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject *Sender, TShiftState Shift, int X, int Y)>;

// The failure of an assignment between unrelated classes.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

inline void RaiseAssignError(const TObject *source, const TObject *target) {
  throw EConvertError(std::string("Cannot assign a ") + (source ? source->ClassName() : "nil") + " to a " +
                      target->ClassName());
}
