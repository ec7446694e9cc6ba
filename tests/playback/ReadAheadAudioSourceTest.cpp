#include "playback/ReadAheadAudioSource.h"

#include <gtest/gtest.h>

namespace
{
// Every sample tells where it came from: position and channel.
float valueAt(juce::int64 position, int channel, juce::int64 length)
{
    if (position < 0 || position >= length)
        return 0.0f;
    const float value = float(position % 8191 + 1) / 8192.0f;
    return channel == 0 ? value : -value;
}

class PositionSource : public juce::PositionableAudioSource
{
public:
    explicit PositionSource(juce::int64 numSamples) : length(numSamples) {}
    void prepareToPlay(int, double) override {}
    void releaseResources() override {}
    void getNextAudioBlock(const juce::AudioSourceChannelInfo& info) override
    {
        for (int channel = 0; channel < info.buffer->getNumChannels(); ++channel)
            for (int i = 0; i < info.numSamples; ++i)
                info.buffer->setSample(channel, info.startSample + i, valueAt(position + i, channel, length));
        position += info.numSamples;
    }
    void setNextReadPosition(juce::int64 p) override { position = p; }
    juce::int64 getNextReadPosition() const override { return position; }
    juce::int64 getTotalLength() const override { return length; }
    bool isLooping() const override { return false; }

private:
    juce::int64 length;
    juce::int64 position = 0;
};
} // namespace

// Random jumps and reads while the background thread fills: what is reported ready is exactly the
// source's samples, what is not ready reads as either the right sample or silence, never as
// another position's data; after a wait everything asked for is there.
TEST(ReadAheadAudioSource, NeverDeliversSamplesOfAnotherPosition)
{
    constexpr juce::int64 length = 200000;
    juce::TimeSliceThread thread("audio file preview");
    thread.startThread();
    ReadAheadAudioSource readAhead(std::make_unique<PositionSource>(length), thread, 4096, 2);
    readAhead.prepareToPlay(256, 44100.0);

    juce::Random random(20260101);
    juce::AudioBuffer<float> block(2, 600);
    int readsWithoutWaiting = 0, missesSeen = 0;
    for (int step = 0; step < 4000; ++step)
    {
        if (random.nextInt(5) == 0)
        {
            readAhead.setNextReadPosition(random.nextInt(int(length) + 12000) - 2000);
            continue;
        }

        const int n = 1 + random.nextInt(600);
        const bool wait = random.nextBool();
        if (wait)
            ASSERT_TRUE(readAhead.waitUntilReady(n, 5000));
        const int ready = readAhead.getNumReady(n);
        const auto position = readAhead.getNextReadPosition();
        readAhead.getNextAudioBlock(juce::AudioSourceChannelInfo(&block, 0, n));
        ASSERT_EQ(readAhead.getNextReadPosition(), position + n);
        if (wait)
            ASSERT_EQ(ready, n);
        else
            ++readsWithoutWaiting;
        if (ready < n)
            ++missesSeen;

        for (int channel = 0; channel < 2; ++channel)
            for (int i = 0; i < n; ++i)
            {
                const float want = valueAt(position + i, channel, length);
                const float got = block.getSample(channel, i);
                if (i < ready)
                    ASSERT_EQ(got, want) << "position " << position + i;
                else
                    ASSERT_TRUE(got == want || got == 0.0f) << "position " << position + i;
            }
    }
    EXPECT_GT(readsWithoutWaiting, 0);
    EXPECT_GT(missesSeen, 0) << "the test never caught the reader ahead of the background thread";
}

// Positioning to where it already is keeps what has been read ahead.
TEST(ReadAheadAudioSource, StayingPutKeepsTheBufferedData)
{
    juce::TimeSliceThread thread("audio file preview");
    thread.startThread();
    ReadAheadAudioSource readAhead(std::make_unique<PositionSource>(100000), thread, 32768, 2);
    readAhead.prepareToPlay(512, 44100.0);
    readAhead.setNextReadPosition(5000);
    ASSERT_TRUE(readAhead.waitUntilReady(20000, 5000));

    thread.stopThread(2000); // nothing can refill from here on
    readAhead.setNextReadPosition(5000);
    EXPECT_EQ(readAhead.getNumReady(20000), 20000);
    readAhead.setNextReadPosition(5001);
    EXPECT_EQ(readAhead.getNumReady(20000), 0);
    // Outside the source there is nothing to wait for.
    readAhead.setNextReadPosition(100000);
    EXPECT_EQ(readAhead.getNumReady(512), 512);
}
