#include "formats/DummyAudioFormat.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

TEST(DummyAudioFormat, DescribesStereoSilenceAndMakesNoWriters)
{
    DummyAudioFormat format;
    EXPECT_EQ(format.getFormatName(), "Dummy data file");
    EXPECT_EQ(format.getFileExtensions(), juce::StringArray(""));
    EXPECT_EQ(format.getPossibleSampleRates(), juce::Array<int>(44100));
    EXPECT_EQ(format.getPossibleBitDepths(), juce::Array<int>(16));
    EXPECT_TRUE(format.canDoStereo());
    EXPECT_FALSE(format.canDoMono());

    juce::MemoryBlock sink;
    auto* stream = new juce::MemoryOutputStream(sink, false);
    EXPECT_EQ(format.createWriterFor(stream, 44100.0, 2u, 16, {}, 0), nullptr);
    delete stream; // still the caller's

    std::unique_ptr<juce::AudioFormatReader> reader(format.createReaderFor(nullptr, true));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->getFormatName(), "Dummy data file");
    EXPECT_EQ(reader->sampleRate, 44100.0);
    EXPECT_EQ(reader->bitsPerSample, 16u);
    EXPECT_EQ(reader->numChannels, 2u);
    EXPECT_FALSE(reader->usesFloatingPointData);
    EXPECT_EQ(reader->lengthInSamples, 0);
}

TEST(DummyAudioFormatReader, GivesSilenceOfTheLengthTheCallerSets)
{
    DummyAudioFormat format;
    const char text[] = "not audio at all";
    auto* stream = new juce::MemoryInputStream(text, sizeof(text), false);
    std::unique_ptr<juce::AudioFormatReader> reader(format.createReaderFor(stream, true));
    ASSERT_NE(reader, nullptr);
    reader->lengthInSamples = 150 * 588;

    juce::AudioBuffer<float> buffer(2, 88200);
    for (int channel = 0; channel < 2; ++channel)
        juce::FloatVectorOperations::fill(buffer.getWritePointer(channel), 0.5f, buffer.getNumSamples());
    ASSERT_TRUE(reader->read(&buffer, 0, 88200, 0, true, true));
    for (int channel = 0; channel < 2; ++channel)
    {
        const auto range = juce::FloatVectorOperations::findMinAndMax(buffer.getReadPointer(channel), 88200);
        EXPECT_EQ(range.getStart(), 0.0f) << "channel " << channel;
        EXPECT_EQ(range.getEnd(), 0.0f) << "channel " << channel;
    }

    // Only the requested range of the channels asked for is cleared.
    std::vector<int> right(6, 9);
    int* channels[] = {nullptr, right.data()};
    ASSERT_TRUE(reader->readSamples(channels, 2, 2, 1000, 3));
    EXPECT_EQ(right, (std::vector<int>{9, 9, 0, 0, 0, 9}));

    EXPECT_EQ(stream->getPosition(), 0); // never read
}
