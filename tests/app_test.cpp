// Start-up: what the application object does with the toolkit's command line
// and the main window.

#include "main.h"
#include "testing.h"

#include <gtest/gtest.h>

#include <wx/toplevel.h>

#include <memory>

namespace
{

// A NoksuApp made here becomes the toolkit's application object for as long
// as it lives; the test harness's own comes back afterwards.
class StartUp : public testing::Test
{
protected:
    StartUp() : m_harness(wxApp::GetInstance()) {}

    ~StartUp() override
    {
        m_app.reset();
        wxApp::SetInstance(m_harness);
    }

    NoksuApp& startApp(std::vector<const char*> args)
    {
        m_app.reset(new NoksuApp);
        args.insert(args.begin(), "noksu");
        m_app->argc = int(args.size());
        m_app->argv.Init(m_app->argc, const_cast<char**>(args.data()));
        return *m_app;
    }

private:
    wxAppConsole* const m_harness;
    std::unique_ptr<NoksuApp> m_app;
};

TEST_F(StartUp, ShowsTheClockAsTheTopWindow)
{
    NoksuApp& app = startApp({});
    LogCapture log;

    ASSERT_TRUE(app.OnInit());

    wxWindow* const window = app.GetTopWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(dynamic_cast<Window*>(window), nullptr);
    EXPECT_TRUE(window->IsShown());
    EXPECT_EQ(window->GetLabel(), "Noksu");
    EXPECT_EQ(app.GetAppName(), "Noksu");
    EXPECT_TRUE(log.messages().empty());

    destroyWindow(window);
}

// The program has no options of its own: whatever the toolkit's parser does
// not accept ends start-up before any window exists, and quietly, since the
// parser has already printed its usage.
TEST_F(StartUp, EndsWithoutWindowWhenTheCommandLineEndsIt)
{
    for ( const char* option : { "--help", "-h", "--no-such-option", "stray-argument" } )
    {
        SCOPED_TRACE(option);
        NoksuApp& app = startApp({ option });
        const size_t windowsBefore = wxTopLevelWindows.size();
        LogCapture log;

        EXPECT_FALSE(app.OnInit());

        EXPECT_EQ(wxTopLevelWindows.size(), windowsBefore);
        EXPECT_TRUE(log.messages().empty());
    }
}

} // anonymous namespace
