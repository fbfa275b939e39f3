// Noksu's tick, instruction by instruction: drives the clock window's tick
// path with fixed times so that callgrind can count what one tick costs when
// nothing changes and when a segment does.
//
//   noksu_tick_cost same|seconds|all [TICKS]
//
//   same     every tick shows 12:34:56 again: nothing to replace;
//   seconds  ticks alternate 12:34:56 and 12:34:57: the seconds change;
//   all      ticks alternate 09:59:59 and 10:00:00: every segment changes.
//
// Run it under callgrind with --toggle-collect='noksu_bench::tick*' so that
// only the ticks are counted, not the start-up; the window's own timer is
// stopped so that the time shown is only ever the one given here. Between
// ticks the toolkit's pending events are processed, as the event loop would.

#include "window.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

struct BenchWindow : Window
{
    BenchWindow() : Window("noksu_tick_cost") {}

    using Window::display;
    using Window::showTime;
    using Window::timer;
};

wxDateTime today(int hour, int minute, int second)
{
    wxDateTime time = wxDateTime::Today();
    time.SetHour(hour);
    time.SetMinute(minute);
    time.SetSecond(second);
    return time;
}

void settle()
{
    for ( int i = 0; i < 5; ++i )
        wxYield();
}

} // anonymous namespace

namespace noksu_bench
{

// One tick as Window::onTimer does it, with a given time instead of now.
// Kept out of line: callgrind counts from its entry to its return.
__attribute__((noinline)) void tick(BenchWindow& window, const wxDateTime& time)
{
    window.showTime(timeText(time));
}

} // namespace noksu_bench

namespace
{

int run(int ticks, const wxDateTime& first, const wxDateTime& second, const char* scenario)
{
    // wxYield() needs a loop to run the pending events in.
    wxEventLoop loop;
    wxEventLoopActivator activate(&loop);

    BenchWindow* window = new BenchWindow;
    window->timer->Stop();
    window->Show(true);
    settle();

    // Start from the second time shown, so that the first counted tick is
    // like every other.
    window->showTime(timeText(second));
    settle();

    for ( int i = 0; i < ticks; ++i )
    {
        noksu_bench::tick(*window, i % 2 == 0 ? first : second);
        wxYield();
    }

    const wxString shown = window->display->GetValue();
    const wxString expected = timeText(ticks % 2 == 0 ? second : first);
    window->Destroy();
    settle();

    if ( shown != expected )
    {
        std::fprintf(stderr, "noksu_tick_cost: shows %s, expected %s\n",
                     static_cast<const char*>(shown.utf8_str()),
                     static_cast<const char*>(expected.utf8_str()));
        return 1;
    }
    std::printf("%s: %d ticks, shows %s\n", scenario, ticks,
                static_cast<const char*>(shown.utf8_str()));
    return 0;
}

} // anonymous namespace

int main(int argc, char** argv)
{
    if ( argc < 2 )
    {
        std::fprintf(stderr, "usage: noksu_tick_cost same|seconds|all [TICKS]\n");
        return 2;
    }
    const char* const scenario = argv[1];
    const int ticks = argc > 2 ? std::atoi(argv[2]) : 1000;

    wxDateTime first, second;
    if ( std::strcmp(scenario, "same") == 0 )
        first = second = today(12, 34, 56);
    else if ( std::strcmp(scenario, "seconds") == 0 )
        first = today(12, 34, 56), second = today(12, 34, 57);
    else if ( std::strcmp(scenario, "all") == 0 )
        first = today(9, 59, 59), second = today(10, 0, 0);
    else
    {
        std::fprintf(stderr, "noksu_tick_cost: unknown scenario %s\n", scenario);
        return 2;
    }

    // A plain GUI application object, so that the toolkit opens the display;
    // it gets only the program's name, the rest of the command line is ours.
    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    if ( !wxEntryStart(wxArgc, argv) )
    {
        std::fprintf(stderr, "noksu_tick_cost: cannot initialise the toolkit\n");
        return 1;
    }
    int result = run(ticks, first, second, scenario);
    wxEntryCleanup();
    return result;
}
