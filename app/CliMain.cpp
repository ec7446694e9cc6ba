#include "app/CommandLineTool.h"

#include <juce_events/juce_events.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add(juce::CharPointer_UTF8(argv[i]));

    // The tool never shows a window, but the framework's modal loops (the transfer boxes) connect
    // to the X display that DISPLAY names, or to ":0" when it names none; an X server that goes
    // away meanwhile would end the tool. A name that cannot be opened keeps it off every display.
    ::setenv("DISPLAY", "none", 1);

    // The framework's message manager, without a window; settings and formats need it.
    juce::ScopedJuceInitialiser_GUI framework;
    return CommandLineTool::run(args);
}
