#include "formats/DummyAudioFormat.h"

namespace
{
const char* const dummyFormatName = "Dummy data file";
}

DummyAudioFormat::DummyAudioFormat() : juce::AudioFormat(juce::String(dummyFormatName), juce::StringArray(""))
{
}

juce::Array<int> DummyAudioFormat::getPossibleSampleRates()
{
    return {44100};
}

juce::Array<int> DummyAudioFormat::getPossibleBitDepths()
{
    return {16};
}

bool DummyAudioFormat::canDoStereo()
{
    return true;
}

bool DummyAudioFormat::canDoMono()
{
    return false;
}

juce::AudioFormatReader* DummyAudioFormat::createReaderFor(juce::InputStream* sourceStream, bool)
{
    return new DummyAudioFormatReader(sourceStream);
}

juce::AudioFormatWriter* DummyAudioFormat::createWriterFor(juce::OutputStream*, double, unsigned int, int,
                                                           const juce::StringPairArray&, int)
{
    return nullptr;
}

DummyAudioFormatReader::DummyAudioFormatReader(juce::InputStream* sourceStream)
    : juce::AudioFormatReader(sourceStream, dummyFormatName)
{
    sampleRate = 44100.0;
    bitsPerSample = 16;
    numChannels = 2;
    usesFloatingPointData = false;
    lengthInSamples = 0;
}

bool DummyAudioFormatReader::readSamples(int* const* destChannels, int numDestChannels,
                                         int startOffsetInDestBuffer, juce::int64, int numSamples)
{
    if (destChannels == nullptr || numSamples <= 0)
        return true;
    for (int channel = 0; channel < numDestChannels; ++channel)
        if (destChannels[channel] != nullptr)
            juce::zeromem(destChannels[channel] + startOffsetInDestBuffer, (size_t)numSamples * sizeof(int));
    return true;
}
