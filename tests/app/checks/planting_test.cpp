// DLL planting: a cfgmgr32.dll in the package folder, which is both the
// folder of setup.exe and its working directory, must never be loaded.
#include <gtest/gtest.h>

#include "checks_bench.h"
#include "machine_state.h"

namespace {

TEST(DllPlantingTest, LibraryInThePackageFolderIsNeverLoaded)
{
    // Native first: with its default order Wine would take its builtin even
    // for a cfgmgr32.dll found in the package folder, and a search that
    // reaches that folder would go unnoticed.
    CRegistryValueKeeper override(HKEY_CURRENT_USER, WINE_KEY "\\DllOverrides", "cfgmgr32");
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, WINE_KEY "\\DllOverrides", "cfgmgr32", "native,builtin"));

    CScratchFolder package("checks_package");
    std::string program = package.Path() + "setup.exe";
    std::string planted = package.Path() + "cfgmgr32.dll";
    std::string marker = package.Path() + "planted.marker";
    ASSERT_TRUE(CopyFileA(SetupPath().c_str(), program.c_str(), FALSE));
    for (const std::string& name : ListFiles(PackageFolder() + ".")) {
        ASSERT_TRUE(CopyFileA((PackageFolder() + name).c_str(), (package.Path() + name).c_str(), FALSE));
    }
    ASSERT_TRUE(CopyFileA((BinaryFolder() + "checks_standins\\planted\\cfgmgr32.dll").c_str(), planted.c_str(), FALSE));

    EXPECT_TRUE(ShowsInstallDialog("", program.c_str(), package.Path().c_str()));
    EXPECT_FALSE(DoesFileExist(marker.c_str())) << "setup.exe loaded " << planted;

    // The planted library does leave its marker when something loads it.
    HMODULE hPlanted = LoadLibraryA(planted.c_str());
    ASSERT_NE(nullptr, hPlanted);
    FreeLibrary(hPlanted);
    EXPECT_TRUE(DoesFileExist(marker.c_str()));
}

} // namespace
