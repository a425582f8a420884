#include "platform/ui/MessageBox.h"

#include "platform/ui/UiHost.h"

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
  // A null caption is "Error", as on Windows.
  return platform::ui::Host().MessageBox(owner, text != nullptr ? text : "",
                                         caption != nullptr ? caption : "Error", type);
}
