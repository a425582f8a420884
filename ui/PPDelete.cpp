#include "ui/PPDelete.h"

#include "ui/QsWizard.h"

PPDelete::PPDelete() : PPChooseQs(IDD, kPageDelete, Focus::kDialogDefault, OnChosen::kKeepValues, __FILE__) {}
