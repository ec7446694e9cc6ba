#include "app/Progress.h"

namespace
{
ProgressDisplay* installedDisplay = nullptr;

// The framework's progress window running the job on its own thread.
class JobWindow : public juce::ThreadWithProgressWindow, private ProgressReporter
{
public:
    explicit JobWindow(ProgressJob& jobToRun)
        : juce::ThreadWithProgressWindow(jobToRun.title, jobToRun.hasProgressBar, jobToRun.hasCancelButton,
                                         jobToRun.stopTimeoutMs),
          job(jobToRun)
    {
        job.reporter = this;
        setStatusMessage(job.getStatusMessage());
    }

    ~JobWindow() override { job.reporter = nullptr; }

    void run() override { job.run(); }

private:
    void progressChanged(double value) override { setProgress(value); }
    void statusChanged(const juce::String& text) override { setStatusMessage(text); }

    ProgressJob& job;
};
} // namespace

ProgressDisplay& ProgressDisplay::get()
{
    static JuceProgressDisplay realDisplay;
    return installedDisplay != nullptr ? *installedDisplay : realDisplay;
}

void ProgressDisplay::install(ProgressDisplay* display)
{
    installedDisplay = display;
}

ProgressJob::ProgressJob(const juce::String& jobTitle, bool progressBar, bool cancelButton, int timeoutMs)
    : title(jobTitle), hasProgressBar(progressBar), hasCancelButton(cancelButton), stopTimeoutMs(timeoutMs)
{
}

bool ProgressJob::runThread()
{
    return ProgressDisplay::get().runJob(*this);
}

void ProgressJob::setProgress(double newProgress)
{
    progress = newProgress;
    if (auto* r = reporter.load())
        r->progressChanged(newProgress);
}

void ProgressJob::setStatusMessage(const juce::String& newStatus)
{
    {
        const juce::ScopedLock sl(statusLock);
        status = newStatus;
    }
    if (auto* r = reporter.load())
        r->statusChanged(newStatus);
}

juce::String ProgressJob::getStatusMessage() const
{
    const juce::ScopedLock sl(statusLock);
    return status;
}

bool JuceProgressDisplay::runJob(ProgressJob& job)
{
    JobWindow window(job);
    return window.runThread();
}
