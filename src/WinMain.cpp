// The program's entry: the application object, the main window, the loop.
#include "About.h"
#include "Main.h"
#include "platform/Application.h"
#include "platform/CommonControls.h"
#include "platform/SystemLibrary.h"

#include <windows.h>
#include <ole2.h>

namespace {

// The folder dialog's shell tree needs OLE on this thread: its context menus
// reach the clipboard and run shell extensions.
class OleScope {
public:
    OleScope() : initialized_(SUCCEEDED(::OleInitialize(nullptr))) {}
    ~OleScope() {
        if (initialized_) ::OleUninitialize();
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;

private:
    bool initialized_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything can load a DLL by name.
    zelvo::ui::RestrictDllSearch();
    zelvo::ui::comctl32::Load();
    const OleScope ole;
    zelvo::ui::Application& app = zelvo::ui::Application::Instance();
    app.SetTitle(zelvo::kApplicationTitle);
    app.Initialize();
    zelvo::TMainForm mainForm;
    app.SetMainForm(&mainForm);
    zelvo::TAboutBox aboutBox;
    return app.Run();
}
