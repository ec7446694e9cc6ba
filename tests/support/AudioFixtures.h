#pragma once

#include <juce_core/juce_core.h>

// Audio fixtures made at test time with sox: a file of exactly `samples` sample frames of a
// deterministic signal (a sine, different per channel), in the format its extension and the sox
// options give (e.g. "-b 24", "-e floating-point -b 32", "-t aifc -e signed -b 16").
juce::File makeAudioFile(const juce::File& folder, const juce::String& name, int samples, int rate = 44100,
                         int channels = 2, const juce::String& formatOptions = "-b 16");
