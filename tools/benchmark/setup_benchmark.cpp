// Times the uninstaller's scans against the plain cost of what they touch:
// the INF scan over a generated INF folder shaped like a real one, against
// a plain sequential read of the same files; and the device removal with
// 20 and with 200 devices of the service present.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/test_devices.h"
#include "uninstall/devices.h"
#include "uninstall/inf_piece_reader.h"
#include "uninstall/package_cleanup.h"

namespace {

const char SUFFIX[] = "\\temp\\infbench";
const int ROUNDS = 9;

double Seconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / frequency.QuadPart;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string InfFolder()
{
    char szWindows[MAX_PATH] = "";
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    return std::string(szWindows) + SUFFIX;
}

// INF-like text of about nBytes: sections, services of other drivers,
// registry lines, comments and now and then a line longer than 259 bytes.
std::string MakeInfText(std::mt19937& random, size_t nBytes)
{
    std::string text;
    while (text.size() < nBytes) {
        unsigned nKind = random() % 20;
        unsigned nValue = random() % 100000;
        char szLine[400] = "";
        if (nKind == 0) {
            snprintf(szLine, sizeof(szLine), "[Section%u.Services]\r\n", nValue);
        } else if (nKind == 1) {
            snprintf(szLine, sizeof(szLine), "AddService = driver%u, 0x00000002, driver%u_Service_Inst\r\n", nValue,
                     nValue);
        } else if (nKind == 2) {
            snprintf(szLine, sizeof(szLine), "; %u %s\r\n", nValue, std::string(280, 'c').c_str());
        } else {
            snprintf(szLine, sizeof(szLine), "HKR,,\"Value%u\",0x00010001,%u ; device setting\r\n", nValue, nKind);
        }
        text += szLine;
    }
    return text;
}

// About 2,000 files and 100 MB; six of them 6 MB.
bool MakeInfFolder(const std::string& folder, size_t* pnFiles, size_t* pnBytes)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    std::mt19937 random(1234);
    *pnFiles = 0;
    *pnBytes = 0;
    for (int nFile = 0; nFile < 2000; ++nFile) {
        size_t nSize = nFile < 6 ? 6 * 1024 * 1024 : 2000 + random() % 64000;
        std::string text = MakeInfText(random, nSize);
        std::string path = folder + "\\oem" + std::to_string(nFile) + ".inf";
        HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD dwWritten = 0;
        bool bWritten = hFile != INVALID_HANDLE_VALUE &&
                        WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &dwWritten, nullptr);
        CloseHandle(hFile);
        if (!bWritten) {
            return false;
        }
        ++*pnFiles;
        *pnBytes += text.size();
    }
    return true;
}

// What any scan of the folder must at least do: list it and read every file.
void ReadFolderPlainly(const std::string& folder)
{
    static std::vector<char> buffer(64 * 1024);
    WIN32_FIND_DATAA found = {};
    HANDLE hFind = FindFirstFileA((folder + "\\*.inf").c_str(), &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found)) {
        std::string path = folder + "\\" + found.cFileName;
        HANDLE hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD dwRead = 0;
        while (ReadFile(hFile, buffer.data(), static_cast<DWORD>(buffer.size()), &dwRead, nullptr) && dwRead > 0) {
        }
        CloseHandle(hFile);
    }
    FindClose(hFind);
}

// The floor of any scan in 259-byte text-mode pieces: fgets alone.
void ReadFolderInPieces(const std::string& folder)
{
    WIN32_FIND_DATAA found = {};
    HANDLE hFind = FindFirstFileA((folder + "\\*.inf").c_str(), &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found)) {
        FILE* pFile = fopen((folder + "\\" + found.cFileName).c_str(), "r");
        char szPiece[260];
        setvbuf(pFile, nullptr, _IOFBF, 64 * 1024);
        while (fgets(szPiece, sizeof(szPiece), pFile) != nullptr) {
        }
        fclose(pFile);
    }
    FindClose(hFind);
}

// Binary-mode stdio reading in 64 KB blocks, with no text-mode translation.
void ReadFolderInBinaryBlocks(const std::string& folder)
{
    static std::vector<char> block(64 * 1024);
    WIN32_FIND_DATAA found = {};
    HANDLE hFind = FindFirstFileA((folder + "\\*.inf").c_str(), &found);
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found)) {
        FILE* pFile = fopen((folder + "\\" + found.cFileName).c_str(), "rb");
        while (fread(block.data(), 1, block.size(), pFile) > 0) {
        }
        fclose(pFile);
    }
    FindClose(hFind);
}

// The scan's own reading: 259-byte pieces from binary-mode blocks.
void ReadFolderWithPieceReader(const std::string& folder)
{
    WIN32_FIND_DATAA found = {};
    HANDLE hFind = FindFirstFileA((folder + "\\*.inf").c_str(), &found);
    CInfPieceReader reader(64 * 1024);
    char szPiece[260];
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found)) {
        reader.Open((folder + "\\" + found.cFileName).c_str());
        while (reader.ReadPiece(szPiece, sizeof(szPiece)) != 0) {
        }
    }
    FindClose(hFind);
}

void ScanFolder(const std::string&)
{
    DeleteOemInfByService("QZVRCOM", SUFFIX);
}

// Each measure in turn, ROUNDS times; the median and the best of each, and
// their ratio to the plain read. Other load on the machine slows single
// rounds: the best round is the least disturbed one.
void BenchmarkInfScan()
{
    struct Measure {
        const char* pszLabel;
        void (*pfnRun)(const std::string&);
        std::vector<double> times;
    } measures[] = {
        {"plain sequential read", ReadFolderPlainly, {}},
        {"DeleteOemInfByService", ScanFolder, {}},
        {"text-mode fgets pieces alone", ReadFolderInPieces, {}},
        {"binary-mode fread blocks alone", ReadFolderInBinaryBlocks, {}},
        {"piece reader alone", ReadFolderWithPieceReader, {}},
    };
    std::string folder = InfFolder();
    size_t nFiles = 0, nBytes = 0;
    if (!MakeInfFolder(folder, &nFiles, &nBytes)) {
        printf("INF folder could not be written\n");
        return;
    }
    ReadFolderPlainly(folder); // warm the file cache
    for (int i = 0; i < ROUNDS; ++i) {
        for (Measure& measure : measures) {
            double dStart = Seconds();
            measure.pfnRun(folder);
            measure.times.push_back(Seconds() - dStart);
        }
    }
    printf("INF folder: %zu files, %.1f MB; %d rounds\n", nFiles, nBytes / 1048576.0, ROUNDS);
    double dReadMedian = Median(measures[0].times);
    double dReadBest = *std::min_element(measures[0].times.begin(), measures[0].times.end());
    for (const Measure& measure : measures) {
        double dMedian = Median(measure.times);
        double dBest = *std::min_element(measure.times.begin(), measure.times.end());
        printf("%s: median %.3f s (ratio %.2f), best %.3f s (ratio %.2f)\n", measure.pszLabel, dMedian,
               dMedian / dReadMedian, dBest, dBest / dReadBest);
    }
}

void BenchmarkDeviceRemoval(int nDevices)
{
    std::vector<double> times;
    for (int i = 0; i < ROUNDS; ++i) {
        std::vector<std::unique_ptr<CTestDevice>> devices;
        for (int n = 0; n < nDevices; ++n) {
            devices.emplace_back(new CTestDevice("qzbench"));
        }
        int bRebootRequired = 0;
        double dStart = Seconds();
        RemoveDevicesByService("QZBENCH", &bRebootRequired);
        times.push_back(Seconds() - dStart);
        if (devices.back()->IsPresent()) {
            printf("a device was not removed\n");
        }
    }
    double dTime = Median(times);
    printf("RemoveDevicesByService, %d devices: %.3f s (%.2f ms a device, median of %d)\n", nDevices, dTime,
           dTime * 1000 / nDevices, ROUNDS);
}

} // namespace

int main()
{
    BenchmarkInfScan();
    BenchmarkDeviceRemoval(20);
    BenchmarkDeviceRemoval(200);
    return 0;
}
