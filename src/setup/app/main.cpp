// Process entry: registers the trace provider around the run.
#include <windows.h>

#include "../trace/trace.h"
#include "run_setup.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD dwDirectoryFlags);

// Libraries loaded by bare name come from the system folder only, never
// from the package folder the elevated program was started from. Older
// systems without this call keep their default search order.
static void RestrictDllSearchToSystemFolder()
{
    SetDefaultDllDirectoriesProc pfnSetDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "SetDefaultDllDirectories")));
    if (pfnSetDefaultDllDirectories != nullptr) {
        pfnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR /*pszCmdLine*/, int /*nCmdShow*/)
{
    RestrictDllSearchToSystemFolder();
    RegisterTraceProvider();
    int nExitCode = RunSetup();
    UnregisterTraceProvider();
    return nExitCode;
}
