#pragma once

#include <juce_data_structures/juce_data_structures.h>

class MainComponent;

// Swaps one disc-level string (discTitle, discPerformer or mcn) of the disc.
class DiscCDTextStringChangeAction : public juce::UndoableAction
{
public:
    DiscCDTextStringChangeAction(const juce::String& oldText, const juce::String& newText,
                                 juce::String& target, MainComponent& mainComponent);

    bool perform() override;
    bool undo() override;
    int getSizeInUnits() override { return 10; }

private:
    juce::String oldText;
    juce::String newText;
    juce::String& target;
    MainComponent& mainComponent;
};
