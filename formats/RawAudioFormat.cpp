#include "formats/RawAudioFormat.h"

namespace
{
const char* const rawFormatName = "Raw data file";
constexpr double cdSampleRate = 44100.0;
constexpr int cdBitDepth = 16;
} // namespace

RawAudioFormat::RawAudioFormat() : juce::AudioFormat(juce::String(rawFormatName), juce::StringArray("")) {}

juce::Array<int> RawAudioFormat::getPossibleSampleRates()
{
    return {(int)cdSampleRate};
}

juce::Array<int> RawAudioFormat::getPossibleBitDepths()
{
    return {cdBitDepth};
}

bool RawAudioFormat::canDoStereo()
{
    return true;
}

bool RawAudioFormat::canDoMono()
{
    return true;
}

juce::AudioFormatReader* RawAudioFormat::createReaderFor(juce::InputStream* sourceStream, bool)
{
    if (sourceStream == nullptr)
        return nullptr;
    return new RawAudioFormatReader(sourceStream);
}

juce::AudioFormatWriter* RawAudioFormat::createWriterFor(juce::OutputStream* streamToWriteTo,
                                                         double sampleRateToUse,
                                                         unsigned int numberOfChannels, int bitsPerSample,
                                                         const juce::StringPairArray&, int)
{
    if (streamToWriteTo == nullptr || !getPossibleBitDepths().contains(bitsPerSample))
        return nullptr;
    return new RawAudioFormatWriter(streamToWriteTo, sampleRateToUse, numberOfChannels);
}

RawAudioFormatReader::RawAudioFormatReader(juce::InputStream* sourceStream)
    : juce::AudioFormatReader(sourceStream, rawFormatName)
{
    sampleRate = cdSampleRate;
    bitsPerSample = cdBitDepth;
    numChannels = 2;
    usesFloatingPointData = false;
    // An unknown stream length (-1) reads as empty.
    lengthInSamples = juce::jmax((juce::int64)0, input->getTotalLength()) / bytesPerFrame;
}

bool RawAudioFormatReader::readSamples(int* const* destChannels, int numDestChannels,
                                       int startOffsetInDestBuffer, juce::int64 startSampleInFile,
                                       int numSamples)
{
    if (destChannels == nullptr)
        return true;
    clearSamplesBeyondAvailableLength(destChannels, numDestChannels, startOffsetInDestBuffer,
                                      startSampleInFile, numSamples, lengthInSamples);
    if (numSamples <= 0)
        return true;

    input->setPosition(startSampleInFile * bytesPerFrame);

    while (numSamples > 0)
    {
        const int frames = juce::jmin(numSamples, framesPerPiece);
        const int wanted = frames * bytesPerFrame;
        const int got = juce::jmax(0, input->read(piece.data(), wanted));
        std::fill(piece.begin() + got, piece.begin() + wanted, (juce::uint8)0);

        for (int channel = 0; channel < juce::jmin(numDestChannels, 2); ++channel)
        {
            int* dest = destChannels[channel];
            if (dest == nullptr)
                continue;
            dest += startOffsetInDestBuffer;
            const juce::uint8* src = piece.data() + channel * 2;
            for (int i = 0; i < frames; ++i, src += bytesPerFrame)
                dest[i] = (int)((juce::uint32)(src[0] | (src[1] << 8)) << 16);
        }

        startOffsetInDestBuffer += frames;
        numSamples -= frames;
    }
    return true;
}

RawAudioFormatWriter::RawAudioFormatWriter(juce::OutputStream* destStream, double rate,
                                           unsigned int numberOfChannels)
    : juce::AudioFormatWriter(destStream, rawFormatName, rate, numberOfChannels, (unsigned int)cdBitDepth)
{
    usesFloatingPointData = false;
    startPosition = output->getPosition();
}

bool RawAudioFormatWriter::write(const int** samplesToWrite, int numSamples)
{
    if (writeFailed || numSamples < 0)
        return false;

    constexpr size_t bytesPerSample = cdBitDepth / 8;
    const juce::uint64 bytesPerFrame = (juce::uint64)numChannels * bytesPerSample;

    // Refused before converting, so that an oversized request never allocates its buffer.
    const juce::uint64 room = bytesWritten < maxBytes ? maxBytes - bytesWritten : 0;
    if (bytesPerFrame > 0 && (juce::uint64)numSamples > room / bytesPerFrame)
    {
        writeFailed = true;
        return false;
    }
    const size_t bytesNeeded = (size_t)((juce::uint64)numSamples * bytesPerFrame);

    if (tempBlock.getSize() < bytesNeeded)
        tempBlock.setSize(bytesNeeded);

    // The caller's channel list ends at its first null entry; channels beyond it are written silent.
    auto* out = static_cast<juce::uint8*>(tempBlock.getData());
    bool channelPresent = true;
    for (unsigned int channel = 0; channel < numChannels; ++channel)
    {
        channelPresent = channelPresent && samplesToWrite != nullptr && samplesToWrite[channel] != nullptr;
        const int* src = channelPresent ? samplesToWrite[channel] : nullptr;
        juce::uint8* dest = out + channel * bytesPerSample;
        for (int i = 0; i < numSamples; ++i, dest += bytesPerFrame)
        {
            const juce::uint32 sample = src != nullptr ? (juce::uint32)src[i] : 0;
            dest[0] = (juce::uint8)(sample >> 16);
            dest[1] = (juce::uint8)(sample >> 24);
        }
    }

    if (bytesNeeded > 0 && !output->write(out, bytesNeeded))
    {
        writeFailed = true;
        return false;
    }

    bytesWritten += (juce::uint32)bytesNeeded;
    samplesWritten += (juce::uint32)numSamples;
    return true;
}
