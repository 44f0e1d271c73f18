#pragma once
// The instrument editor's field parts, for its tabs in files of their own: a numeric field with
// the design settings of the analog-meter tab's fields, and a bold field label.
#include "instruments/AnNumEdit.h"

class QLabel;
class QWidget;

TAnNumEdit *EditorNumEdit(const char *name, TEditBase base, QWidget *parent);
QLabel *EditorFieldLabel(const char *name, const char *caption, QWidget *parent);
