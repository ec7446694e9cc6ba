#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class MainWindow;

class JucesApplication : public juce::JUCEApplication
{
public:
    JucesApplication();
    ~JucesApplication() override;

    const juce::String getApplicationName() override { return "Brantwick Corvane App"; }
    const juce::String getApplicationVersion() override { return "4.0.1.0"; }
    bool moreThanOneInstanceAllowed() override { return false; }

    void initialise(const juce::String& commandLine) override;
    void anotherInstanceStarted(const juce::String& commandLine) override;
    void systemRequestedQuit() override;
    void shutdown() override;

    MainWindow* getMainWindow() const { return mainWindow.get(); }

private:
    std::unique_ptr<MainWindow> mainWindow;
};
