// QtSheetView: a property sheet in wizard mode shown as a Qt dialog: the active page's widgets above a
// row of Back, Next, Finish and Cancel buttons ("wizard_back", "wizard_next", "wizard_finish",
// "wizard_cancel"), sized for the largest page. Pages are built when first shown and kept.
#pragma once

#include "platform/ui/UiTypes.h"

class CPropertySheet;
class QWidget;

// Runs the sheet modally over parent; returns the sheet's result.
INT_PTR RunQtSheet(CPropertySheet& sheet, QWidget* parent);
