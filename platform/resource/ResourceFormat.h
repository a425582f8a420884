// The binary interface of the resource library libmarlin3.so ("marlin3.dll"): a string table, dialog
// templates and icons addressed by number. The library is generated at build time from resources/ and
// exports the C functions below; platform/resource reads them through the module layer.
// Geometry is in dialog units, as in a Win32 dialog template: x units are a quarter of the average
// character width, y units an eighth of the character height of the dialog's font.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct M3ResString {
  std::uint32_t id;
  std::uint16_t language;  // Windows language identifier, 1033 for English
  const char* text;        // UTF-8; one-placeholder strings use "%1"
};

enum M3ResControlKind : std::uint16_t {
  M3_PUSHBUTTON = 1,
  M3_DEFPUSHBUTTON,
  M3_CHECKBOX,     // auto check box
  M3_RADIOBUTTON,  // auto radio button; a group starts at a control with M3_GROUP
  M3_EDIT,
  M3_STATIC,  // text label
  M3_GROUPBOX,
  M3_COMBO_DROPDOWN,  // editable drop-down combo box
  M3_COMBO_DROPLIST,  // drop-down list combo box
  M3_LISTBOX,
  M3_SLIDER,
  M3_TREEVIEW,
  M3_ICON,  // static icon; text holds the icon number in decimal
  M3_PROGRESS,
  M3_LISTVIEW,
};

enum M3ResControlStyle : std::uint32_t {
  M3_GROUP = 1u << 0,  // first control of a group (radio groups, tab order)
  M3_TABSTOP = 1u << 1,
  M3_DISABLED = 1u << 2,
  M3_HIDDEN = 1u << 3,
  M3_MULTILINE = 1u << 4,
  M3_PASSWORD = 1u << 5,
  M3_READONLY = 1u << 6,
  M3_NUMBER = 1u << 7,
  M3_SORT = 1u << 8,  // list and combo boxes keep their items sorted
  M3_VSCROLL = 1u << 9,
  M3_HSCROLL = 1u << 10,
  M3_AUTOHSCROLL = 1u << 11,
  M3_CENTER = 1u << 12,
  M3_RIGHT = 1u << 13,
  M3_BORDER = 1u << 14,
  M3_WANTRETURN = 1u << 15,
  M3_NOTIFY = 1u << 16,
  M3_HASBUTTONS = 1u << 17,  // tree view: expand buttons, lines and lines at root
  M3_SHOWSELALWAYS = 1u << 18,
  M3_EDITLABELS = 1u << 19,
  M3_TICKS = 1u << 20,     // slider with tick marks
  M3_NOPREFIX = 1u << 21,  // static: "&" is shown as it is, not as a mnemonic (data texts)
};

struct M3ResControl {
  std::int32_t id;            // -1 for a static that is never addressed (IDC_STATIC)
  std::uint16_t kind;         // M3ResControlKind
  std::uint32_t style;        // M3ResControlStyle bits
  std::int16_t x, y, cx, cy;  // dialog units
  const char* text;           // label, initial text, or icon number
};

enum M3ResDialogKind : std::uint16_t {
  M3_DIALOG = 1,         // modal dialog
  M3_PROPERTY_PAGE = 2,  // page of a property sheet; its caption is the page title
};

struct M3ResDialog {
  std::uint32_t id;
  std::uint16_t kind;   // M3ResDialogKind
  std::int16_t cx, cy;  // dialog units
  const char* caption;
  const char* fontName;
  std::uint16_t fontSize;  // points
  std::uint32_t controlCount;
  const M3ResControl* controls;
};

// A template with its texts in one language (geometry, kinds and numbers as in the English one).
struct M3ResLocalizedDialog {
  std::uint16_t language;  // Windows language identifier
  M3ResDialog dialog;
};

struct M3ResIcon {
  std::uint32_t id;
  const unsigned char* png;
  std::size_t size;
};

// Exported by libmarlin3.so. Each returns a table sorted by id (strings by id, then language) and
// stores its length in *count.
const M3ResString* m3res_strings(std::size_t* count);
const M3ResDialog* m3res_dialogs(std::size_t* count);
const M3ResIcon* m3res_icons(std::size_t* count);
std::uint32_t m3res_format_version();  // 1
// Optional (a library without it holds English templates only): the templates in further languages,
// sorted by template number, then language.
const M3ResLocalizedDialog* m3res_localized_dialogs(std::size_t* count);

}  // extern "C"
