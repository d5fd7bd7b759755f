// Puts the program's Run value back as it was before a test that saves with
// the start-with-Windows switch, and reads it meanwhile.
#pragma once

#include "Main.h"
#include "platform/Registry.h"

#include <string>

namespace zelvo::test {

class RunValueGuard {
public:
    RunValueGuard() : previous_(Current()) {}
    ~RunValueGuard() {
        RunKeyRegistrar registrar;
        if (previous_.empty()) {
            registrar.Unregister(kRunKeyPath, kApplicationTitle);
            return;
        }
        try {
            registrar.Register(kApplicationTitle, previous_);
        } catch (...) {
        }
    }
    RunValueGuard(const RunValueGuard&) = delete;
    RunValueGuard& operator=(const RunValueGuard&) = delete;

    // The data of the program's Run value; empty when there is none.
    static std::string Current() { return RunKeyRegistrar::Read(kRunKeyPath, kApplicationTitle); }

private:
    std::string previous_;
};

}  // namespace zelvo::test
