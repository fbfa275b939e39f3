// Small helpers shared by the tests: a log target that records what was
// logged, and a window whose innards the tests may look at.

#ifndef NOKSU_TESTS_TESTING_H
#define NOKSU_TESTS_TESTING_H

#include "window.h"

#include <wx/app.h>
#include <wx/colour.h>
#include <wx/log.h>

#include <ostream>
#include <vector>

// Lets failures print colours by value.
inline void PrintTo(const wxColour& colour, std::ostream* out)
{
    *out << (colour.IsOk() ? colour.GetAsString(wxC2S_HTML_SYNTAX) : wxString("unset"));
}

// Records every message logged while it is the active target.
class TestLog : public wxLog
{
public:
    struct Message
    {
        wxLogLevel level;
        wxString text;
    };

    const std::vector<Message>& messages() const { return m_messages; }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& text,
                     const wxLogRecordInfo& WXUNUSED(info)) override
    {
        m_messages.push_back({ level, text });
    }

private:
    std::vector<Message> m_messages;
};

// Makes a TestLog the active log target for its lifetime.
class LogCapture
{
public:
    LogCapture() : m_previous(wxLog::SetActiveTarget(&m_log)) {}
    ~LogCapture() { wxLog::SetActiveTarget(m_previous); }

    const std::vector<TestLog::Message>& messages() const { return m_log.messages(); }

private:
    TestLog m_log;
    wxLog* const m_previous;

    wxDECLARE_NO_COPY_CLASS(LogCapture);
};

// The main window, with its members opened up for the tests.
class TestWindow : public Window
{
public:
    TestWindow() : Window("Noksu") {}

    using Window::display;
    using Window::timer;
    using Window::startTimer;
    using Window::showTime;
};

// Whether the window was handed to the toolkit for deletion.
inline bool isDestroyed(wxWindow* window)
{
    return wxPendingDelete.Member(window);
}

// Destroys the window the way the toolkit does and deletes it at once.
void destroyWindow(wxWindow* window);

// Lets the event loop run for about this long.
void runEventLoop(int milliseconds);

#endif // NOKSU_TESTS_TESTING_H
