#pragma once

// A dialog described as a table, the way a resource template describes it:
// each control with its id, kind, text, rectangle in dialog units and style,
// in template order, which is also the tab order. BuildDialogControls makes
// the widgets from it; the windows then only connect handlers.

#include <QHash>
#include <QWidget>
#include <span>

#include "desktop/dialog_units.h"

namespace vaultwick {

enum class ControlKind { GroupBox, Label, ListBox, Button, Edit, ComboBox, Picture };

// Style bits a control may carry.
enum ControlStyle : unsigned {
  kStyleNone = 0,
  kStyleDisabled = 1u << 0,        // created disabled
  kStylePassword = 1u << 1,        // characters hidden
  kStyleDigitsOnly = 1u << 2,      // only the digits 0 to 9 can be typed
  kStyleMiddleEllipsis = 1u << 3,  // a text too long is shortened in its middle
};

struct DialogControl {
  int id;  // 0 for a label or group box that nothing refers to
  ControlKind kind;
  const char* text;
  DialogRect rect;
  unsigned style;
};

struct DialogTemplate {
  const char* title;
  int width;  // client area, dialog units
  int height;
  std::span<const DialogControl> controls;
};

// The widgets of one dialog by control id.
using DialogControls = QHash<int, QWidget*>;

// Creates every control of `dialogTemplate` as a child of `dialog`, at its
// rectangle converted with `units`, named by its id ("1005"), and chains the
// controls that take the focus in template order. Group boxes lie under the
// controls they frame and never take a mouse press meant for them. Pictures
// are left to the caller (they are made as empty labels). Sets the dialog's
// fixed client size and title.
DialogControls BuildDialogControls(QWidget* dialog, const DialogTemplate& dialogTemplate,
                                   const DialogUnits& units);

}  // namespace vaultwick
