#include "app/ConsoleInterrupt.h"

#include <atomic>

namespace
{
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler may only touch a lock-free flag");

extern "C" void raiseInterruptFlag(int)
{
    interrupted.store(true);
}
} // namespace

ConsoleInterrupt::ConsoleInterrupt(std::function<void()> callback)
    : juce::Thread("Ctrl-C watcher"), onInterrupt(std::move(callback))
{
    interrupted = false;

    struct sigaction action = {};
    action.sa_handler = raiseInterruptFlag;
    sigemptyset(&action.sa_mask);
    // For one signal only: a second Ctrl-C ends a tool that does not stop for the first.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &previous);

    startThread();
}

ConsoleInterrupt::~ConsoleInterrupt()
{
    stopThread(-1);
    sigaction(SIGINT, &previous, nullptr);
}

bool ConsoleInterrupt::requested()
{
    return interrupted.load();
}

void ConsoleInterrupt::run()
{
    while (!threadShouldExit())
    {
        if (interrupted)
        {
            if (onInterrupt)
                onInterrupt();
            return;
        }
        wait(50);
    }
}
