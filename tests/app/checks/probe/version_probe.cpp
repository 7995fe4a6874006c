// Reports how CheckOsVersion classifies the Windows version this process
// sees. The version is fixed at process start, so the tests start this
// program under each version: it writes the result on the first line and
// then one trace event per line to the file named by its only argument.
#include <stdio.h>

#include "app/checks.h"
#include "support/trace_recorder.h"
#include "trace/trace.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    CTraceRecorder recorder;
    RegisterTraceProvider();
    recorder.Enable(TRACE_ERROR | TRACE_FLOW, 0, 1);
    int nResult = CheckOsVersion();
    UnregisterTraceProvider();

    FILE* pFile = fopen(argv[1], "w");
    if (pFile == nullptr) {
        return 3;
    }
    fprintf(pFile, "%d\n", nResult);
    for (const std::string& line : DescribeEvents(recorder.Events())) {
        fprintf(pFile, "%s\n", line.c_str());
    }
    return fclose(pFile) == 0 ? 0 : 3;
}
