// Noksu: the application.

#ifndef NOKSU_MAIN_H
#define NOKSU_MAIN_H

#include <wx/app.h>

class Window;

class NoksuApp : public wxApp
{
public:
    NoksuApp();

    bool OnInit() override;

private:
    // Owned by the toolkit, which deletes it once it is closed.
    Window* mainWindow;
};

wxDECLARE_APP(NoksuApp);

#endif // NOKSU_MAIN_H
