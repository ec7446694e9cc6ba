#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

// Digital silence for items without a source file and for the silence before an item's audio.
// Readers only; the caller sets the reader's lengthInSamples right after creating it.
class DummyAudioFormat : public juce::AudioFormat
{
public:
    DummyAudioFormat();
    ~DummyAudioFormat() override = default;

    juce::Array<int> getPossibleSampleRates() override;
    juce::Array<int> getPossibleBitDepths() override;
    bool canDoStereo() override;
    bool canDoMono() override;

    // Always a reader of length 0; the stream (may be null) is kept as its input and never read.
    juce::AudioFormatReader* createReaderFor(juce::InputStream* sourceStream,
                                             bool deleteStreamIfOpeningFails) override;

    // Always null: silence is never written through this format.
    juce::AudioFormatWriter* createWriterFor(juce::OutputStream* streamToWriteTo, double sampleRateToUse,
                                             unsigned int numberOfChannels, int bitsPerSample,
                                             const juce::StringPairArray& metadataValues,
                                             int qualityOptionIndex) override;
    using juce::AudioFormat::createWriterFor;
};

// 44.1 kHz stereo 16-bit silence of lengthInSamples sample frames. Owns the stream it was given.
class DummyAudioFormatReader : public juce::AudioFormatReader
{
public:
    explicit DummyAudioFormatReader(juce::InputStream* sourceStream);

    bool readSamples(int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                     juce::int64 startSampleInFile, int numSamples) override;
};
