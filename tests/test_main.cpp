// Runs the tests inside an initialised toolkit, without an application of
// ours: each test builds the windows it needs.

#include "testing.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/modalhook.h>
#include <wx/timer.h>

namespace
{

// A failed wx assertion would open a dialog that nobody closes.
void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line)
        << "wx assertion in " << func << "(): " << cond << " " << msg;
}

// Cancels any modal dialog that no test expects, so that it cannot hang the
// run, and fails the test that showed it.
class CancelUnexpectedDialogs : public wxModalDialogHook
{
protected:
    int Enter(wxDialog* dialog) override
    {
        ADD_FAILURE() << "unexpected modal dialog \"" << dialog->GetTitle() << "\"";
        return wxID_CANCEL;
    }

    void Exit(wxDialog* WXUNUSED(dialog)) override {}
};

} // anonymous namespace

void destroyWindow(wxWindow* window)
{
    window->Destroy();
    wxTheApp->ProcessIdle();
}

void runEventLoop(int milliseconds)
{
    wxGUIEventLoop loop;
    wxTimer stop;
    stop.Bind(wxEVT_TIMER, [&loop](wxTimerEvent&) { loop.Exit(); });
    stop.StartOnce(milliseconds);
    loop.Run();
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);

    // Listing the tests needs no display.
    if ( testing::GTEST_FLAG(list_tests) )
        return RUN_ALL_TESTS();

    wxApp::SetInstance(new wxApp);
    if ( !wxEntryStart(argc, argv) )
    {
        fprintf(stderr, "cannot initialise the toolkit (no X display?)\n");
        return 2;
    }

    wxSetAssertHandler(failOnAssert);
    CancelUnexpectedDialogs cancelUnexpectedDialogs;
    cancelUnexpectedDialogs.Register();

    // The tests' own log targets see every message; nothing is shown.
    wxLog::SetActiveTarget(new wxLogStderr);

    const int result = RUN_ALL_TESTS();

    cancelUnexpectedDialogs.Unregister();
    wxEntryCleanup();
    return result;
}
