// Noksu: the application.

#include "main.h"
#include "window.h"

// The test suite links this file with a main() of its own.
#ifdef NOKSU_NO_MAIN
wxIMPLEMENT_APP_NO_MAIN(NoksuApp);
#else
wxIMPLEMENT_APP(NoksuApp);
#endif

NoksuApp::NoksuApp() : mainWindow(nullptr)
{
    SetAppName("Noksu");
}

bool NoksuApp::OnInit()
{
    // The toolkit parses its own command line here; --help ends start-up.
    if ( !wxApp::OnInit() )
        return false;

    mainWindow = new Window("Noksu");
    mainWindow->Show(true);
    SetTopWindow(mainWindow);
    return true;
}
