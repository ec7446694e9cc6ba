#include "app/ConsoleProgressDisplay.h"

#include "app/TextProgressBar.h"

namespace
{
class JobThread : public juce::Thread
{
public:
    explicit JobThread(ProgressJob& jobToRun) : juce::Thread("job"), job(jobToRun) {}

    void run() override { job.run(); }

private:
    ProgressJob& job;
};
} // namespace

bool ConsoleProgressDisplay::runJob(ProgressJob& job)
{
    JobThread thread(job);
    thread.startThread();

    while (thread.isThreadRunning())
    {
        if (cancelRequested)
            thread.signalThreadShouldExit();
        TextProgressBar::draw(job.getProgress(), job.getStatusMessage());
        juce::Thread::sleep(50);
    }
    TextProgressBar::draw(job.getProgress() < 0 ? 1.0 : job.getProgress(), job.getStatusMessage());
    TextProgressBar::endLine();
    thread.stopThread(job.stopTimeoutMs);
    return !cancelRequested;
}
