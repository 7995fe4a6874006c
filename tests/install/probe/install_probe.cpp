// Walks the INF named by its only argument in a process of its own, so a
// test can start it from a package folder; the exit code is the result
// string ID, or 1 when the walk returned FALSE.
#include "app/dialog_data.h"
#include "install/device_install.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    CDialogData data;
    return InstallDevicesFromInf(&data, argv[1]) ? data.m_nResultId : 1;
}
