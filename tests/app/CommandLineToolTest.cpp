#include "support/AudioFixtures.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace
{
const juce::String cli = juce::String(CORVANE_BINARY_DIR) + "/corvane-cli";

int runCli(const juce::String& arguments, juce::String& output)
{
    return runCommand(cli.quoted() + " " + arguments, &output);
}
} // namespace

TEST(CommandLineTool, MasterThenInspectRoundTrip)
{
    const auto folder = makeTestFolder("cli");
    makeAudioFile(folder, "b.wav", 588 * 300 + 100);
    makeAudioFile(folder, "a.flac", 588 * 200);
    const auto out = folder.getChildFile("master");

    juce::String output;
    const auto args = "master --title \"Night Drive\" --mcn 4006381333931 --track-title 2 Second --isrc 2 "
                      "DEABC2400002 --plain --out " +
                      out.getFullPathName().quoted() + " " +
                      folder.getChildFile("b.wav").getFullPathName().quoted() + " " +
                      folder.getChildFile("a.flac").getFullPathName().quoted();
    ASSERT_EQ(runCli(args, output), 0) << output;
    EXPECT_TRUE(output.contains("01    01    00:02:00")) << output;
    EXPECT_TRUE(output.contains("02    00    00:04:60  00:02:00  DEABC2400002")) << output;
    EXPECT_TRUE(output.contains(" *IMAGE.DAT")) << output;

    ASSERT_EQ(runCli("inspect " + out.getFullPathName().quoted(), output), 0) << output;
    EXPECT_TRUE(output.contains("level \"DDP 2.00\", UPC/EAN \"4006381333931\"")) << output;
    EXPECT_TRUE(output.contains("Disc: title \"Night Drive\"")) << output;
    EXPECT_TRUE(output.contains("Track 2: title \"Second\"")) << output;
    EXPECT_TRUE(output.contains("OK       IMAGE.DAT")) << output;

    // A damaged image fails the check.
    juce::FileOutputStream(out.getChildFile("IMAGE.DAT")).writeByte(1);
    EXPECT_NE(runCli("inspect " + out.getFullPathName().quoted(), output), 0);
    EXPECT_TRUE(output.contains("FAILED   IMAGE.DAT")) << output;
}

TEST(CommandLineTool, FailuresExitNonZeroAndWriteNothing)
{
    const auto folder = makeTestFolder("cli");
    const auto wav = makeAudioFile(folder, "a.wav", 588 * 400).getFullPathName().quoted();
    const auto out = folder.getChildFile("master");
    juce::String output;

    // A wrong MCN check digit is a warning: without --yes nothing is written.
    EXPECT_EQ(
        runCli("master --mcn 4006381333935 --out " + out.getFullPathName().quoted() + " " + wav, output), 1);
    EXPECT_TRUE(output.contains("Invalid MCN checksum digit found at position 13!")) << output;
    EXPECT_FALSE(out.exists());

    EXPECT_EQ(runCli("master --bogus --out x " + wav, output), 2);
    EXPECT_TRUE(output.contains("unknown option --bogus")) << output;

    EXPECT_EQ(runCli("master --out " + out.getFullPathName().quoted() + " missing.wav", output), 1);
    EXPECT_TRUE(output.contains("File not found: missing.wav.")) << output;
    EXPECT_FALSE(out.exists());

    EXPECT_EQ(runCli("inspect " + folder.getChildFile("nothing").getFullPathName().quoted(), output), 1);
    EXPECT_EQ(runCli("--help", output), 0);
    EXPECT_TRUE(output.contains("--track-performer N TEXT")) << output;
}
