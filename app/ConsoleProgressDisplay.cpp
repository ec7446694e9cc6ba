#include "app/ConsoleProgressDisplay.h"

#include <iostream>

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

void draw(double progress, const juce::String& status)
{
    constexpr int width = 30;
    juce::String bar;
    if (progress < 0)
        bar = juce::String::repeatedString("~", width);
    else
    {
        const auto filled = juce::jlimit(0, width, juce::roundToInt(progress * width));
        bar = juce::String::repeatedString("#", filled) + juce::String::repeatedString(" ", width - filled);
    }
    const auto percent = progress < 0 ? juce::String("   ")
                                      : juce::String(juce::roundToInt(progress * 100)).paddedLeft(' ', 3);
    std::cerr << "\r[" << bar << "] " << percent << "% " << status.replace("\r\n", " ").paddedRight(' ', 40)
              << std::flush;
}
} // namespace

bool ConsoleProgressDisplay::runJob(ProgressJob& job)
{
    JobThread thread(job);
    thread.startThread();

    double lastProgress = -2;
    juce::String lastStatus;
    while (thread.isThreadRunning())
    {
        if (cancelRequested)
            thread.signalThreadShouldExit();

        const auto progress = job.getProgress();
        const auto status = job.getStatusMessage();
        if (progress != lastProgress || status != lastStatus)
        {
            draw(progress, status);
            lastProgress = progress;
            lastStatus = status;
        }
        juce::Thread::sleep(50);
    }
    draw(job.getProgress() < 0 ? 1.0 : job.getProgress(), job.getStatusMessage());
    std::cerr << std::endl;
    thread.stopThread(job.stopTimeoutMs);
    return !cancelRequested;
}
