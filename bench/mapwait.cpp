// Noksu's start-up probe: starts a program and tells how long it took until
// its first top-level window was mapped on the X server named by DISPLAY.
//
//   noksu_mapwait [--timeout SECONDS] [--stay] -- PROGRAM [ARGUMENT...]
//
// It listens to the root window's structure events before starting the
// program, so the time is that of the MapNotify event itself, not of a poll.
// It prints "mapped MILLISECONDS PID" on a line of its own. Without --stay it
// then ends the program (SIGTERM) and waits for it; with --stay it waits for
// the program to end by other hands and prints "ended STATUS CPU_SECONDS",
// the program's whole CPU time from wait4.
//
// Only one program should be starting on that server at a time: any
// top-level window mapped counts as the program's.

#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

double nowSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: noksu_mapwait [--timeout SECONDS] [--stay] -- PROGRAM [ARGUMENT...]\n");
    return 2;
}

// Waits for a top-level window to be mapped; false when the time runs out
// or the program ends first.
bool waitForMap(Display* display, pid_t child, double deadline)
{
    const int fd = ConnectionNumber(display);
    for ( ;; )
    {
        while ( XPending(display) > 0 )
        {
            XEvent event;
            XNextEvent(display, &event);
            if ( event.type == MapNotify && !event.xmap.override_redirect )
                return true;
        }

        if ( waitpid(child, nullptr, WNOHANG) == child )
            return false;

        const double left = deadline - nowSeconds();
        if ( left <= 0 )
            return false;

        pollfd pfd = { fd, POLLIN, 0 };
        // Wake up now and then to notice a program that died early.
        poll(&pfd, 1, left < 0.05 ? int(left * 1000) + 1 : 50);
    }
}

} // anonymous namespace

int main(int argc, char** argv)
{
    double timeout = 30;
    bool stay = false;
    int first = 1;
    for ( ; first < argc; ++first )
    {
        if ( std::strcmp(argv[first], "--timeout") == 0 && first + 1 < argc )
            timeout = std::atof(argv[++first]);
        else if ( std::strcmp(argv[first], "--stay") == 0 )
            stay = true;
        else if ( std::strcmp(argv[first], "--") == 0 )
        {
            ++first;
            break;
        }
        else
            return usage();
    }
    if ( first >= argc )
        return usage();

    Display* display = XOpenDisplay(nullptr);
    if ( !display )
    {
        std::fprintf(stderr, "noksu_mapwait: cannot open display\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double start = nowSeconds();
    const pid_t child = fork();
    if ( child < 0 )
    {
        std::perror("noksu_mapwait: fork");
        return 1;
    }
    if ( child == 0 )
    {
        close(ConnectionNumber(display));
        execvp(argv[first], argv + first);
        std::perror("noksu_mapwait: exec");
        _exit(127);
    }

    const bool mapped = waitForMap(display, child, start + timeout);
    const double elapsed = nowSeconds() - start;
    XCloseDisplay(display);

    if ( !mapped )
    {
        std::fprintf(stderr, "noksu_mapwait: no window from %s\n", argv[first]);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }
    std::printf("mapped %.3f %d\n", elapsed * 1000, int(child));
    std::fflush(stdout);

    if ( !stay )
        kill(child, SIGTERM);

    int status = 0;
    rusage usage = {};
    while ( wait4(child, &status, 0, &usage) < 0 )
    {
        if ( errno != EINTR )
            return 1;
    }
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
                     + usage.ru_stime.tv_usec / 1e6;
    std::printf("ended %d %.6f\n", status, cpu);
    return 0;
}
