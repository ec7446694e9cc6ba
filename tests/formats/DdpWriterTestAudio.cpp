#include "DdpWriterTestSupport.h"

#include <cmath>

using namespace ddptest;

namespace
{
juce::BlowFish testCipher()
{
    return juce::BlowFish("audio", 5);
}

// Writes a one-item disc from the source and returns the image's samples after the first pregap.
std::vector<juce::int16> programmeOf(const juce::File& source, int sampleFrames)
{
    CDItem disc;
    disc.indexItems.add(fileItem(1, 1, source, sampleFrames));
    const auto out = makeTestFolder("out-" + source.getFileName());
    runWriter(disc, out, testCipher());
    EXPECT_TRUE(disc.writeSucceeded) << disc.errorMessage;
    auto image = readImage(out.getChildFile(disc.writeSucceeded ? "IMAGE.DAT" : "missing"));
    if (image.size() < 150u * 588 * 2)
        return {};
    return {image.begin() + 150 * 588 * 2, image.end()};
}
} // namespace

TEST(DdpWriterAudio, SixteenBitSourcesReachTheImageBitForBit)
{
    const std::vector<SourceFormat> formats{{"wav", 2, 16}, {"aiff", 2, 16}, {"flac", 2, 16},
                                            {"wav", 1, 16}, {"flac", 1, 16}, {"aiff", 1, 16}};
    const int frames = 5000; // not a multiple of 588: the end is padded

    for (const auto& format : formats)
    {
        const auto label = format.extension + " " + juce::String(format.channels) + " channel(s)";
        SCOPED_TRACE(label);
        const auto samples = noise16(frames * format.channels, 11);
        const auto source =
            makeSource(makeTestFolder("src-" + label.replaceCharacter(' ', '-')), "s", format, samples);

        ExpectedImage expected;
        if (format.channels == 2)
        {
            expected.stereo(samples);
        }
        else
        {
            for (auto s : samples)
                expected.stereo({s, s});
        }
        expected.padToFrame();

        EXPECT_EQ(firstDifference(programmeOf(source, frames), expected.samples), -1);
    }
}

// 24-bit integer and 32-bit floating-point sources are dithered to 16 bits: every sample within one
// step of the correctly rounded value, and the error without bias, also above half scale where a
// trip through the framework's float-to-integer conversion would put samples one step low.
TEST(DdpWriterAudio, DeeperSourcesAreDitheredWithinOneStepAndWithoutBias)
{
    const std::vector<SourceFormat> formats{{"wav", 2, 24}, {"flac", 1, 24}, {"wav", 2, 32, true}};
    const int frames = 200000;

    for (const auto& format : formats)
    {
        const auto label =
            format.extension + " " + juce::String(format.channels) + "ch " + juce::String(format.bits);
        SCOPED_TRACE(label);

        // Values in 1/256 steps of 16 bits across the whole range, with the fractions spread evenly.
        juce::Random random(5);
        std::vector<juce::int64> units; // 24-bit units
        for (int i = 0; i < frames * format.channels; ++i)
            units.push_back(random.nextInt(1 << 24) - (1 << 23));
        units[0] = (1 << 23) - 1;
        units[1 % units.size()] = -(1 << 23);
        std::vector<juce::int64> stored;
        for (auto u : units)
            stored.push_back(format.bits == 24 ? u : u * 256); // 32-bit float: u / 2^23 exactly
        const auto source =
            makeSource(makeTestFolder("src-" + label.replaceCharacter(' ', '-')), "s", format, stored);

        const auto image = programmeOf(source, frames);
        ASSERT_GE(image.size(), static_cast<size_t>(frames) * 2);

        double errorSum = 0, errorSumHigh = 0;
        long countHigh = 0, exact = 0;
        for (int frame = 0; frame < frames; ++frame)
        {
            for (int channel = 0; channel < 2; ++channel)
            {
                const auto u = units[static_cast<size_t>(frame * format.channels +
                                                         juce::jmin(channel, format.channels - 1))];
                const auto out = image[static_cast<size_t>(frame * 2 + channel)];
                const auto rounded = juce::jlimit<juce::int64>(-32768, 32767, (u + 128) >> 8);
                ASSERT_LE(std::abs(out - rounded), 1)
                    << "frame " << frame << " channel " << channel << " value " << u;
                const auto error = static_cast<double>(out) * 256 - static_cast<double>(u);
                errorSum += error;
                if (u > (1 << 22) && u < (1 << 23) - 256)
                {
                    errorSumHigh += error;
                    ++countHigh;
                }
                exact += out == rounded;
            }
        }
        // In 24-bit units (1/256 of a 16-bit step); one step low above half scale would give -256.
        EXPECT_LT(std::abs(errorSum / (frames * 2)), 4.0);
        EXPECT_LT(std::abs(errorSumHigh / countHigh), 6.0);
        // Dithered, not merely rounded.
        EXPECT_LT(exact, frames * 2 * 9 / 10);
    }
}

// Files whose lengths are not whole frames follow each other without a gap; an index offset puts
// exactly its frames of silence before its audio; only the end of the disc is padded.
TEST(DdpWriterAudio, FilesJoinWithoutGapsAndIndexOffsetsInsertSilence)
{
    struct Case
    {
        const char* label;
        int indexOffset;
    };
    for (const auto& c : {Case{"joined", 0}, Case{"index offset 10", 10}})
    {
        SCOPED_TRACE(c.label);
        const auto sources = makeTestFolder(juce::String("src-") + juce::String(c.indexOffset));
        const auto first = noise16(2 * 1000, 21), second = noise16(2 * 1500, 22),
                   third = noise16(2 * 700, 23);
        CDItem disc;
        disc.indexItems.add(fileItem(1, 1, makeSource16(sources, "a", first), 1000));
        disc.indexItems.add(
            fileItem(2, 1, makeSource16(sources, "b", second), 1500, 1000 % 588, c.indexOffset));
        disc.indexItems.add(fileItem(2, 2, makeSource16(sources, "c", third), 700, (1000 + 1500) % 588));

        const auto out = makeTestFolder(juce::String("out-") + juce::String(c.indexOffset));
        runWriter(disc, out, testCipher());
        ASSERT_TRUE(disc.writeSucceeded) << disc.errorMessage;

        ExpectedImage expected;
        expected.silence(150 * 588);
        expected.stereo(first);
        expected.silence(c.indexOffset * 588);
        expected.stereo(second);
        expected.stereo(third);
        expected.padToFrame();
        EXPECT_EQ(firstDifference(readImage(out.getChildFile("IMAGE.DAT")), expected.samples), -1);
        EXPECT_EQ(out.getChildFile("IMAGE.DAT").getSize(), (disc.leadOut->start.frames) * 2352);
    }
}
