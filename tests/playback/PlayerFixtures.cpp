#include "PlayerFixtures.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace playertest
{
juce::File makeWav(const juce::String& name, int numSamples, int rate, int channels)
{
    const auto folder = TestEnvironment::temp().getChildFile("player-fixtures");
    folder.createDirectory();
    const auto file = folder.getChildFile(name);
    const auto generators = channels == 2 ? " whitenoise sine 300-3000" : " whitenoise";
    const auto command = "sox -r " + juce::String(rate) + " -c " + juce::String(channels) + " -n -b 16 -D " +
                         file.getFullPathName().quoted() + " synth " + juce::String(numSamples) + "s" +
                         generators + " gain -6";
    juce::String output;
    EXPECT_EQ(runCommand(command, &output), 0) << output;
    return file;
}

std::unique_ptr<juce::AudioFormatReader> openReader(const juce::File& file)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    return std::unique_ptr<juce::AudioFormatReader>(formats.createReaderFor(file));
}

juce::AudioBuffer<float> readFile(const juce::File& file, juce::int64 from, juce::int64 to)
{
    auto reader = openReader(file);
    juce::AudioBuffer<float> buffer(2, int(to - from));
    buffer.clear();
    if (reader != nullptr)
        reader->read(&buffer, 0, buffer.getNumSamples(), from, true, true);
    return buffer;
}

juce::AudioBuffer<float> zeros(int numSamples)
{
    juce::AudioBuffer<float> buffer(2, numSamples);
    buffer.clear();
    return buffer;
}

juce::AudioBuffer<float> concat(const std::vector<juce::AudioBuffer<float>>& parts)
{
    int total = 0;
    for (auto& part : parts)
        total += part.getNumSamples();
    juce::AudioBuffer<float> buffer(2, total);
    int at = 0;
    for (auto& part : parts)
    {
        for (int channel = 0; channel < 2; ++channel)
            buffer.copyFrom(channel, at, part, channel, 0, part.getNumSamples());
        at += part.getNumSamples();
    }
    return buffer;
}

ConstantReader::ConstantReader(juce::int64 length, double rate, float sampleValue)
    : juce::AudioFormatReader(nullptr, "constant"), value(sampleValue)
{
    sampleRate = rate;
    bitsPerSample = 32;
    lengthInSamples = length;
    numChannels = 2;
    usesFloatingPointData = true;
}

bool ConstantReader::readSamples(int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                                 juce::int64 startSampleInFile, int numSamples)
{
    for (int channel = 0; channel < numDestChannels; ++channel)
    {
        if (destChannels[channel] == nullptr)
            continue;
        auto* dest = reinterpret_cast<float*>(destChannels[channel]) + startOffsetInDestBuffer;
        for (int i = 0; i < numSamples; ++i)
        {
            const auto position = startSampleInFile + i;
            dest[i] = position >= 0 && position < lengthInSamples ? value : 0.0f;
        }
    }
    return true;
}

Piece silence(juce::int64 numSamples, double rate)
{
    Piece piece;
    piece.to = numSamples;
    piece.rate = rate;
    return piece;
}

std::vector<PlayerEntry*> addPieces(MultipleAudioTransportSource& player, const std::vector<Piece>& pieces,
                                    int readAheadSize, juce::TimeSliceThread* thread)
{
    std::vector<PlayerEntry*> entries;
    for (auto& piece : pieces)
    {
        std::unique_ptr<juce::AudioFormatReader> reader;
        if (piece.file == juce::File())
            reader = std::make_unique<ConstantReader>(piece.to - piece.from, piece.rate, piece.value);
        else
            reader = openReader(piece.file);
        EXPECT_NE(reader, nullptr) << piece.file.getFullPathName();
        if (reader == nullptr)
            continue;

        const double rate = reader->sampleRate;
        auto entry = std::make_unique<PlayerEntry>(
            std::make_unique<juce::AudioFormatReaderSource>(reader.release(), true), piece.from, piece.to);
        entries.push_back(entry.get());
        player.addSource(std::move(entry), readAheadSize, thread, rate);
    }
    return entries;
}

void waitForReadAhead(const std::vector<PlayerEntry*>& entries)
{
    for (auto* entry : entries)
    {
        if (auto* readAhead = dynamic_cast<ReadAheadAudioSource*>(entry->source.get()))
        {
            // A few more than the entry: a resampler reads slightly past its end.
            const auto left = entry->endSample + 8 - readAhead->getNextReadPosition();
            const int wanted = int(juce::jlimit<juce::int64>(0, 16384, left));
            ASSERT_TRUE(readAhead->waitUntilReady(wanted, 10000)) << "read-ahead did not fill";
        }
    }
}

juce::AudioBuffer<float> pull(juce::AudioSource& source, int numSamples, int blockSize,
                              const std::function<void()>& beforeBlock)
{
    juce::AudioBuffer<float> out(2, numSamples);
    juce::AudioBuffer<float> device(2, blockSize);
    for (int at = 0; at < numSamples; at += blockSize)
    {
        if (beforeBlock)
            beforeBlock();
        for (int channel = 0; channel < 2; ++channel)
            juce::FloatVectorOperations::fill(device.getWritePointer(channel), unwrittenMarker, blockSize);
        source.getNextAudioBlock(juce::AudioSourceChannelInfo(&device, 0, blockSize));
        const int n = juce::jmin(blockSize, numSamples - at);
        for (int channel = 0; channel < 2; ++channel)
            out.copyFrom(channel, at, device, channel, 0, n);
    }
    return out;
}

int firstDifference(const juce::AudioBuffer<float>& actual, const juce::AudioBuffer<float>& expected,
                    float tolerance)
{
    const int n = juce::jmin(actual.getNumSamples(), expected.getNumSamples());
    for (int i = 0; i < n; ++i)
        for (int channel = 0; channel < 2; ++channel)
            if (std::abs(actual.getSample(channel, i) - expected.getSample(channel, i)) > tolerance)
                return i;
    return actual.getNumSamples() == expected.getNumSamples() ? -1 : n;
}
} // namespace playertest
