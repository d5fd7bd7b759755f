// The program started with a stand-in DLL planted beside it and in its
// current directory, under the name of every DLL it uses that Windows does
// not protect as a known DLL: the stand-in never runs, and the program
// starts; nor does one that a planted manifest redirects to. Run by
// run_planted_test.cmake, which names the DLLs.
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

// An activation context made from a manifest beside a program, as a planted
// manifest would make one: it redirects a DLL name to a private assembly in
// that folder. A load of a side-by-side DLL follows only redirections into
// the system's store, so the DLL there never runs.
TEST_F(PlantedDllProgramTest, ARedirectionToAnAssemblyBesideTheProgramIsNotFollowed) {
    const std::string dir = scratch / "private";
    ASSERT_TRUE(::CreateDirectoryA(dir.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileA(planted.c_str(), (dir + "\\zelvo-private.dll").c_str(), FALSE));
    const std::string identity =
        std::string(R"(<assemblyIdentity type="win32" name="Zelvo.Private" version="1.0.0.0" )") +
        "processorArchitecture=\"" + (sizeof(void*) == 8 ? "amd64" : "x86") + "\"/>";
    const std::string head = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                             R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)";
    ASSERT_TRUE(test::WriteFileBytes(dir + "\\Zelvo.Private.manifest",
                                     head + identity + R"(<file name="zelvo-private.dll"/></assembly>)"));
    ASSERT_TRUE(test::WriteFileBytes(
        dir + "\\program.manifest",
        head + "<dependency><dependentAssembly>" + identity + "</dependentAssembly></dependency></assembly>"));

    ACTCTXA request{};
    request.cbSize = sizeof request;
    const std::string manifest = dir + "\\program.manifest";
    request.lpSource = manifest.c_str();
    struct ContextTraits {
        using Type = HANDLE;
        static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
        static bool Close(Type h) noexcept {
            ::ReleaseActCtx(h);
            return true;
        }
    };
    const ScopedHandle<ContextTraits> context(::CreateActCtxA(&request));
    ASSERT_TRUE(context) << ::GetLastError();
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(::ActivateActCtx(context.Get(), &cookie));
    ACTCTX_SECTION_KEYED_DATA found{};
    found.cbSize = sizeof found;
    const bool redirected = ::FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                                       "zelvo-private.dll", &found) != FALSE;
    const bool loaded = ui::LoadSideBySideLibrary("zelvo-private.dll").Valid();
    ::DeactivateActCtx(0, cookie);
    EXPECT_TRUE(redirected) << "the planted manifest redirects nothing";
    EXPECT_FALSE(loaded);
    EXPECT_EQ(Markers(dir), "");
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
