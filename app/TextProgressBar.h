#pragma once

#include <juce_core/juce_core.h>

// The command-line tool's progress bar: one line on stderr, redrawn in place while it is open.
// Whatever else the tool writes to stderr ends the open line first. Message thread only.
namespace TextProgressBar
{
// Redraws the bar when the progress (0 to 1; below 0 while unknown) or the status differ from
// what the open line shows, and opens a line when none is open.
void draw(double progress, const juce::String& status);

// Ends the open line, if there is one, so that the next output starts on a line of its own.
void endLine();
} // namespace TextProgressBar
