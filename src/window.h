// Noksu: the main window, showing the running clock.

#ifndef NOKSU_WINDOW_H
#define NOKSU_WINDOW_H

#include <wx/datetime.h>
#include <wx/frame.h>
#include <wx/string.h>

#include <vector>

class wxColour;
class wxFont;
class wxTextCtrl;
class wxTimer;
class wxTimerEvent;

// ----------------------------------------------------------------------------
// constants
// ----------------------------------------------------------------------------

// Identifiers shared by the timer, the menu and the event table.
const int ID_TIMER = 0;
const int ID_FONT = 1;
const int ID_BGCOLOR = 2;
const int ID_INFO = 3;
const int ID_QUIT = 4;

// ----------------------------------------------------------------------------
// the time text
// ----------------------------------------------------------------------------

// A part of the time text, [start, end): the hours and the minutes each carry
// the colon that follows them.
struct Segment
{
    long start;
    long end;

    bool operator==(const Segment& other) const { return start == other.start && end == other.end; }
};

// The time as the clock shows it, HH:MM:SS on the 24-hour clock.
wxString timeText(const wxDateTime& time);

// The segments, hours first, in which the text shown differs from the new one.
// A text shorter than the time text differs in every segment it cuts short.
std::vector<Segment> changedSegments(const wxString& shown, const wxString& now);

// ----------------------------------------------------------------------------
// the main window
// ----------------------------------------------------------------------------

class Window : public wxFrame
{
public:
    explicit Window(const wxString& title);
    ~Window() override;

protected:
    void startTimer();
    void showTime(const wxString& now);

    wxTextCtrl* display;
    wxTimer* timer;

private:
    wxColour chooseColour(const wxColour& initial, const wxString& title);
    void fitDisplay(const wxFont& font);
    void rewriteDisplay();

    void onTimer(wxTimerEvent& event);
    void onFont(wxCommandEvent& event);
    void onBGColor(wxCommandEvent& event);
    void onInfo(wxCommandEvent& event);
    void onQuit(wxCommandEvent& event);
    void onClose(wxCloseEvent& event);

    wxDECLARE_EVENT_TABLE();
};

#endif // NOKSU_WINDOW_H
