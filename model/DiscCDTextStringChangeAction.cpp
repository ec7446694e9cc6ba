#include "model/DiscCDTextStringChangeAction.h"

#include "app/MainComponent.h"

DiscCDTextStringChangeAction::DiscCDTextStringChangeAction(const juce::String& before,
                                                           const juce::String& after,
                                                           juce::String& targetString, MainComponent& owner)
    : oldText(before), newText(after), target(targetString), mainComponent(owner)
{
}

bool DiscCDTextStringChangeAction::perform()
{
    target = newText;
    mainComponent.showDiscInfo();
    return true;
}

bool DiscCDTextStringChangeAction::undo()
{
    target = oldText;
    mainComponent.showDiscInfo();
    return true;
}
