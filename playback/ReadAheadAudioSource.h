#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>

// Reads a positionable source ahead of playback into a ring of samples, on a shared background
// thread, so that the audio thread never touches a file.
//
// Unlike the framework's BufferingAudioSource, the reading side takes no lock and allocates
// nothing, also when it repositions: a new position starts a new fill generation that the
// background thread picks up on its next time slice, and until that data is there the reading
// side simply sees fewer samples ready (getNumReady). A reader that wants no gap asks first.
//
// Threads: the reading side (getNextAudioBlock, setNextReadPosition, getNextReadPosition,
// getNumReady) is meant for one thread at a time, serialised by the owner's lock; prepareToPlay,
// releaseResources and destruction belong to the message thread, never concurrently with
// reading. The wrapped source is used only by the background thread once prepared.
// Sources that loop are not supported: positions run straight on.
class ReadAheadAudioSource : public juce::PositionableAudioSource, private juce::TimeSliceClient
{
public:
    // Buffers max(bufferSizeSamples, 1024) samples (at least two blocks once prepared) of
    // numChannels channels. Filling starts with prepareToPlay.
    ReadAheadAudioSource(std::unique_ptr<juce::PositionableAudioSource> source, juce::TimeSliceThread& thread,
                         int bufferSizeSamples, int numChannels);
    ~ReadAheadAudioSource() override;

    void prepareToPlay(int samplesPerBlockExpected, double sampleRate) override;
    void releaseResources() override;
    // Copies what is ready, writes zeros for the rest, and always advances by info.numSamples.
    void getNextAudioBlock(const juce::AudioSourceChannelInfo& info) override;

    void setNextReadPosition(juce::int64 newPosition) override;
    juce::int64 getNextReadPosition() const override { return position; }
    juce::int64 getTotalLength() const override { return totalLength; }
    bool isLooping() const override;

    // How many of the next numSamples samples can be read as real data, counted from the read
    // position without a gap. Positions before 0 or past the source's end count as ready (they
    // read as zeros).
    int getNumReady(int numSamples) const;

    // Waits up to timeoutMs until getNumReady(numSamples) == numSamples. Only while nothing
    // reads from this source.
    bool waitUntilReady(int numSamples, int timeoutMs) const;

    // Asks the background thread to serve this source next (takes the thread's lock: not for the
    // audio thread).
    void requestFill();

private:
    int useTimeSlice() override;
    void resetFill();

    const std::unique_ptr<juce::PositionableAudioSource> source;
    juce::TimeSliceThread& thread;
    const int minimumBufferSize;
    const int numChannels;
    const juce::int64 totalLength;

    juce::AudioBuffer<float> ring;
    bool prepared = false;
    double preparedSampleRate = 0.0;

    // Reading side.
    juce::int64 position = 0;
    juce::uint32 generation = 0;

    // Shared: the reading side publishes where it is and which generation it reads; the
    // background thread publishes (generation, end of the data valid in the ring) as one value.
    std::atomic<juce::int64> readPosition{0};
    std::atomic<juce::uint32> requestedGeneration{0};
    std::atomic<juce::uint64> filled{0};

    // Background thread.
    juce::uint32 fillGeneration = 0;
    juce::int64 fillEnd = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ReadAheadAudioSource)
};
