// Types and constants of the ui layer in their Win32 shape: notification codes, show and expand
// commands, wizard buttons and results, list-box errors and file-dialog flags. Callers: the control
// model, the hosts and the system's dialogs. Values are the winuser.h/commctrl.h ones where they exist.
#pragma once

#include <cstdint>

#include "platform/base/WinTypes.h"
#include "platform/ui/MessageBox.h"

using INT_PTR = std::intptr_t;
using LRESULT = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using LPARAM = std::intptr_t;

// An icon: one of the resource library's icons (LoadIcon), or a stock icon (IDI_*) without image data,
// which a host draws from its desktop's theme.
struct M3ResIcon;
using HICON = const M3ResIcon*;
enum : UINT {
  IDI_APPLICATION = 32512,
  IDI_ERROR = 32513,
  IDI_QUESTION = 32514,
  IDI_WARNING = 32515,
  IDI_INFORMATION = 32516,
};

struct TreeItem;
using HTREEITEM = TreeItem*;

// Notification codes sent to the dialog with the control id.
enum : UINT {
  BN_CLICKED = 0,
  BN_DOUBLECLICKED = 5,
  EN_CHANGE = 0x300,
  LBN_SELCHANGE = 1,
  LBN_DBLCLK = 2,
  CBN_SELCHANGE = 1,
  CBN_DBLCLK = 2,
  CBN_EDITCHANGE = 5,
  SLN_POSCHANGED = 0x1000,  // slider moved by the user (Win32 sends WM_HSCROLL)
  TVN_SELCHANGED = 0x1002,
  TVN_ITEMEXPANDED = 0x1003,
};

enum : int { SW_HIDE = 0, SW_SHOW = 5 };

enum : int { LB_ERR = -1, CB_ERR = -1, LB_OKAY = 0 };

// Tree view.
enum : UINT {
  TVE_COLLAPSE = 0x1,
  TVE_EXPAND = 0x2,
  TVE_TOGGLE = 0x3,
  TVE_COLLAPSERESET = 0x8000,
  TVIS_SELECTED = 0x2,
  TVIS_EXPANDED = 0x20,
  TVIS_EXPANDEDONCE = 0x40,
  TVSIL_NORMAL = 0,
  TVS_EDITLABELS = 0x8,
};
inline HTREEITEM const TVI_ROOT = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x10000));
inline HTREEITEM const TVI_FIRST = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x0FFFF));
inline HTREEITEM const TVI_LAST = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x0FFFE));
inline HTREEITEM const TVI_SORT = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x0FFFD));

// Property sheet in wizard mode.
enum : DWORD {
  PSWIZB_BACK = 0x1,
  PSWIZB_NEXT = 0x2,
  PSWIZB_FINISH = 0x4,
  PSWIZB_DISABLEDFINISH = 0x8,
};
enum : int { PSBTN_BACK = 0, PSBTN_NEXT = 1, PSBTN_FINISH = 2, PSBTN_CANCEL = 5 };
enum : int { ID_WIZBACK = 12323, ID_WIZNEXT = 12324, ID_WIZFINISH = 12325 };

// File dialogs.
enum : DWORD {
  OFN_READONLY = 0x1,
  OFN_OVERWRITEPROMPT = 0x2,
  OFN_HIDEREADONLY = 0x4,
  OFN_NOCHANGEDIR = 0x8,
  OFN_PATHMUSTEXIST = 0x800,
  OFN_FILEMUSTEXIST = 0x1000,
  OFN_EXPLORER = 0x80000,
};

// Tool tips ask for at most this many characters, terminator included.
inline constexpr int kToolTipBufferSize = 80;
