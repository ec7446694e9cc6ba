#pragma once

#include "app/FileChoice.h"

#include <deque>

// Answers the import's file chooser with queued file lists (an empty list is a cancel). A chooser
// opened with nothing queued fails the test. Installs itself for its lifetime.
class ScriptedFileChoice : public FileChoice
{
public:
    ScriptedFileChoice() { FileChoice::install(this); }
    ~ScriptedFileChoice() override;

    void choose(juce::Array<juce::File> files) { queued.push_back(std::move(files)); }

    juce::Array<juce::File> chooseFilesToOpen(const juce::String& title,
                                              const juce::String& patterns) override;

    juce::StringArray titles;
    juce::StringArray patterns;

private:
    std::deque<juce::Array<juce::File>> queued;
};
