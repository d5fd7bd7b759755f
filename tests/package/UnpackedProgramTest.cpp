// The program as a Windows user unpacks it from the release archive: started
// in the folder it was unpacked into, beside the guide, it shows its main window.
#include "Main.h"
#include "e2e/ProgramDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using e2e::ProgramTest;
using test::ScratchDir;

class UnpackedProgramTest : public ProgramTest {};

TEST_F(UnpackedProgramTest, StartsWhereItWasUnpacked) {
    const char* unpacked = std::getenv("ZELVO_UNPACKED");
    ASSERT_NE(unpacked, nullptr) << "ZELVO_UNPACKED is not set";
    folder = e2e::WindowsPath(unpacked);
    program = folder + "\\ZelvoBackup.exe";
    std::vector<std::string> names = ScratchDir::List(folder);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ZelvoBackup.exe", "使用说明.txt"}));

    Start();
    ASSERT_NE(main, nullptr) << "no main window";
    EXPECT_TRUE(::IsWindowVisible(main));
    EXPECT_EQ(e2e::Text(main), kApplicationTitle);
    ::PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsWithin(10000));
}

}  // namespace
}  // namespace zelvo
