// CWaitCursor: the wait cursor for the life of the object, as the framework's: construction begins one
// level, destruction ends it, Restore shows it again after something (a message box) reset it. The
// levels nest with CWnd::BeginWaitCursor / EndWaitCursor; the cursor is normal at level 0.
#pragma once

#include "platform/ui/UiHost.h"

class CWaitCursor {
 public:
  CWaitCursor() { platform::ui::Host().SetWaitCursor(true); }
  ~CWaitCursor() { platform::ui::Host().SetWaitCursor(false); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

  void Restore() {
    platform::ui::Host().SetWaitCursor(false);
    platform::ui::Host().SetWaitCursor(true);
  }
};
