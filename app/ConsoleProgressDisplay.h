#pragma once

#include "app/Progress.h"

// Runs a job on its own thread and draws a text progress bar on stderr while the calling thread
// waits. cancel() (safe from a signal-watching thread) asks the job to stop.
class ConsoleProgressDisplay : public ProgressDisplay
{
public:
    bool runJob(ProgressJob& job) override;

    void cancel() { cancelRequested = true; }

private:
    std::atomic<bool> cancelRequested{false};
};
