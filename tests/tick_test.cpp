// The clock tick: which segments of the shown time it replaces.

#include "testing.h"

#include <gtest/gtest.h>

#include <wx/textctrl.h>

#include <ostream>

// Lets failures print the segments.
std::ostream& operator<<(std::ostream& out, const Segment& segment)
{
    return out << "[" << segment.start << "," << segment.end << ")";
}

namespace
{

const Segment hours{ 0, 3 };
const Segment minutes{ 3, 6 };
const Segment seconds{ 6, 8 };

struct Transition
{
    const char* name;
    const char* shown;
    const char* now;
    std::vector<Segment> changed;
};

void PrintTo(const Transition& t, std::ostream* out)
{
    *out << '"' << t.shown << "\" -> \"" << t.now << '"';
}

const Transition transitions[] = {
    { "SameSecond", "12:34:56", "12:34:56", {} },
    { "NextSecond", "12:34:56", "12:34:57", { seconds } },
    { "NextMinute", "12:34:59", "12:35:00", { minutes, seconds } },
    { "NextHour", "12:59:59", "13:00:00", { hours, minutes, seconds } },
    { "Midnight", "23:59:59", "00:00:00", { hours, minutes, seconds } },
    // Segments are compared by position, not by the digits they share.
    { "RepeatedDigits", "10:10:10", "10:10:11", { seconds } },
    { "AllDigitsAlike", "11:11:11", "11:11:12", { seconds } },
    // Ticks held up: the seconds in between never appear.
    { "HeldUpTicks", "12:34:56", "12:35:03", { minutes, seconds } },
    // The clock set back, or daylight saving time ending.
    { "ClockSetBack", "12:35:00", "12:34:59", { minutes, seconds } },
    { "FallBackHour", "03:00:00", "02:00:00", { hours } },
    // A text cut short differs wherever it stops short.
    { "CutInMinutes", "12:34", "12:34:56", { minutes, seconds } },
    { "CutBeforeSeconds", "12:34:", "12:34:56", { seconds } },
    { "Empty", "", "12:34:56", { hours, minutes, seconds } },
};

class Tick : public testing::TestWithParam<Transition>
{};

TEST_P(Tick, ChangedSegmentsInOrder)
{
    const Transition& t = GetParam();
    EXPECT_EQ(changedSegments(t.shown, t.now), t.changed);
}

// The display is only written where the time changed, and ends up showing it.
TEST_P(Tick, ReplacesOnlyTheChangedSegments)
{
    const Transition& t = GetParam();
    TestWindow* const window = new TestWindow;
    window->display->ChangeValue(t.shown);

    int writes = 0;
    window->display->Bind(wxEVT_TEXT, [&writes](wxCommandEvent&) { ++writes; });
    window->showTime(t.now);

    EXPECT_EQ(writes, int(t.changed.size()));
    EXPECT_EQ(window->display->GetValue(), t.now);

    destroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Transitions, Tick, testing::ValuesIn(transitions),
                         [](const testing::TestParamInfo<Transition>& info) {
                             return info.param.name;
                         });

TEST(TimeText, IsTheLocalTimeOnThe24HourClock)
{
    // clang-format off
    const struct { int hour, minute, second; const char* text; } times[] = {
        { 0, 0, 0, "00:00:00" },
        { 9, 5, 7, "09:05:07" },
        { 14, 20, 5, "14:20:05" },
        { 23, 59, 59, "23:59:59" },
    };
    // clang-format on
    for ( const auto& t : times )
    {
        const wxDateTime local(
            wxDateTime::Today().SetHour(t.hour).SetMinute(t.minute).SetSecond(t.second));
        EXPECT_EQ(timeText(local), t.text);
    }
}

} // anonymous namespace
