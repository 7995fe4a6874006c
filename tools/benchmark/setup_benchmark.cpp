// Times the uninstaller's scans against the plain cost of what they touch:
// the INF scan over a generated INF folder shaped like a real one, against
// a plain sequential read of the same files; and the device removal with
// 20 and with 200 devices of the service present.
#include <windows.h>

#include <algorithm>
#include <cctype>
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

// A service of another driver, its name in one of the letter cases INF
// files use; never the benchmark's own service.
std::string MakeServiceName(std::mt19937& random)
{
    static const char* const PARTS[] = {"Net", "Usb", "Hid", "Stor", "Pci", "Wlan", "Aud", "Bt", "Vid", "Kbd"};
    std::string name = std::string(PARTS[random() % 10]) + PARTS[random() % 10] + std::to_string(random() % 100);
    unsigned nCase = random() % 3;
    for (char& ch : name) {
        ch = nCase == 0 ? static_cast<char>(toupper(ch)) : nCase == 1 ? static_cast<char>(tolower(ch)) : ch;
    }
    return name;
}

// A services section adding another driver's service, and its service
// section; the keyword also in the letter cases INF files use.
std::string MakeServiceSections(std::mt19937& random)
{
    static const char* const KEYWORDS[] = {"AddService", "ADDSERVICE", "Addservice"};
    std::string name = MakeServiceName(random), number = std::to_string(random() % 100000);
    return "\r\n[Install" + number + ".NT.Services]\r\n" + KEYWORDS[random() % 3] + " = " + name +
           ", 0x00000002, Service" + number + "\r\n\r\n[Service" + number + "]\r\nDisplayName = %" + name +
           ".SvcDesc%\r\nServiceType = 1\r\nStartType = 3\r\nServiceBinary = %12%\\" + name + ".sys\r\n";
}

// One line of an INF body: the install and service sections of a model
// (with services only when bServices), registry lines and comments.
std::string MakeBodyLine(std::mt19937& random, bool bServices)
{
    unsigned nKind = random() % 40, nValue = random() % 100000;
    char szLine[200] = "";
    if (nKind == 0) {
        snprintf(szLine, sizeof(szLine), "\r\n[Install%u.NT]\r\nAddReg = Install%u.AddReg\r\nCopyFiles = Files%u\r\n",
                 nValue, nValue, nValue);
    } else if (nKind == 1 && bServices) {
        return MakeServiceSections(random);
    } else if (nKind < 5) {
        snprintf(szLine, sizeof(szLine), "; Parameter %u: its default, range and adapters\r\n", nValue);
    } else {
        snprintf(szLine, sizeof(szLine), "HKR, Ndi\\params\\Param%u, ParamDesc, 0, %%Param%u.Desc%%\r\n", nValue,
                 nValue);
    }
    return szLine;
}

// INF text of about nBytes: a long comment block, version and model
// sections, a body of install sections, and a [Strings] section that fills
// the last third.
std::string MakeInfText(std::mt19937& random, size_t nBytes)
{
    std::string text;
    for (unsigned nLine = 20 + random() % 60; nLine > 0; --nLine) {
        text += "; Copyright notice, licence terms and the history of this driver package, line by line\r\n";
    }
    text += "\r\n[Version]\r\nSignature = \"$WINDOWS NT$\"\r\nClass = Net\r\nProvider = %Mfg%\r\n"
            "\r\n[Manufacturer]\r\n%Mfg% = Models, NTamd64\r\n\r\n[Models.NTamd64]\r\n";
    bool bServices = random() % 5 != 0;
    text += bServices ? MakeServiceSections(random) : "";
    while (text.size() < nBytes * 2 / 3) {
        text += MakeBodyLine(random, bServices);
    }
    text += "\r\n[Strings]\r\n";
    while (text.size() < nBytes) {
        unsigned nValue = random() % 100000;
        text += "Param" + std::to_string(nValue) + ".Desc = \"Localized description of setting " +
                std::to_string(nValue) + " as the user sees it\"\r\n";
    }
    return text;
}

// UTF-16 little-endian with a byte-order mark, as current Windows stores
// many of its own INF files.
std::string ToUtf16(const std::string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char ch : text) {
        bytes += ch;
        bytes += '\0';
    }
    return bytes;
}

// About 2,000 files and 100 MB, six of them 6 MB; a third in UTF-16.
bool MakeInfFolder(const std::string& folder, size_t* pnFiles, size_t* pnBytes)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    std::mt19937 random(1234);
    *pnFiles = 0;
    *pnBytes = 0;
    for (int nFile = 0; nFile < 2000; ++nFile) {
        size_t nSize = nFile < 6 ? 6 * 1024 * 1024 : 2000 + random() % 64000;
        bool bUtf16 = nFile % 3 == 1;
        std::string text = bUtf16 ? ToUtf16(MakeInfText(random, nSize / 2)) : MakeInfText(random, nSize);
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

// The scan's own reading: the keyword searched in binary-mode blocks, and
// the 259-byte line heads that hold it.
void ReadFolderWithPieceReader(const std::string& folder)
{
    WIN32_FIND_DATAA found = {};
    HANDLE hFind = FindFirstFileA((folder + "\\*.inf").c_str(), &found);
    CInfPieceReader reader(64 * 1024);
    char szHead[260];
    for (BOOL bMore = hFind != INVALID_HANDLE_VALUE; bMore; bMore = FindNextFileA(hFind, &found)) {
        reader.Open((folder + "\\" + found.cFileName).c_str());
        while (reader.ReadLineHead(szHead, sizeof(szHead), "ADDSERVICE")) {
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
        {"keyword line heads alone", ReadFolderWithPieceReader, {}},
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
