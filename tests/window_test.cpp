// The main window: how it is built, where its events go, and how it closes.

#include "testing.h"

#include <gtest/gtest.h>

#include <wx/eventfilter.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/testing.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <regex>

namespace
{

class MainWindow : public testing::Test
{
protected:
    MainWindow() : window(new TestWindow) {}

    ~MainWindow() override
    {
        if ( window )
            window->Destroy();
        wxTheApp->ProcessIdle();
    }

    void sendMenuCommand(int id)
    {
        wxCommandEvent event(wxEVT_MENU, id);
        event.SetEventObject(window);
        window->ProcessWindowEvent(event);
    }

    void sendTimerEvent(int id)
    {
        wxTimer timer(window, id);
        wxTimerEvent event(timer);
        window->ProcessWindowEvent(event);
    }

    // A shown text that no tick would leave as it is.
    void spoilDisplay() { window->display->ChangeValue("--:--:--"); }

    bool isClosed() const { return isDestroyed(window) && !window->timer->IsRunning(); }

    // Closing tests let the toolkit delete the window under the fixture.
    wxWeakRef<TestWindow> window;
};

// The info box, checked as it is about to be shown.
class ExpectInfoBox : public wxExpectModalBase<wxMessageDialog, ExpectInfoBox>
{
public:
    explicit ExpectInfoBox(wxWindow* parent) : m_parent(parent) {}

protected:
    int OnInvoked(wxMessageDialog* box) const override
    {
        EXPECT_EQ(box->GetParent(), m_parent);
        EXPECT_EQ(box->GetCaption(), "NoksuInfo");
        EXPECT_EQ(box->GetMessage(), "Noksu 1.1 by Ukko Viisari");
        const long buttonsAndIcon = wxOK | wxCANCEL | wxYES_NO | wxHELP | wxICON_MASK;
        EXPECT_EQ(box->GetMessageDialogStyle() & buttonsAndIcon, wxOK | wxICON_INFORMATION);
        return wxID_OK;
    }

private:
    wxWindow* m_parent;
};

// ----------------------------------------------------------------------------
// construction
// ----------------------------------------------------------------------------

TEST_F(MainWindow, IsAMovableFixedSizeFrame)
{
    EXPECT_EQ(window->GetTitle(), "Noksu");

    // clang-format off
    const struct { long flag; bool expected; } flags[] = {
        { wxCAPTION, true },
        { wxSYSTEM_MENU, true },
        { wxMINIMIZE_BOX, true },
        { wxCLOSE_BOX, true },
        { wxRESIZE_BORDER, false },
        { wxMAXIMIZE_BOX, false },
    };
    // clang-format on
    for ( const auto& f : flags )
        EXPECT_EQ(window->HasFlag(f.flag), f.expected) << "style flag " << f.flag;

    // Built hidden: showing it is the application's job.
    EXPECT_FALSE(window->IsShown());
}

TEST_F(MainWindow, HasOneMenuWithTheFourCommands)
{
    wxMenuBar* const bar = window->GetMenuBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->GetMenuCount(), 1u);
    EXPECT_EQ(bar->GetMenuLabel(0), "Toiminnot");

    // clang-format off
    const struct { int id; const char* label; } items[] = {
        { ID_FONT, "Fontti" },
        { ID_BGCOLOR, "Tausta" },
        { ID_INFO, "Info" },
        { wxID_SEPARATOR, "" },
        { ID_QUIT, "Sulje" },
    };
    // clang-format on
    const wxMenuItemList& menuItems = bar->GetMenu(0)->GetMenuItems();
    ASSERT_EQ(menuItems.size(), WXSIZEOF(items));

    size_t n = 0;
    for ( const wxMenuItem* item : menuItems )
    {
        SCOPED_TRACE(n);
        EXPECT_EQ(item->GetId(), items[n].id);
        EXPECT_EQ(item->GetItemLabel(), items[n].label); // no mnemonic, no accelerator
        EXPECT_EQ(item->GetKind(),
                  items[n].id == wxID_SEPARATOR ? wxITEM_SEPARATOR : wxITEM_NORMAL);
        EXPECT_EQ(item->GetSubMenu(), nullptr);
        ++n;
    }
}

TEST_F(MainWindow, DisplayShowsTheTimeOfConstructionCentredAndReadOnly)
{
    const wxString before = timeText(wxDateTime::Now());
    TestWindow* const fresh = new TestWindow;
    const wxString after = timeText(wxDateTime::Now());

    const wxString shown = fresh->display->GetValue();
    EXPECT_TRUE(
        std::regex_match(shown.ToStdString(), std::regex("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]")))
        << shown;
    EXPECT_TRUE(shown == before || shown == after) << shown;

    EXPECT_FALSE(fresh->display->IsEditable());
    EXPECT_TRUE(fresh->display->HasFlag(wxTE_CENTRE));
    EXPECT_EQ(fresh->display->GetNumberOfLines(), 1);
    EXPECT_EQ(fresh->display->GetParent(), fresh);

    destroyWindow(fresh);
}

TEST_F(MainWindow, DisplayFillsTheWholeClientArea)
{
    wxSizer* const sizer = window->GetSizer();
    ASSERT_NE(sizer, nullptr);
    ASSERT_EQ(sizer->GetItemCount(), 1u);

    const wxSizerItem* const item = sizer->GetItem(size_t(0));
    EXPECT_EQ(item->GetWindow(), window->display);
    EXPECT_EQ(item->GetProportion(), 1);
    EXPECT_TRUE(item->GetFlag() & wxEXPAND);
    EXPECT_EQ(item->GetBorder(), 0);
}

// GTK knows the menu bar's height and the window manager's frame only once the
// window is shown; the window must still come up holding the whole display.
TEST_F(MainWindow, ShownWindowHoldsTheWholeTime)
{
    window->Show();
    runEventLoop(300);

    const wxSize needed = window->display->GetMinSize();
    EXPECT_GE(window->display->GetSize().x, needed.x);
    EXPECT_GE(window->display->GetSize().y, needed.y);

    const wxSize text = window->display->GetTextExtent(window->display->GetValue());
    EXPECT_GT(window->display->GetClientSize().x, text.x);
    EXPECT_GE(window->display->GetClientSize().y, text.y);
}

TEST_F(MainWindow, TimerTicksEveryTenthOfASecond)
{
    const wxTimer* const timer = window->timer;
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->IsRunning());
    EXPECT_EQ(timer->GetInterval(), 100);
    EXPECT_FALSE(timer->IsOneShot());
    EXPECT_EQ(timer->GetId(), ID_TIMER);
    EXPECT_EQ(timer->GetOwner(), window);
}

TEST_F(MainWindow, ReportsATimerThatDoesNotStart)
{
    // A timer that refuses to start, as one made before the toolkit is up.
    class DeadTimer : public wxTimer
    {
    public:
        using wxTimer::wxTimer;
        bool Start(int, bool) override { return false; }
    };
    delete window->timer;
    window->timer = new DeadTimer(window, ID_TIMER);
    const wxString shown = window->display->GetValue();

    LogCapture log;
    window->startTimer();

    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].level, wxLOG_Error);
    EXPECT_EQ(log.messages()[0].text, wxString::FromUTF8("Ajastin ei käynnistynyt."));
    EXPECT_EQ(window->display->GetValue(), shown);
}

// ----------------------------------------------------------------------------
// routing
// ----------------------------------------------------------------------------

TEST_F(MainWindow, OnlyItsOwnTimerEventsTick)
{
    spoilDisplay();
    sendTimerEvent(ID_TIMER + 7);
    EXPECT_EQ(window->display->GetValue(), "--:--:--");

    sendTimerEvent(ID_TIMER);
    EXPECT_NE(window->display->GetValue(), "--:--:--");
}

TEST_F(MainWindow, MenuCommandsOutsideTheMenuReachNoHandler)
{
    spoilDisplay();
    // Any dialog shown here fails the test through the harness's hook.
    for ( int id : { ID_TIMER, ID_QUIT + 1, 99 } )
        sendMenuCommand(id);

    EXPECT_FALSE(isDestroyed(window));
    EXPECT_TRUE(window->timer->IsRunning());
    EXPECT_EQ(window->display->GetValue(), "--:--:--");
}

TEST_F(MainWindow, InfoShowsTheInfoBoxEachTime)
{
    // A modal box only takes a shown window as its parent.
    window->Show();
    wxTEST_DIALOG((sendMenuCommand(ID_INFO), sendMenuCommand(ID_INFO)), ExpectInfoBox(window),
                  ExpectInfoBox(window));

    EXPECT_FALSE(isDestroyed(window));
    EXPECT_TRUE(window->timer->IsRunning());
}

// ----------------------------------------------------------------------------
// closing
// ----------------------------------------------------------------------------

TEST_F(MainWindow, QuitClosesAtOnce)
{
    sendMenuCommand(ID_QUIT);

    EXPECT_TRUE(isClosed());
}

TEST_F(MainWindow, EveryCloseRequestClosesWithoutVeto)
{
    for ( int id : { int(wxID_ANY), ID_TIMER, 42 } )
    {
        SCOPED_TRACE(id);
        TestWindow* const other = new TestWindow;
        wxCloseEvent request(wxEVT_CLOSE_WINDOW, id);
        request.SetEventObject(other);
        request.SetCanVeto(true);

        other->ProcessWindowEvent(request);

        EXPECT_FALSE(request.GetVeto());
        EXPECT_TRUE(isDestroyed(other));
        EXPECT_FALSE(other->timer->IsRunning());
        wxTheApp->ProcessIdle();
    }
}

TEST_F(MainWindow, NoTickAfterClosing)
{
    // Counts the ticks that reach the window from the event loop.
    class TickCounter : public wxEventFilter
    {
    public:
        int FilterEvent(wxEvent& event) override
        {
            if ( event.GetEventType() == wxEVT_TIMER && event.GetId() == ID_TIMER )
                ++ticks;
            return Event_Skip;
        }
        int ticks = 0;
    } counter;
    wxEvtHandler::AddFilter(&counter);

    runEventLoop(350);
    const int ticksWhileOpen = counter.ticks;

    window->Close(true);
    counter.ticks = 0;
    runEventLoop(350);

    wxEvtHandler::RemoveFilter(&counter);
    EXPECT_GE(ticksWhileOpen, 1);
    EXPECT_EQ(counter.ticks, 0);
}

} // anonymous namespace
