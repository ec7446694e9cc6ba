#pragma once

#include <juce_core/juce_core.h>

// corvane-cli: the master, inspect and deliver commands, headless, through the same import,
// validation, writer, reader and plant connection as the application. Boxes go to stderr with
// their title; every failure gives a non-zero exit code.
class CommandLineTool
{
public:
    // args without the program name; returns the process's exit code.
    static int run(const juce::StringArray& args);

    static juce::String usage();
};
