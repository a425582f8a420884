// PPDelete: the wizard page (template 140) that picks the Quick Set to delete from list box 1044 (the
// shared page PPChooseQs). The scratch Quick Set is never listed; a double-click presses Next.
#pragma once

#include "ui/PPChooseQs.h"

class PPDelete : public PPChooseQs {
 public:
  enum { IDD = 140 };
  PPDelete();
};
