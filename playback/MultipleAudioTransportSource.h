#pragma once

#include "playback/ReadAheadAudioSource.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>
#include <memory>
#include <vector>

// One stretch of the timeline: source samples [startSample, endSample) of source. After
// MultipleAudioTransportSource::addSource, source is the read-ahead buffer (which then owns the
// source given) when the entry is read ahead, else the source given.
struct PlayerEntry
{
    PlayerEntry() = default;
    PlayerEntry(std::unique_ptr<juce::PositionableAudioSource> sourceToPlay, juce::int64 start,
                juce::int64 end)
        : source(std::move(sourceToPlay)), startSample(start), endSample(end)
    {
    }

    std::unique_ptr<juce::PositionableAudioSource> source;
    juce::int64 startSample = 0;
    juce::int64 endSample = 0;
    // The source does not have 16 bits per sample (the master will be dithered to 16 bits).
    bool notSixteenBits = false;
};

// What an entry plays, for displays and checks (message thread).
struct PlayerEntryInfo
{
    juce::int64 startSample = 0;
    juce::int64 endSample = 0;
    bool notSixteenBits = false;
};

// Plays a list of entries back to back as one timeline, sample-exactly, through the framework's
// transport interface. Each entry has its own chain: its source, a read-ahead buffer, and a
// resampler when the source's rate differs from the device's.
//
// Positions (setNextReadPosition, getNextReadPosition, getTotalLength) are device samples. An
// entry lasts endSample - startSample samples without a resampler, and that many source samples
// converted to the device rate (rounded up) with one.
//
// Threads: the audio device thread calls getNextAudioBlock; everything else belongs to the
// message thread. Every operation takes `lock`; the audio thread takes no other lock that another
// thread may hold, never allocates, and sends no message itself: the change message for the end
// of the timeline is sent by a timer on the message thread. When an entry's read-ahead data is
// not there yet, the timeline waits (the block is completed with silence) instead of skipping it.
class MultipleAudioTransportSource : public juce::AudioTransportSource, private juce::Timer
{
public:
    MultipleAudioTransportSource();
    ~MultipleAudioTransportSource() override;

    void prepareToPlay(int samplesPerBlockExpected, double newSampleRate) override;
    // Also empties the list: it must be rebuilt before the next playback.
    void releaseResources() override;
    void getNextAudioBlock(const juce::AudioSourceChannelInfo& info) override;
    // Makes the entry holding newPosition current; positions at or past the end (or negative)
    // change nothing.
    void setNextReadPosition(juce::int64 newPosition) override;
    juce::int64 getNextReadPosition() const override;
    juce::int64 getTotalLength() const override;
    bool isLooping() const override;

    // Appends an entry. readAheadSize >= 1 (with a thread) buffers that many samples ahead;
    // sourceSampleRate 0 plays the source at the device rate. Builds the chain on the calling
    // thread and takes the lock only to append it.
    void addSource(std::unique_ptr<PlayerEntry> entry, int readAheadSize,
                   juce::TimeSliceThread* readAheadThread, double sourceSampleRate);
    // Empties the list; the chains are released and deleted outside the lock.
    void clearSources();

    // Plays from the current position, with a fade-in; nothing happens when already playing or
    // when there is no entry to play.
    void start();
    // Fades out and waits (up to a second) until the audio thread has stopped.
    void stop();

    // These hide the base class's versions, which are not virtual and know nothing of the list:
    // call them on the player's own type.
    bool isPlaying() const noexcept { return playing; }
    // True once playback has run to the end of the last entry, until the next start or jump.
    bool hasStreamFinished() const noexcept { return inputStreamEOF; }
    double getSampleRate() const noexcept { return sampleRate; }
    int getNumEntries() const;
    std::vector<PlayerEntryInfo> describeEntries() const;

    // Samples of a fade-in or fade-out.
    static constexpr int fadeLength = 256;

private:
    struct Chain;

    void timerCallback() override;
    void configure(Chain& chain);
    void seek(Chain& chain, juce::int64 deviceOffset);
    int readyToRender(const Chain& chain, int numSamples) const;
    void requestFillFromCurrentEntry();
    int render(juce::AudioBuffer<float>& buffer, int startSample, int numSamples, bool& reachedEnd);
    std::vector<std::unique_ptr<Chain>> takeChains();
    static void destroy(std::vector<std::unique_ptr<Chain>> chains);

    std::vector<std::unique_ptr<Chain>> chains;
    juce::CriticalSection lock;
    std::atomic<bool> playing{false};
    std::atomic<bool> stopped{true};
    bool wasPlaying = false;
    double sampleRate = 44100.0;
    int blockSize = 128;
    bool isPrepared = false;
    std::atomic<bool> inputStreamEOF{false};
    // Set by the audio thread at the end of the timeline; the timer sends the change message.
    std::atomic<bool> endMessagePending{false};
    int currentEntry = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MultipleAudioTransportSource)
};
