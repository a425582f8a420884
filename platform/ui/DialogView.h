// DialogView: what a host attaches to a running dialog or property sheet to hear about the model's
// changes. The model calls it after every change it makes; a host refreshes what it shows (the Qt host)
// or writes the transcript (the scripted host). Every call has a do-nothing default.
#pragma once

#include "platform/ui/UiTypes.h"

class CWnd;
class CDialog;

class DialogView {
 public:
  virtual ~DialogView() = default;
  virtual void ControlChanged(CWnd& control) {}
  // Caption, focus or the set of controls changed.
  virtual void DialogChanged(CDialog& dialog) {}
  // A property sheet's page or wizard buttons changed.
  virtual void SheetChanged() {}
  virtual void Ended(INT_PTR result) {}
};
