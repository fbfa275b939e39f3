// Noksu's benchmark floor: what the toolkit costs before the clock does
// anything. A frame with one read-only text field showing a fixed time, and a
// 100 ms timer whose handler does nothing. The field is the same kind of
// control, with the same style, as the clock's display (on GTK a multi-line
// view kept to one line), so that the difference to noksu is the clock's own
// work and its menu bar.

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

namespace
{

#ifdef __WXGTK__
const long fieldStyle = wxTE_MULTILINE | wxTE_NO_VSCROLL | wxTE_RICH2 | wxTE_CENTRE | wxTE_READONLY;
#else
const long fieldStyle = wxTE_RICH2 | wxTE_CENTRE | wxTE_READONLY;
#endif

class FloorFrame : public wxFrame
{
public:
    FloorFrame() : wxFrame(nullptr, wxID_ANY, "noksu_floor"), timer(this)
    {
        wxTextCtrl* field =
            new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, fieldStyle);
        field->WriteText("00:00:00");

        wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(field, 1, wxEXPAND);
        SetSizer(sizer);

        timer.Start(100);
        sizer->Fit(this);
    }

private:
    // Dispatched through an event table, as the clock's tick is.
    void onTimer(wxTimerEvent&) {}

    wxTimer timer;

    wxDECLARE_EVENT_TABLE();
};

wxBEGIN_EVENT_TABLE(FloorFrame, wxFrame)
    EVT_TIMER(wxID_ANY, FloorFrame::onTimer)
wxEND_EVENT_TABLE()

class FloorApp : public wxApp
{
public:
    bool OnInit() override
    {
        if ( !wxApp::OnInit() )
            return false;
        (new FloorFrame)->Show(true);
        return true;
    }
};

} // anonymous namespace

wxIMPLEMENT_APP(FloorApp);
