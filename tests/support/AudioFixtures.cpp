#include "support/AudioFixtures.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

juce::File makeAudioFile(const juce::File& folder, const juce::String& name, int samples, int rate,
                         int channels, const juce::String& formatOptions)
{
    const auto file = folder.getChildFile(name);
    juce::String command;
    // The rate and channels are given to the null input too, so that sox makes exactly `samples`
    // frames instead of resampling from its default rate.
    command << "sox -r " << rate << " -c " << channels << " -n -r " << rate << " -c " << channels << " "
            << formatOptions << " " << file.getFullPathName().quoted() << " synth " << samples
            << "s sine 440 sine 660 sine 880 vol 0.5";
    juce::String output;
    const auto exitCode = runCommand(command, &output);
    EXPECT_EQ(exitCode, 0) << command << "\n" << output;
    return file;
}
