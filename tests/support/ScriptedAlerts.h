#pragma once

#include "app/Alerts.h"

#include <deque>

// Records every box and answers questions from a queue of button texts. A question that finds
// no queued answer fails the test; it never picks "Yes" by itself. A box with a single button is
// acknowledged without an answer. Installs itself for its lifetime.
// Progress boxes run a real modal loop (without a window) that the work ends; a queued answer
// naming one of their buttons presses it once the box has run for progressAnswerDelayMs. Each run
// of a progress box is recorded when it ends, with its result.
class ScriptedAlerts : public Alerts
{
public:
    struct Record
    {
        juce::MessageBoxIconType icon;
        juce::String title;
        juce::String message;
        juce::StringArray buttons;
        juce::String answer;
        int result = 0; // the button's result, or for a progress box what ended its run
    };

    // What a test does with the box's custom content before it is answered (sliders, fields).
    using ContentAction = std::function<void(juce::Component&)>;

    ScriptedAlerts();
    ~ScriptedAlerts() override;

    // Queues the button to press at the next box with more than one button.
    void answer(const juce::String& buttonText, ContentAction onContent = {});

    int show(const AlertRequest& request) override;
    std::unique_ptr<ProgressAlert> createProgressBox(const AlertRequest& request, double& progress) override;

    int progressAnswerDelayMs = 300;

    std::vector<Record> records;
    size_t pendingAnswers() const { return answers.size(); }

    // Messages of all records, in order (for compact assertions).
    juce::StringArray titles() const;
    juce::StringArray messages() const;

private:
    class ScriptedProgress;
    std::deque<std::pair<juce::String, ContentAction>> answers;
};
