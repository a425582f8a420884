#include "ui/PPModify.h"

#include "ui/QsWizard.h"

PPModify::PPModify() : PPChooseQs(IDD, kPageModify, Focus::kList, OnChosen::kLoadValues, __FILE__) {}
