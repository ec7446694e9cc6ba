#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

// Every message box, question and alert window with custom content goes through one Alerts
// object. The application installs the real one; tests install a scripted one that records each
// request and returns the answers the test queued.
struct AlertButton
{
    juce::String text;
    int result = 0; // what the box returns when this button is chosen
};

struct AlertRequest
{
    juce::MessageBoxIconType icon = juce::MessageBoxIconType::NoIcon;
    juce::String title;
    juce::String message;
    std::vector<AlertButton> buttons;
    // Optional content shown inside the box (labels, sliders, text fields); not owned.
    juce::Component* customContent = nullptr;
};

// A modal box that watches work running on another thread (a transfer): a progress bar bound to
// a value the work updates, and buttons with which the user ends the box early. The work ends it
// with its own result through finish().
class ProgressAlert
{
public:
    virtual ~ProgressAlert() = default;

    // Message thread. Shows the box and runs its modal loop until a button is pressed or finish()
    // is called; returns that result. The box may be run again afterwards.
    virtual int runModal() = 0;
    virtual void setMessage(const juce::String& message) = 0;
    virtual void hide() = 0;

    // The component whose modal loop runModal runs.
    virtual juce::Component& getModalComponent() = 0;

    // Any thread holding the message-thread lock: true while runModal's loop runs.
    bool isRunning();
    // Any thread: ends the running loop with this result (nothing when no loop runs).
    void finish(int result);

protected:
    // Message thread. Makes the box modal and runs the message loop until it is dismissed; returns
    // the result it was dismissed with. Unlike the framework's own loop, which looks at its box
    // every 20 ms, this one looks every millisecond: an upload ends a request for every 4 MiB block.
    static int runModalLoopOf(juce::Component& box, bool takeKeyboardFocus);
};

class Alerts
{
public:
    virtual ~Alerts() = default;

    // Shows the box modally on the message thread and returns the chosen button's result.
    virtual int show(const AlertRequest& request) = 0;

    // Creates the box for work on another thread; run it with ProgressAlert::runModal. The bar
    // reads progress on the message thread, so the work writes it under the message-thread lock.
    // By default the framework's alert window; Escape presses the last button.
    virtual std::unique_ptr<ProgressAlert> createProgressBox(const AlertRequest& request, double& progress);

    // The process-wide instance: the installed one, or the real windows when none is installed.
    static Alerts& get();
    static void install(Alerts* alerts); // nullptr restores the real windows; not owned

    // Convenience forms used throughout the application.
    static void error(const juce::String& message);   // warning icon, "Error!", "OK"
    static void warning(const juce::String& message); // warning icon, "Warning!", "OK"
    static void info(const juce::String& title, const juce::String& message);
    // Question icon, "Yes" (true) and "No" (false).
    static bool askYesNo(const juce::String& title, const juce::String& message);
    // Any icon, two buttons: true for the first, false for the second.
    static bool askOkCancel(juce::MessageBoxIconType icon, const juce::String& title,
                            const juce::String& message, const juce::String& button1,
                            const juce::String& button2);
};

// The real boxes: the framework's alert windows, run modally.
class JuceAlerts : public Alerts
{
public:
    int show(const AlertRequest& request) override;
};
