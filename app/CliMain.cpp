#include "app/CommandLineTool.h"

#include <juce_events/juce_events.h>

int main(int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add(juce::CharPointer_UTF8(argv[i]));

    // The framework's message manager, without a window; settings and formats need it.
    juce::ScopedJuceInitialiser_GUI framework;
    return CommandLineTool::run(args);
}
