#pragma once

#include "app/Alerts.h"

#include <deque>

// Records every box and answers questions from a queue of button texts. A question that finds
// no queued answer fails the test; it never picks "Yes" by itself. A box with a single button is
// acknowledged without an answer. Installs itself for its lifetime.
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
    };

    // What a test does with the box's custom content before it is answered (sliders, fields).
    using ContentAction = std::function<void(juce::Component&)>;

    ScriptedAlerts();
    ~ScriptedAlerts() override;

    // Queues the button to press at the next box with more than one button.
    void answer(const juce::String& buttonText, ContentAction onContent = {});

    int show(const AlertRequest& request) override;

    std::vector<Record> records;
    size_t pendingAnswers() const { return answers.size(); }

    // Messages of all records, in order (for compact assertions).
    juce::StringArray titles() const;
    juce::StringArray messages() const;

private:
    std::deque<std::pair<juce::String, ContentAction>> answers;
};
