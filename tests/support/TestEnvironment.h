#pragma once

#include <juce_core/juce_core.h>

// Points HOME, XDG_CONFIG_HOME and TMPDIR at fresh folders for the life of the object, so that no
// test touches the real user's files. Removes the folders afterwards.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    static juce::File root(); // the current test process's folder
    static juce::File home();
    static juce::File configHome();
    static juce::File temp();

private:
    juce::File folder;
};

// A fresh empty folder below the test process's temporary folder.
juce::File makeTestFolder(const juce::String& name);

// Runs a command line; returns its exit code and fills output with what it printed.
int runCommand(const juce::String& commandLine, juce::String* output = nullptr);
