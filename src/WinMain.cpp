// The program's entry: the application object, the main window, the loop.
#include "About.h"
#include "Main.h"
#include "platform/Application.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    zelvo::ui::Application& app = zelvo::ui::Application::Instance();
    app.SetTitle(zelvo::kApplicationTitle);
    app.Initialize();
    zelvo::TMainForm mainForm;
    app.SetMainForm(&mainForm);
    zelvo::TAboutBox aboutBox;
    return app.Run();
}
