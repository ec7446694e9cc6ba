#pragma once

#include <juce_core/juce_core.h>

#include <csignal>
#include <functional>

// Ctrl-C for a command of the command-line tool. While an instance lives, the first SIGINT only
// raises a flag; a second one ends the process the ordinary way. The tool's progress boxes poll
// the flag; onInterrupt runs once, on a watcher thread, for work that no box watches (a job
// behind the text progress display). One instance at a time.
class ConsoleInterrupt : private juce::Thread
{
public:
    explicit ConsoleInterrupt(std::function<void()> onInterrupt);
    ~ConsoleInterrupt() override;

    // Any thread: whether SIGINT arrived while an instance lived.
    static bool requested();

private:
    void run() override;

    std::function<void()> onInterrupt;
    struct sigaction previous;
};
