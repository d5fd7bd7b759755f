#include "platform/Registry.h"

#include <gtest/gtest.h>

namespace {

using zelvo::RunKeyRegistrar;

// A value name of our own so that the program's real entry is never touched.
const std::string kValueName = "Zelvo文件备份软件 registry test";

class RunKeyRegistrarTest : public ::testing::Test {
protected:
    void TearDown() override { registrar.Unregister(zelvo::kRunKeyPath, kValueName); }
    RunKeyRegistrar registrar;
};

TEST_F(RunKeyRegistrarTest, RegisterWritesStringValueAndUnregisterRemovesIt) {
    const std::string command = "\"C:\\Program Files\\Zelvo\\ZelvoBackup.exe\"";
    registrar.Register(kValueName, command);
    EXPECT_EQ(RunKeyRegistrar::Read(zelvo::kRunKeyPath, kValueName), command);

    // Registering again (the program was moved) replaces the data.
    registrar.Register(kValueName, "C:\\Zelvo\\ZelvoBackup.exe");
    EXPECT_EQ(RunKeyRegistrar::Read(zelvo::kRunKeyPath, kValueName), "C:\\Zelvo\\ZelvoBackup.exe");

    registrar.Unregister(zelvo::kRunKeyPath, kValueName);
    EXPECT_EQ(RunKeyRegistrar::Read(zelvo::kRunKeyPath, kValueName), "");
}

TEST_F(RunKeyRegistrarTest, UnregisterOfMissingValueOrKeyIsSilent) {
    EXPECT_NO_THROW(registrar.Unregister(zelvo::kRunKeyPath, kValueName));
    EXPECT_NO_THROW(registrar.Unregister("Software\\Zelvo test key that is not there", kValueName));
}

TEST_F(RunKeyRegistrarTest, ValueDataKeepsGbkBytes) {
    const std::string command = "D:\\备份工具\\ZelvoBackup.exe";
    registrar.Register(kValueName, command);
    EXPECT_EQ(RunKeyRegistrar::Read(zelvo::kRunKeyPath, kValueName), command);
}

}  // namespace
