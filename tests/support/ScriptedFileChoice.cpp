#include "support/ScriptedFileChoice.h"

#include <gtest/gtest.h>

ScriptedFileChoice::~ScriptedFileChoice()
{
    FileChoice::install(nullptr);
    EXPECT_TRUE(queued.empty()) << queued.size() << " queued file choice(s) were never asked for";
}

juce::Array<juce::File> ScriptedFileChoice::chooseFilesToOpen(const juce::String& title,
                                                              const juce::String& pattern)
{
    titles.add(title);
    patterns.add(pattern);
    if (queued.empty())
    {
        ADD_FAILURE() << "Unexpected file chooser \"" << title << "\"";
        return {};
    }
    auto files = queued.front();
    queued.pop_front();
    return files;
}
