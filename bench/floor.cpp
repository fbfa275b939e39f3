// Noksu's benchmark floors: what the toolkit costs before the clock does
// anything. A frame with one read-only text field showing a time, and a
// 100 ms timer. The field is the same kind of control, with the same style,
// as the clock's display (on GTK a multi-line view sized for one line, its
// caret hidden), so that the difference to noksu is the clock's own work and
// its menu bar.
//
// Built twice from this one source:
//
//   noksu_floor          the timer's handler does nothing: the idle floor;
//   noksu_floor_ticking  (NOKSU_FLOOR_TICKING) once a second the handler
//                        writes the new seconds into the field, so that the
//                        text changes and is drawn again as a clock's must:
//                        the least any clock with this display does.

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#ifdef __WXGTK__
    #include <gtk/gtk.h>
#endif

#ifdef NOKSU_FLOOR_TICKING
    #include <ctime>
#endif

namespace
{

#ifdef __WXGTK__
const long fieldStyle = wxTE_MULTILINE | wxTE_NO_VSCROLL | wxTE_RICH2 | wxTE_CENTRE | wxTE_READONLY;
#else
const long fieldStyle = wxTE_RICH2 | wxTE_CENTRE | wxTE_READONLY;
#endif

#ifdef NOKSU_FLOOR_TICKING
const char* const title = "noksu_floor_ticking";
#else
const char* const title = "noksu_floor";
#endif

class FloorFrame : public wxFrame
{
public:
    FloorFrame() : wxFrame(nullptr, wxID_ANY, title), field(nullptr), timer(this)
    {
        field = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, fieldStyle);
        field->WriteText("00:00:00");
#ifdef __WXGTK__
        // As the clock does: no caret beside the time, and the view, whose
        // best size is two lines tall, kept to one line of the widest time.
        GtkWidget* view = gtk_bin_get_child(GTK_BIN(field->GetHandle()));
        gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
        const wxSize text = field->GetTextExtent("88:88:88");
        const int line = field->GetCharHeight();
        field->SetMinSize(field->GetSizeFromTextSize(text.x, line) + wxSize(0, text.y - line));
#endif

        wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(field, 1, wxEXPAND);
        SetSizer(sizer);

#ifdef NOKSU_FLOOR_TICKING
        // The field covers the whole client area; erasing the frame's own
        // background on every redraw of the text is work no clock needs,
        // and noksu does not do it either.
        SetBackgroundStyle(wxBG_STYLE_SYSTEM);
#endif

        timer.Start(100);
        sizer->Fit(this);
    }

private:
    // Dispatched through an event table, as the clock's tick is.
#ifdef NOKSU_FLOOR_TICKING
    // The seconds of the local time are those of the time since the epoch
    // in every zone whose offset is whole minutes: time() is all it takes.
    void onTimer(wxTimerEvent&)
    {
        const std::time_t now = std::time(nullptr);
        if ( now == shown )
            return;
        shown = now;
        const unsigned second = static_cast<unsigned>(now % 60);
        const wchar_t digits[] = { static_cast<wchar_t>(L'0' + second / 10),
                                   static_cast<wchar_t>(L'0' + second % 10) };
        field->Replace(6, 8, wxString(digits, 2));
    }

    std::time_t shown = 0;
#else
    void onTimer(wxTimerEvent&) {}
#endif

    wxTextCtrl* field;
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
