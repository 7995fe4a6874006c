// Install sequence.
#include "../app/dialog_data.h"

// PLACEHOLDER: the install sequence is not built yet. It makes its four
// progress steps and succeeds without touching the machine.
int CDialogData::Install()
{
    for (int i = 0; i < 4; ++i) {
        StepProgress();
    }
    return 0;
}
