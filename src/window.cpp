// Noksu: the main window, showing the running clock.

#include "window.h"

#include <wx/colordlg.h>
#include <wx/datetime.h>
#include <wx/fontdlg.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#ifdef __WXGTK__
    #include <gtk/gtk.h>
#endif

// ----------------------------------------------------------------------------
// constants
// ----------------------------------------------------------------------------

namespace
{

const Segment segments[] = { { 0, 3 }, { 3, 6 }, { 6, 8 } };

// Movable, minimisable and closable, but neither resizable nor maximisable.
const long frameStyle = wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX);

// GTK's single-line entry ignores text styles, while its multi-line view
// applies the default style to the text inserted after it; there the display
// is a view kept to one line. It may wrap but never scrolls sideways: sized
// for the widest time, it never needs to, and a scrolled view hid the hours.
#ifdef __WXGTK__
const long displayStyle =
    wxTE_MULTILINE | wxTE_NO_VSCROLL | wxTE_RICH2 | wxTE_CENTRE | wxTE_READONLY;
#else
const long displayStyle = wxTE_RICH2 | wxTE_CENTRE | wxTE_READONLY;
#endif

// The widest time text in most fonts.
const char* const widestTime = "88:88:88";

// The display's size for a text of the given size. The rich edit control needs
// 6 pixels beside the text; GTK's view has a frame and margins of its own,
// which the toolkit knows for a line of the control's font.
wxSize displaySizeFor(const wxTextCtrl* display, const wxSize& text)
{
#ifdef __WXGTK__
    const int line = display->GetCharHeight();
    return display->GetSizeFromTextSize(text.x, line) + wxSize(0, text.y - line);
#else
    wxUnusedVar(display);
    return wxSize(text.x + 6, text.y);
#endif
}

// GTK's font dialog can be confirmed with no font chosen at all, e.g. with a
// family typed but not picked: what it hands back then has no size, and is no
// choice to apply.
bool isChosenFont(const wxFont& font)
{
    return font.IsOk() && font.GetFractionalPointSize() > 0;
}

#ifdef __WXGTK__
// A caret blinking beside the time would be noise on a clock; the time can
// still be selected and copied.
void hideCaret(wxTextCtrl* text)
{
    GtkWidget* view = gtk_bin_get_child(GTK_BIN(text->GetHandle()));
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
}
#endif

// The digit for a value from 0 to 9.
wchar_t digit(unsigned value)
{
    return static_cast<wchar_t>(L'0' + value);
}

// Whether the texts differ within the segment, compared where they stand
// rather than through copies: a text that ends inside the segment differs
// from one that goes on, and two that end at the same place are alike there.
bool differsIn(const wxString& shown, const wxString& now, const Segment& segment)
{
    const wchar_t* const a = shown.wc_str();
    const wchar_t* const b = now.wc_str();
    const size_t lengthA = shown.length();
    const size_t lengthB = now.length();
    for ( size_t i = segment.start; i < size_t(segment.end); ++i )
    {
        if ( i >= lengthA || i >= lengthB )
            return (i < lengthA) != (i < lengthB);
        if ( a[i] != b[i] )
            return true;
    }
    return false;
}

} // anonymous namespace

// ----------------------------------------------------------------------------
// the time text
// ----------------------------------------------------------------------------

wxString timeText(const wxDateTime& time)
{
    // Written out digit by digit: Format() would convert its format string
    // and run it through wcsftime() on every tick, for a text that is always
    // HH:MM:SS.
    const wxDateTime::Tm tm = time.GetTm(wxDateTime::Local);
    const wchar_t text[] = { digit(tm.hour / 10), digit(tm.hour % 10), L':',
                             digit(tm.min / 10),  digit(tm.min % 10),  L':',
                             digit(tm.sec / 10),  digit(tm.sec % 10) };
    return wxString(text, WXSIZEOF(text));
}

std::vector<Segment> changedSegments(const wxString& shown, const wxString& now)
{
    std::vector<Segment> changed;
    for ( const Segment& segment : segments )
    {
        if ( differsIn(shown, now, segment) )
            changed.push_back(segment);
    }
    return changed;
}

// ----------------------------------------------------------------------------
// event table
// ----------------------------------------------------------------------------

wxBEGIN_EVENT_TABLE(Window, wxFrame)
    EVT_TIMER(ID_TIMER, Window::onTimer)
    EVT_MENU(ID_FONT, Window::onFont)
    EVT_MENU(ID_BGCOLOR, Window::onBGColor)
    EVT_MENU(ID_INFO, Window::onInfo)
    EVT_MENU(ID_QUIT, Window::onQuit)
    EVT_CLOSE(Window::onClose)
wxEND_EVENT_TABLE()

// ----------------------------------------------------------------------------
// the main window
// ----------------------------------------------------------------------------

Window::Window(const wxString& title)
    : wxFrame(nullptr, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, frameStyle),
      display(nullptr),
      timer(nullptr)
{
    wxMenu* menu = new wxMenu;
    menu->Append(ID_FONT, "Fontti");
    menu->Append(ID_BGCOLOR, "Tausta");
    menu->Append(ID_INFO, "Info");
    menu->AppendSeparator();
    menu->Append(ID_QUIT, "Sulje");

    wxMenuBar* menuBar = new wxMenuBar;
    menuBar->Append(menu, "Toiminnot");
    SetMenuBar(menuBar);

    display = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, displayStyle);
    display->WriteText(timeText(wxDateTime::Now()));
#ifdef __WXGTK__
    hideCaret(display);
    // The view's best size is two lines tall; the clock needs exactly one.
    display->SetMinSize(displaySizeFor(display, display->GetTextExtent(widestTime)));
#endif

    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(display, 1, wxEXPAND);
    SetSizer(sizer);

    // The display covers all of the client area, so the frame has no
    // background of its own to show. Left at wxBG_STYLE_ERASE, each redraw of
    // the time would build a device context for an erase event that nothing
    // handles, asking the theme for the frame's colours and font every time.
    SetBackgroundStyle(wxBG_STYLE_SYSTEM);

    timer = new wxTimer(this, ID_TIMER);
    startTimer();

    // Unlike Fit(), the sizer's fitting is done again once GTK has measured
    // the menu bar, which it cannot do before the window is shown.
    sizer->Fit(this);
}

Window::~Window()
{
    delete timer;
}

void Window::startTimer()
{
    if ( !timer->Start(100) )
        wxLogError(L"Ajastin ei käynnistynyt.");
}

void Window::showTime(const wxString& now)
{
    const wxString shown = display->GetValue();
    for ( const Segment& segment : changedSegments(shown, now) )
        display->Replace(segment.start, segment.end,
                         now.Mid(segment.start, segment.end - segment.start));
}

// The colour chosen in the colour dialog, or an invalid one when it was
// cancelled.
wxColour Window::chooseColour(const wxColour& initial, const wxString& title)
{
    wxColourData data;
    data.SetColour(initial);
    wxColourDialog dialog(this, &data);
    dialog.SetTitle(title);
    if ( dialog.ShowModal() != wxID_OK )
        return wxColour();

    return dialog.GetColourData().GetColour();
}

// Sizes the display for the widest time in the font and the window around it,
// so that the window keeps its size while the clock runs.
void Window::fitDisplay(const wxFont& font)
{
    wxSize text;
    display->GetTextExtent(widestTime, &text.x, &text.y, nullptr, nullptr, &font);
    display->SetMinSize(displaySizeFor(display, text));
    GetSizer()->Fit(this);
}

// The control gives its default style only to text inserted after it was set:
// writing the time again makes all of it take the new style.
void Window::rewriteDisplay()
{
    const wxString text = display->GetValue();
    display->Clear();
    display->WriteText(text);
}

// ----------------------------------------------------------------------------
// event handlers
// ----------------------------------------------------------------------------

void Window::onTimer(wxTimerEvent& WXUNUSED(event))
{
    // UNow() reads the clock as it is; Now() goes through localtime() and
    // back through mktime() before timeText() converts it once more.
    showTime(timeText(wxDateTime::UNow()));
}

void Window::onFont(wxCommandEvent& WXUNUSED(event))
{
    wxTextAttr style = display->GetDefaultStyle();

    wxFontData data;
    data.SetInitialFont(style.GetFont());
    data.SetColour(style.GetTextColour());
    wxFontDialog dialog(this, data);
    if ( dialog.ShowModal() != wxID_OK )
        return;

    const wxFont font = dialog.GetFontData().GetChosenFont();
    if ( !isChosenFont(font) )
        return;

    // The style may carry the control's own font, sized in pixels on some
    // ports; left set, that unit would override the chosen size in points.
    style.SetFlags(style.GetFlags() & ~wxTEXT_ATTR_FONT);
    style.SetFont(font);

#ifdef __WXGTK__
    // GTK's font dialog has no colour, so the text colour has a dialog of its
    // own; cancelling that one keeps the colour as it was.
    const wxColour colour = chooseColour(style.GetTextColour(), L"Tekstin väri");
#else
    const wxColour colour = dialog.GetFontData().GetColour();
#endif
    // An unset colour must never reach the control marked as set.
    if ( colour.IsOk() )
        style.SetTextColour(colour);

    if ( !display->SetDefaultStyle(style) )
        wxLogError("Noksuruutu ei ottanut uutta fonttia vastaan.");

    fitDisplay(font);
    rewriteDisplay();
}

void Window::onBGColor(wxCommandEvent& WXUNUSED(event))
{
    wxTextAttr style = display->GetDefaultStyle();

    const wxColour colour = chooseColour(style.GetBackgroundColour(), L"Taustaväri");
    if ( !colour.IsOk() )
        return;

    style.SetBackgroundColour(colour);
    if ( !display->SetDefaultStyle(style) )
        wxLogError(L"Noksuruutu ei ottanut uutta taustaväriä vastaan.");

    rewriteDisplay();
}

void Window::onInfo(wxCommandEvent& WXUNUSED(event))
{
    wxMessageDialog info(this, "Noksu 1.1 by Ukko Viisari", "NoksuInfo", wxOK | wxICON_INFORMATION);
    info.ShowModal();
}

void Window::onQuit(wxCommandEvent& WXUNUSED(event))
{
    Close(true);
}

void Window::onClose(wxCloseEvent& WXUNUSED(event))
{
    timer->Stop();
    Destroy();
}
