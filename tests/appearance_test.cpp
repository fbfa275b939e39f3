// Fontti and Tausta: the display's default text style, the dialogs that
// change it, and the sizes that follow from the chosen font.

#include "testing.h"

#include <gtest/gtest.h>

#include <wx/colordlg.h>
#include <wx/fontdlg.h>
#include <wx/fontutil.h>
#include <wx/sizer.h>
#include <wx/testing.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#ifdef __WXGTK__
    #include <gtk/gtk.h>
#endif

namespace
{

// What a dialog was pre-set with when it was shown.
struct Seen
{
    wxFont initialFont;
    wxColour initialColour;
    wxString title;
    bool timerRunning = false;
};

class ExpectFont : public wxExpectModalBase<wxFontDialog, ExpectFont>
{
public:
    ExpectFont(int result, const wxFont& chosen, const wxTimer* timer, Seen* seen = nullptr,
               const wxColour& colour = wxNullColour)
        : m_result(result), m_chosen(chosen), m_colour(colour), m_timer(timer), m_seen(seen)
    {}

protected:
    int OnInvoked(wxFontDialog* dialog) const override
    {
        wxFontData& data = dialog->GetFontData();
        if ( m_seen )
        {
            m_seen->initialFont = data.GetInitialFont();
            m_seen->initialColour = data.GetColour();
            m_seen->timerRunning = m_timer->IsRunning();
        }
        // Confirming an unchanged dialog hands back the font it started with.
        data.SetChosenFont(m_chosen.IsOk() ? m_chosen : data.GetInitialFont());
        if ( m_colour.IsOk() )
            data.SetColour(m_colour);
        return m_result;
    }

private:
    int m_result;
    wxFont m_chosen;
    wxColour m_colour;
    const wxTimer* m_timer;
    Seen* m_seen;
};

class ExpectColour : public wxExpectModalBase<wxColourDialog, ExpectColour>
{
public:
    ExpectColour(int result, const wxColour& chosen, const wxTimer* timer, Seen* seen = nullptr)
        : m_result(result), m_chosen(chosen), m_timer(timer), m_seen(seen)
    {}

protected:
    int OnInvoked(wxColourDialog* dialog) const override
    {
        if ( m_seen )
        {
            m_seen->initialColour = dialog->GetColourData().GetColour();
            m_seen->title = dialog->GetTitle();
            m_seen->timerRunning = m_timer->IsRunning();
        }
        if ( m_chosen.IsOk() )
            choose(dialog, m_chosen);
        return m_result;
    }

private:
    // GTK's dialog reads its colour back from the native widget when it is
    // confirmed, so that is where the choice must be made.
    static void choose(wxColourDialog* dialog, const wxColour& colour)
    {
#ifdef __WXGTK__
        wxGCC_WARNING_SUPPRESS(deprecated-declarations);
        GtkWidget* selection = gtk_color_selection_dialog_get_color_selection(
            GTK_COLOR_SELECTION_DIALOG(dialog->GetHandle()));
        gtk_color_selection_set_current_rgba(GTK_COLOR_SELECTION(selection), colour);
        wxGCC_WARNING_RESTORE()
#else
        dialog->GetColourData().SetColour(colour);
#endif
    }

    int m_result;
    wxColour m_chosen;
    const wxTimer* m_timer;
    Seen* m_seen;
};

// A display that remembers the last style it was given and may refuse it.
class RecordingDisplay : public wxTextCtrl
{
public:
    RecordingDisplay(wxWindow* parent, long style, bool accepts)
        : wxTextCtrl(parent, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, style),
          m_accepts(accepts)
    {}

    bool SetDefaultStyle(const wxTextAttr& style) override
    {
        given = style;
        ++calls;
        return m_accepts && wxTextCtrl::SetDefaultStyle(style);
    }

    wxTextAttr given;
    int calls = 0;

private:
    const bool m_accepts;
};

bool sameFont(const wxFont& a, const wxFont& b)
{
    return a.IsOk() && b.IsOk() && a.GetPointSize() == b.GetPointSize()
        && a.GetWeight() == b.GetWeight() && a.GetStyle() == b.GetStyle()
        && a.GetFaceName() == b.GetFaceName();
}

const long fontFlags = wxTEXT_ATTR_FONT & ~wxTEXT_ATTR_FONT_PIXEL_SIZE;

class Appearance : public testing::Test
{
protected:
    Appearance()
        : window(new TestWindow),
          bigFont(wxFontInfo(36).Bold().FaceName("DejaVu Serif")),
          smallFont(wxFontInfo(9).FaceName("DejaVu Sans"))
    {
        window->Show();
        runEventLoop(100);
    }

    ~Appearance() override { destroyWindow(window); }

    void sendMenuCommand(int id)
    {
        wxCommandEvent event(wxEVT_MENU, id);
        window->ProcessWindowEvent(event);
    }

    // Fontti, confirmed with this font and text colour.
    void chooseFont(const wxFont& font, const wxColour& colour, Seen* seen = nullptr)
    {
#ifdef __WXGTK__
        wxTEST_DIALOG(sendMenuCommand(ID_FONT), ExpectFont(wxID_OK, font, window->timer, seen),
                      ExpectColour(wxID_OK, colour, window->timer));
#else
        wxTEST_DIALOG(sendMenuCommand(ID_FONT),
                      ExpectFont(wxID_OK, font, window->timer, seen, colour));
#endif
    }

    // Tausta, confirmed with this colour.
    void chooseBackground(const wxColour& colour, Seen* seen = nullptr)
    {
        wxTEST_DIALOG(sendMenuCommand(ID_BGCOLOR),
                      ExpectColour(wxID_OK, colour, window->timer, seen));
    }

    // Puts a recording display in the place of the window's own.
    RecordingDisplay* recordDisplay(bool accepts = true)
    {
        RecordingDisplay* recording =
            new RecordingDisplay(window, window->display->GetWindowStyle(), accepts);
        recording->wxTextCtrl::SetDefaultStyle(window->display->GetDefaultStyle());
        recording->WriteText(window->display->GetValue());
        window->GetSizer()->Replace(window->display, recording);
        window->display->Destroy();
        window->display = recording;
        window->Layout();
        return recording;
    }

    // The style of the characters shown at the position.
    wxTextAttr shownStyle(long position)
    {
        wxTextAttr style;
        EXPECT_TRUE(window->display->GetStyle(position, style));
        return style;
    }

    int countWrites(const std::function<void()>& action)
    {
        int writes = 0;
        auto count = [&writes](wxCommandEvent&) { ++writes; };
        window->display->Bind(wxEVT_TEXT, count);
        action();
        window->display->Unbind(wxEVT_TEXT, count);
        return writes;
    }

    TestWindow* const window;
    const wxFont bigFont;
    const wxFont smallFont;
};

// ----------------------------------------------------------------------------
// Fontti
// ----------------------------------------------------------------------------

TEST_F(Appearance, FontShowsTheWholeTimeInTheChosenFontAndColour)
{
    Seen seen;
    chooseFont(bigFont, *wxRED, &seen);

    // The first choice starts from the style the display was created with.
    EXPECT_FALSE(seen.initialFont.IsOk());
    EXPECT_FALSE(seen.initialColour.IsOk());
    EXPECT_TRUE(seen.timerRunning);

    const wxTextAttr& style = window->display->GetDefaultStyle();
    EXPECT_TRUE(sameFont(style.GetFont(), bigFont));
    EXPECT_EQ(style.GetTextColour(), *wxRED);

    // Every character shown was written again in the new style.
    for ( long position : { 0, 3, 7 } )
    {
        SCOPED_TRACE(position);
        const wxTextAttr shown = shownStyle(position);
        EXPECT_TRUE(sameFont(shown.GetFont(), bigFont));
        EXPECT_EQ(shown.GetTextColour(), *wxRED);
    }
}

TEST_F(Appearance, FontSizesTheDisplayForTheWidestTimeAndRefitsTheWindow)
{
    const wxSize before = window->GetSize();
    chooseFont(bigFont, *wxBLUE);
    runEventLoop(200);

    wxSize text;
    window->display->GetTextExtent("88:88:88", &text.x, &text.y, nullptr, nullptr, &bigFont);
    // The control's frame and margins need room beyond the text itself.
    const wxSize needed = window->display->GetMinSize();
    EXPECT_GT(needed.x, text.x);
    EXPECT_GT(needed.y, text.y);

    const wxSize grown = window->GetSize();
    EXPECT_GT(grown.x, before.x);
    EXPECT_GT(grown.y, before.y);
    EXPECT_GE(window->display->GetSize().x, needed.x);
    EXPECT_GE(window->display->GetSize().y, needed.y);

    // A smaller font shrinks the window again.
    chooseFont(smallFont, *wxBLUE);
    runEventLoop(200);
    EXPECT_LT(window->GetSize().x, grown.x);
    EXPECT_LT(window->GetSize().y, grown.y);
}

TEST_F(Appearance, CancelledFontChangesNothing)
{
    chooseFont(bigFont, *wxRED);
    RecordingDisplay* display = recordDisplay();
    display->SetMinSize(wxSize(50, 20));
    const wxSize minSize = display->GetMinSize();
    const wxSize windowSize = window->GetSize();
    const wxString text = display->GetValue();

    const int writes = countWrites([this] {
        wxTEST_DIALOG(sendMenuCommand(ID_FONT), ExpectFont(wxID_CANCEL, smallFont, window->timer));
    });

    EXPECT_EQ(display->calls, 0);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(display->GetMinSize(), minSize);
    EXPECT_EQ(window->GetSize(), windowSize);
    EXPECT_EQ(display->GetValue(), text);
}

TEST_F(Appearance, FontDialogConfirmedWithoutAFontChangesNothing)
{
    RecordingDisplay* display = recordDisplay();
    const wxSize minSize = display->GetMinSize();
    const wxString text = display->GetValue();

    const wxFont noFonts[] = {
        // Nothing chosen before, and nothing now.
        wxNullFont,
#ifdef __WXGTK__
        // What GTK's dialog hands back when a family was typed but not picked.
        wxFont(wxNativeFontInfo()),
#endif
    };
    for ( const wxFont& noFont : noFonts )
    {
        const int writes = countWrites([&] {
            wxTEST_DIALOG(sendMenuCommand(ID_FONT), ExpectFont(wxID_OK, noFont, window->timer));
        });

        EXPECT_EQ(display->calls, 0);
        EXPECT_EQ(writes, 0);
        EXPECT_EQ(display->GetMinSize(), minSize);
        EXPECT_EQ(display->GetValue(), text);
    }
}

TEST_F(Appearance, FontStartsFromAndKeepsTheStyleSetBefore)
{
    chooseBackground(*wxYELLOW);
    chooseFont(bigFont, *wxRED);

    // Paragraph settings that only the toolkit's default style carries.
    wxTextAttr paragraph = window->display->GetDefaultStyle();
    paragraph.SetAlignment(wxTEXT_ALIGNMENT_CENTRE);
    wxArrayInt tabs;
    tabs.Add(40);
    paragraph.SetTabs(tabs);
    paragraph.SetLeftIndent(3, 2);
    paragraph.SetRightIndent(4);
    window->display->SetDefaultStyle(paragraph);

    Seen seen;
    chooseFont(smallFont, *wxGREEN, &seen);

    EXPECT_TRUE(sameFont(seen.initialFont, bigFont));
    EXPECT_EQ(seen.initialColour, *wxRED);

    const wxTextAttr& style = window->display->GetDefaultStyle();
    EXPECT_TRUE(sameFont(style.GetFont(), smallFont));
    EXPECT_EQ(style.GetTextColour(), *wxGREEN);
    EXPECT_EQ(style.GetBackgroundColour(), *wxYELLOW);
    EXPECT_EQ(style.GetAlignment(), wxTEXT_ALIGNMENT_CENTRE);
    ASSERT_EQ(style.GetTabs().size(), 1u);
    EXPECT_EQ(style.GetTabs()[0], 40);
    EXPECT_EQ(style.GetLeftIndent(), 3);
    EXPECT_EQ(style.GetLeftSubIndent(), 2);
    EXPECT_EQ(style.GetRightIndent(), 4);
}

TEST_F(Appearance, UnchangedFontDialogStillSetsRefitsAndRewrites)
{
    chooseFont(bigFont, *wxRED);
    RecordingDisplay* display = recordDisplay();
    display->SetMinSize(wxSize(10, 10));

    const int writes = countWrites([this] {
#ifdef __WXGTK__
        wxTEST_DIALOG(sendMenuCommand(ID_FONT), ExpectFont(wxID_OK, wxNullFont, window->timer),
                      ExpectColour(wxID_OK, wxNullColour, window->timer));
#else
        wxTEST_DIALOG(sendMenuCommand(ID_FONT), ExpectFont(wxID_OK, wxNullFont, window->timer));
#endif
    });

    EXPECT_EQ(display->calls, 1);
    EXPECT_EQ(display->given.GetFlags() & fontFlags, fontFlags);
    EXPECT_TRUE(display->given.HasTextColour());
    EXPECT_TRUE(sameFont(display->given.GetFont(), bigFont));
    EXPECT_EQ(display->given.GetTextColour(), *wxRED);
    EXPECT_GT(display->GetMinSize().x, 10);
    EXPECT_GT(writes, 0);
}

#ifdef __WXGTK__
// GTK's font dialog has no colour: the text colour is asked for separately,
// and cancelling that keeps the colour the text had.
TEST_F(Appearance, TextColourHasItsOwnDialogOnGtk)
{
    Seen seen;
    RecordingDisplay* display = recordDisplay();
    wxTEST_DIALOG(sendMenuCommand(ID_FONT), ExpectFont(wxID_OK, bigFont, window->timer),
                  ExpectColour(wxID_CANCEL, *wxRED, window->timer, &seen));

    EXPECT_FALSE(seen.initialColour.IsOk());
    EXPECT_EQ(seen.title, wxString::FromUTF8("Tekstin väri"));
    // The font is taken; no colour is claimed that nobody chose.
    EXPECT_TRUE(sameFont(display->given.GetFont(), bigFont));
    EXPECT_FALSE(display->given.HasTextColour());

    chooseFont(bigFont, *wxBLUE);
    wxTEST_DIALOG(sendMenuCommand(ID_FONT), ExpectFont(wxID_OK, smallFont, window->timer),
                  ExpectColour(wxID_CANCEL, *wxRED, window->timer, &seen));
    EXPECT_EQ(seen.initialColour, *wxBLUE);
    EXPECT_EQ(display->given.GetTextColour(), *wxBLUE);
    EXPECT_TRUE(sameFont(display->given.GetFont(), smallFont));
}
#endif

TEST_F(Appearance, RefusedFontIsReportedAndTheRestStillDone)
{
    RecordingDisplay* display = recordDisplay(false);
    display->SetMinSize(wxSize(10, 10));
    LogCapture log;

    const int writes = countWrites([this] { chooseFont(bigFont, *wxRED); });

    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].level, wxLOG_Error);
    EXPECT_EQ(log.messages()[0].text, "Noksuruutu ei ottanut uutta fonttia vastaan.");
    EXPECT_GT(display->GetMinSize().x, 10);
    EXPECT_GT(writes, 0);
}

TEST_F(Appearance, TicksWriteInTheChosenStyle)
{
    chooseFont(bigFont, *wxRED);
    chooseBackground(*wxYELLOW);

    window->display->ChangeValue("12:34:56");
    window->display->SetDefaultStyle(window->display->GetDefaultStyle());
    window->showTime("12:34:57");

    const wxTextAttr seconds = shownStyle(7);
    EXPECT_TRUE(sameFont(seconds.GetFont(), bigFont));
    EXPECT_EQ(seconds.GetTextColour(), *wxRED);
    EXPECT_EQ(seconds.GetBackgroundColour(), *wxYELLOW);
}

// ----------------------------------------------------------------------------
// Tausta
// ----------------------------------------------------------------------------

TEST_F(Appearance, BackgroundGoesBehindTheWholeTimeAndKeepsTheSize)
{
    chooseFont(bigFont, *wxRED);
    runEventLoop(200);
    const wxSize windowSize = window->GetSize();
    const wxSize minSize = window->display->GetMinSize();
    const wxColour before = window->display->GetDefaultStyle().GetBackgroundColour();

    Seen seen;
    chooseBackground(*wxYELLOW, &seen);
    runEventLoop(200);

    EXPECT_EQ(seen.initialColour, before);
    EXPECT_EQ(seen.title, wxString::FromUTF8("Taustaväri"));
    EXPECT_TRUE(seen.timerRunning);

    const wxTextAttr& style = window->display->GetDefaultStyle();
    EXPECT_EQ(style.GetBackgroundColour(), *wxYELLOW);
    EXPECT_TRUE(sameFont(style.GetFont(), bigFont));
    EXPECT_EQ(style.GetTextColour(), *wxRED);
    for ( long position : { 0, 3, 7 } )
    {
        SCOPED_TRACE(position);
        const wxTextAttr shown = shownStyle(position);
        EXPECT_EQ(shown.GetBackgroundColour(), *wxYELLOW);
        EXPECT_TRUE(sameFont(shown.GetFont(), bigFont));
    }
    EXPECT_EQ(window->GetSize(), windowSize);
    EXPECT_EQ(window->display->GetMinSize(), minSize);
}

TEST_F(Appearance, FirstBackgroundStartsUnsetAndSetsOnlyTheBackground)
{
    RecordingDisplay* display = recordDisplay();
    Seen seen;
    chooseBackground(*wxCYAN, &seen);

    EXPECT_FALSE(seen.initialColour.IsOk());
    EXPECT_EQ(display->given.GetFlags(), wxTEXT_ATTR_BACKGROUND_COLOUR);
    EXPECT_EQ(display->given.GetBackgroundColour(), *wxCYAN);
}

TEST_F(Appearance, CancelledBackgroundChangesNothing)
{
    chooseBackground(*wxYELLOW);
    RecordingDisplay* display = recordDisplay();
    const wxString text = display->GetValue();

    Seen seen;
    const int writes = countWrites([&] {
        wxTEST_DIALOG(sendMenuCommand(ID_BGCOLOR),
                      ExpectColour(wxID_CANCEL, *wxGREEN, window->timer, &seen));
    });

    EXPECT_EQ(seen.initialColour, *wxYELLOW);
    EXPECT_EQ(display->calls, 0);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(display->GetValue(), text);
}

TEST_F(Appearance, UnchangedBackgroundDialogStillSetsAndRewrites)
{
    chooseBackground(*wxYELLOW);
    RecordingDisplay* display = recordDisplay();

    const int writes = countWrites([this] {
        wxTEST_DIALOG(sendMenuCommand(ID_BGCOLOR),
                      ExpectColour(wxID_OK, wxNullColour, window->timer));
    });

    EXPECT_EQ(display->calls, 1);
    EXPECT_TRUE(display->given.HasBackgroundColour());
    EXPECT_EQ(display->given.GetBackgroundColour(), *wxYELLOW);
    EXPECT_GT(writes, 0);
}

TEST_F(Appearance, RefusedBackgroundIsReportedAndTheTextStillRewritten)
{
    RecordingDisplay* display = recordDisplay(false);
    LogCapture log;

    const int writes = countWrites([this] { chooseBackground(*wxYELLOW); });

    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].level, wxLOG_Error);
    EXPECT_EQ(log.messages()[0].text,
              wxString::FromUTF8("Noksuruutu ei ottanut uutta taustaväriä vastaan."));
    EXPECT_EQ(display->calls, 1);
    EXPECT_GT(writes, 0);
}

} // anonymous namespace
