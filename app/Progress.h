#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>

class ProgressJob;

// Where a running job's progress goes: a progress window, a text bar, or a test's record.
// Called on the job's worker thread.
class ProgressReporter
{
public:
    virtual ~ProgressReporter() = default;
    virtual void progressChanged(double progress) = 0;
    virtual void statusChanged(const juce::String& status) = 0;
};

// Runs a job on a worker thread while the message thread waits, showing its progress. The
// application shows the framework's progress window; the command-line tool prints a text bar;
// tests install their own.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay() = default;
    // Message thread. True when the job ran to its end without being cancelled.
    virtual bool runJob(ProgressJob& job) = 0;

    static ProgressDisplay& get();
    static void install(ProgressDisplay* display); // nullptr restores the progress window; not owned
};

// A long job (writing a fileset, copying a disc) with the look of its progress window.
// run() executes on a worker thread; everything else may be called from either side.
class ProgressJob
{
public:
    ProgressJob(const juce::String& title, bool hasProgressBar, bool hasCancelButton, int stopTimeoutMs);
    virtual ~ProgressJob() = default;

    // The job's body, on the worker thread. It polls threadShouldExit().
    virtual void run() = 0;

    // Message thread: runs the job behind the installed display; false when cancelled.
    bool runThread();

    void setProgress(double newProgress);
    void setStatusMessage(const juce::String& newStatus);
    double getProgress() const { return progress.load(); }
    juce::String getStatusMessage() const;

    // True when the thread running the job has been asked to stop.
    static bool threadShouldExit() { return juce::Thread::currentThreadShouldExit(); }

    const juce::String title;
    const bool hasProgressBar;
    const bool hasCancelButton;
    const int stopTimeoutMs;

    // Set by the display for the duration of runJob.
    std::atomic<ProgressReporter*> reporter{nullptr};

private:
    std::atomic<double> progress{0.0};
    mutable juce::CriticalSection statusLock;
    juce::String status;

    JUCE_DECLARE_NON_COPYABLE(ProgressJob)
};

// The framework's modal progress window with its thread.
class JuceProgressDisplay : public ProgressDisplay
{
public:
    bool runJob(ProgressJob& job) override;
};
