#include "platform/Reporter.h"

#include "core/Failure.h"
#include "platform/Application.h"
#include "platform/InformationBox.h"

namespace zelvo::ui {

namespace {
SystemReporter systemReporter;
Reporter* current = &systemReporter;
}  // namespace

void SystemReporter::ShowError(const std::string& message) {
    Application& app = Application::Instance();
    app.Initialize();
    HWND owner = ::GetActiveWindow();
    if (!owner) owner = app.Handle();
    // The box disables its owner itself and enables it again before it goes,
    // so activation returns there.
    TaskWindowsDisabled others(owner);
    ::MessageBoxA(owner, ErrorBoxText(message).c_str(), app.Title().c_str(), MB_ICONERROR | MB_OK);
}

void SystemReporter::ShowInformation(const std::string& text) { InformationBox::Show(text); }

Reporter& CurrentReporter() { return *current; }

ScopedReporter::ScopedReporter(Reporter& reporter) : previous_(current) { current = &reporter; }

ScopedReporter::~ScopedReporter() { current = previous_; }

}  // namespace zelvo::ui
