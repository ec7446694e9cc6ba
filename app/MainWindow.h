#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class MainComponent;

// The one document window; owns the tooltip window, the command manager and the MainComponent.
class MainWindow : public juce::DocumentWindow
{
public:
    MainWindow();
    ~MainWindow() override;

    void closeButtonPressed() override;

    MainComponent* getMainComponent() const;
    juce::ApplicationCommandManager& getCommandManager() { return *commandManager; }

    // Applies a stored window-state text; false (and nothing changed) when it does not parse.
    bool restoreWindowState(const juce::String& text);
    juce::String getWindowState();

private:
    std::unique_ptr<juce::TooltipWindow> tooltipWindow;
    std::unique_ptr<juce::ApplicationCommandManager> commandManager;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainWindow)
};
