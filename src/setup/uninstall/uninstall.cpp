// Uninstall sequence and the installed check.
#include "../app/dialog_data.h"

// PLACEHOLDER: the uninstall sequence is not built yet. It makes its four
// progress steps and succeeds without touching the machine.
int CDialogData::Uninstall(int /*bShowMessage*/, int /*bDeleteEntry*/)
{
    for (int i = 0; i < 4; ++i) {
        StepProgress();
    }
    return 1;
}

// PLACEHOLDER: the installed check is not built yet; it reports "not
// installed".
int IsDriverInstalled()
{
    return 0;
}
