#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The file chooser of the import. The application shows the framework's chooser; tests install
// a scripted one.
class FileChoice
{
public:
    virtual ~FileChoice() = default;

    // Message thread, modal. An empty array when the user cancelled.
    virtual juce::Array<juce::File> chooseFilesToOpen(const juce::String& title,
                                                      const juce::String& patterns) = 0;

    static FileChoice& get();
    static void install(FileChoice* choice); // nullptr restores the real chooser; not owned
};

class JuceFileChoice : public FileChoice
{
public:
    juce::Array<juce::File> chooseFilesToOpen(const juce::String& title,
                                              const juce::String& patterns) override;
};
