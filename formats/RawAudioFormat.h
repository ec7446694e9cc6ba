#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <array>

// Headerless CD audio: 16-bit little-endian PCM, two interleaved channels, 44 100 Hz. Registered
// last in the format lists so that files no other format recognises (DDP image files) play and
// burn as raw audio.
class RawAudioFormat : public juce::AudioFormat
{
public:
    RawAudioFormat();
    ~RawAudioFormat() override = default;

    juce::Array<int> getPossibleSampleRates() override;
    juce::Array<int> getPossibleBitDepths() override;
    bool canDoStereo() override;
    bool canDoMono() override;

    // Succeeds for every stream (there is no header to recognise); null only for a null stream.
    juce::AudioFormatReader* createReaderFor(juce::InputStream* sourceStream,
                                             bool deleteStreamIfOpeningFails) override;

    // A writer for 16 bits at any sample rate and channel count; null (stream not taken) otherwise.
    juce::AudioFormatWriter* createWriterFor(juce::OutputStream* streamToWriteTo, double sampleRateToUse,
                                             unsigned int numberOfChannels, int bitsPerSample,
                                             const juce::StringPairArray& metadataValues,
                                             int qualityOptionIndex) override;
    using juce::AudioFormat::createWriterFor;
};

// Reads the whole stream from byte 0 as 44.1 kHz stereo 16-bit frames; one to three trailing bytes
// are ignored and reads past the end give silence. Owns its input stream.
class RawAudioFormatReader : public juce::AudioFormatReader
{
public:
    explicit RawAudioFormatReader(juce::InputStream* sourceStream);

    bool readSamples(int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                     juce::int64 startSampleInFile, int numSamples) override;

    const int bytesPerFrame = 4;

private:
    static constexpr int framesPerPiece = 1440;
    std::array<juce::uint8, framesPerPiece * 4> piece;
};

// Writes each sample's upper 16 bits little-endian, channels interleaved, nothing else (no header,
// no padding on destruction). Owns its output stream. Once a write is refused or fails, every
// later write fails too.
class RawAudioFormatWriter : public juce::AudioFormatWriter
{
public:
    // The most bytes one writer puts out; a write that would go beyond is refused.
    static constexpr juce::uint32 maxBytes = 0xFFEFFFFF;

    RawAudioFormatWriter(juce::OutputStream* destStream, double sampleRate, unsigned int numberOfChannels);

    bool write(const int** samplesToWrite, int numSamples) override;

    juce::uint32 getSamplesWritten() const noexcept { return samplesWritten; }
    juce::uint32 getBytesWritten() const noexcept { return bytesWritten; }
    juce::int64 getStartPosition() const noexcept { return startPosition; }
    bool hasWriteFailed() const noexcept { return writeFailed; }

protected:
    juce::MemoryBlock tempBlock;
    juce::uint32 samplesWritten = 0;
    juce::uint32 bytesWritten = 0;
    juce::int64 startPosition = 0; // position of the output stream when the writer was made
    bool writeFailed = false;
};
