// PPModify: the wizard page (template 141) that picks the Quick Set to change from list box 1044 (the
// shared page PPChooseQs) and loads its values. The scratch Quick Set is never listed; a double-click
// presses Next.
#pragma once

#include "ui/PPChooseQs.h"

class PPModify : public PPChooseQs {
 public:
  enum { IDD = 141 };
  PPModify();
};
