// The program started with a stand-in DLL planted beside it and in its
// current directory, under the name of every DLL it uses that Windows does
// not protect as a known DLL: the stand-in never runs, and the program
// starts. Run by run_planted_test.cmake, which names the DLLs.
#include "Main.h"
#include "SelDir.h"
#include "e2e/ProgramDriver.h"
#include "platform/CommonControls.h"
#include "platform/SystemLibrary.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using e2e::WaitFor;
using test::ScratchDir;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class PlantedDllProgramTest : public e2e::ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        const char* dll = std::getenv("ZELVO_PLANTED_DLL");
        ASSERT_NE(dll, nullptr) << "ZELVO_PLANTED_DLL is not set";
        planted = e2e::WindowsPath(dll);
    }

    // The file names a search by name would look for beside the program, as
    // run_planted_test.cmake found them in the program's import table.
    static std::vector<std::string> ExposedNames() {
        std::vector<std::string> names;
        const std::string list = Lower(Environment("ZELVO_EXPOSED_DLLS")) + ",";
        for (std::size_t at = 0, comma; (comma = list.find(',', at)) != std::string::npos; at = comma + 1) {
            if (comma > at) names.push_back(list.substr(at, comma - at));
        }
        return names;
    }

    // The markers the stand-in left in a folder.
    static std::string Markers(const std::string& dir) {
        std::string found;
        for (const std::string& name : ScratchDir::List(dir)) {
            if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".ran") found += name + " ";
        }
        return found;
    }

    std::string planted;
};

TEST_F(PlantedDllProgramTest, TheStandInLeavesItsMarkerWhenLoaded) {
    const std::string copy = scratch / "stand-in.dll";
    ASSERT_TRUE(::CopyFileA(planted.c_str(), copy.c_str(), FALSE));
    const HMODULE module = ::LoadLibraryA(copy.c_str());
    ASSERT_NE(module, nullptr);
    ::FreeLibrary(module);
    EXPECT_EQ(Markers(scratch.Path()), "stand-in.dll.ran ");
}

TEST_F(PlantedDllProgramTest, NoDllBesideTheProgramOrInItsCurrentDirectoryRuns) {
    const std::vector<std::string> names = ExposedNames();
    ASSERT_FALSE(names.empty()) << "ZELVO_EXPOSED_DLLS is not set";
    EXPECT_NE(std::find(names.begin(), names.end(), ui::comctl32::kFileName), names.end());
    // Windows looks beside the program first for DLLs that are not known
    // DLLs; "n,b" makes Wine prefer such a copy over its builtin as well.
    const std::string overrides = ";" + Lower(Environment("WINEDLLOVERRIDES")) + ";";
    workingDir = scratch / "当前目录";
    ASSERT_TRUE(::CreateDirectoryA(workingDir.c_str(), nullptr));
    for (const std::string& name : names) {
        const std::string base = name.substr(0, name.rfind(".dll"));
        EXPECT_NE(overrides.find(";" + base + "=n,b;"), std::string::npos) << "WINEDLLOVERRIDES lacks " << base;
        for (const std::string& dir : {folder, workingDir}) {
            ASSERT_TRUE(::CopyFileA(planted.c_str(), (dir + "\\" + name).c_str(), FALSE)) << dir << " " << name;
        }
    }

    Start();
    ASSERT_NE(main, nullptr) << "no main window; markers: " << Markers(folder) << Markers(workingDir);
    EXPECT_TRUE(::IsWindowVisible(main));
    // Later loads too: the folder dialog's shell tree draws the shell's icons
    // through comctl32's image lists.
    const HWND ellipsis = ::FindWindowExA(Control(TMainForm::kSourceEditId), nullptr, "Button", nullptr);
    ASSERT_NE(ellipsis, nullptr);
    ::PostMessageA(ellipsis, BM_CLICK, 0, 0);
    HWND picker = nullptr;
    EXPECT_TRUE(WaitFor([&] {
        picker = FindOwn(TSelDirForm::kClassName);
        return picker && ::IsWindowVisible(picker);
    }, 15000));
    if (picker) ::PostMessageA(picker, WM_CLOSE, 0, 0);

    EXPECT_EQ(Markers(folder), "") << "a DLL beside the program ran";
    EXPECT_EQ(Markers(workingDir), "") << "a DLL in the current directory ran";
    EXPECT_TRUE(WaitFor([&] { return FindOwn(TSelDirForm::kClassName) == nullptr; }, 10000));
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

// Last: the restriction stays for the rest of this process.
TEST_F(PlantedDllProgramTest, RestrictedSearchByNameLeavesTheCurrentDirectoryOut) {
    const std::string name = "zelvo-stand-in.dll";
    ASSERT_TRUE(::CopyFileA(planted.c_str(), (scratch / name).c_str(), FALSE));
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(scratch.Path().c_str()));

    HMODULE module = ::LoadLibraryA(name.c_str());
    EXPECT_NE(module, nullptr) << "the current directory is not searched even before";
    if (module) ::FreeLibrary(module);
    EXPECT_TRUE(ui::RestrictDllSearch()) << "no SetDefaultDllDirectories";
    module = ::LoadLibraryA(name.c_str());
    EXPECT_EQ(module, nullptr);
    if (module) ::FreeLibrary(module);
    // The system directory is still searched.
    module = ::LoadLibraryA("version.dll");
    EXPECT_NE(module, nullptr);
    if (module) ::FreeLibrary(module);
    ::SetCurrentDirectoryA(previous);
}

}  // namespace
}  // namespace zelvo
