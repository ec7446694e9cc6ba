#include "playback/ReadAheadAudioSource.h"

namespace
{
// `filled` packs the fill generation (low 24 bits of it) above the end of the valid data (a
// source position below 2^40), so that the reading side sees both in one atomic load.
constexpr int endBits = 40;
constexpr juce::uint64 endMask = (juce::uint64(1) << endBits) - 1;
constexpr juce::uint32 generationMask = (1u << 24) - 1;
constexpr juce::uint32 noGeneration = 0xffffffffu;

juce::uint64 pack(juce::uint32 generation, juce::int64 end)
{
    return (juce::uint64(generation & generationMask) << endBits) | (juce::uint64(end) & endMask);
}

// Samples read from the source per time slice; about 46 ms at 44.1 kHz.
constexpr int chunkSamples = 2048;
// How soon the background thread looks again at a source whose ring is full, in ms; a ring of
// the usual 32768 samples lasts 743 ms of playback. Jumps made on the message thread ask for
// service at once (requestFill).
constexpr int idleMs = 20;
} // namespace

ReadAheadAudioSource::ReadAheadAudioSource(std::unique_ptr<juce::PositionableAudioSource> sourceToRead,
                                           juce::TimeSliceThread& readThread, int bufferSizeSamples,
                                           int channels)
    : source(std::move(sourceToRead)), thread(readThread),
      minimumBufferSize(juce::jmax(1024, bufferSizeSamples)), numChannels(channels),
      totalLength(source->getTotalLength())
{
}

ReadAheadAudioSource::~ReadAheadAudioSource()
{
    releaseResources();
}

void ReadAheadAudioSource::prepareToPlay(int samplesPerBlockExpected, double sampleRate)
{
    const int size = juce::jmax(minimumBufferSize, samplesPerBlockExpected * 2);
    if (prepared && size == ring.getNumSamples() && sampleRate == preparedSampleRate)
        return;

    // Waits for a time slice of this source that may be running.
    thread.removeTimeSliceClient(this);
    source->prepareToPlay(samplesPerBlockExpected, sampleRate);
    ring.setSize(numChannels, size);
    ring.clear();
    resetFill();
    prepared = true;
    preparedSampleRate = sampleRate;
    thread.addTimeSliceClient(this);
}

void ReadAheadAudioSource::releaseResources()
{
    thread.removeTimeSliceClient(this);
    if (!prepared)
        return;
    prepared = false;
    ring.setSize(numChannels, 0);
    resetFill();
    source->releaseResources();
}

void ReadAheadAudioSource::resetFill()
{
    fillGeneration = noGeneration;
    fillEnd = 0;
    filled.store(pack(generation, 0), std::memory_order_release);
}

bool ReadAheadAudioSource::isLooping() const
{
    return source->isLooping();
}

void ReadAheadAudioSource::setNextReadPosition(juce::int64 newPosition)
{
    // Staying put keeps what has been read ahead, which is what lets a player step into an
    // entry that was positioned long before without a gap.
    if (newPosition == position)
        return;

    position = newPosition;
    ++generation;
    // The position first: the background thread reads it after it has seen the generation.
    readPosition.store(position, std::memory_order_release);
    requestedGeneration.store(generation & generationMask, std::memory_order_release);
}

int ReadAheadAudioSource::getNumReady(int numSamples) const
{
    if (numSamples <= 0)
        return 0;

    juce::int64 pos = position;
    juce::int64 count = 0;
    if (pos < 0)
    {
        count = juce::jmin<juce::int64>(numSamples, -pos);
        pos += count;
    }
    if (count < numSamples && pos < totalLength)
    {
        const auto state = filled.load(std::memory_order_acquire);
        const bool current = prepared && (state >> endBits) == (generation & generationMask);
        const juce::int64 end = current ? juce::jmin(juce::int64(state & endMask), totalLength) : 0;
        const auto available = juce::jlimit<juce::int64>(0, numSamples - count, end - pos);
        count += available;
        pos += available;
        if (pos < totalLength)
            return int(count);
    }
    return numSamples;
}

bool ReadAheadAudioSource::waitUntilReady(int numSamples, int timeoutMs) const
{
    const auto deadline = juce::Time::getMillisecondCounter() + juce::uint32(timeoutMs);
    while (getNumReady(numSamples) < numSamples)
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return false;
        juce::Thread::sleep(1);
    }
    return true;
}

void ReadAheadAudioSource::requestFill()
{
    thread.moveToFrontOfQueue(this);
}

void ReadAheadAudioSource::getNextAudioBlock(const juce::AudioSourceChannelInfo& info)
{
    auto& out = *info.buffer;
    const int ready = getNumReady(info.numSamples);
    const int ringSize = ring.getNumSamples();
    const int channels = juce::jmin(numChannels, out.getNumChannels());

    // Within the ready stretch, real data lies between the start of the source and its end.
    const auto dataFrom = juce::jlimit<juce::int64>(0, ready, -position);
    const auto dataTo = juce::jlimit<juce::int64>(dataFrom, ready, totalLength - position);

    if (dataFrom > 0)
        out.clear(info.startSample, int(dataFrom));
    for (auto done = dataFrom; done < dataTo;)
    {
        const int ringIndex = int((position + done) % ringSize);
        const int n = int(juce::jmin<juce::int64>(dataTo - done, ringSize - ringIndex));
        // Through raw pointers: AudioBuffer::copyFrom reads the ring's clear flag, which the
        // background thread writes.
        for (int channel = 0; channel < channels; ++channel)
            juce::FloatVectorOperations::copy(out.getWritePointer(channel, info.startSample + int(done)),
                                              ring.getReadPointer(channel, ringIndex), n);
        for (int channel = channels; channel < out.getNumChannels(); ++channel)
            out.clear(channel, info.startSample + int(done), n);
        done += n;
    }
    if (dataTo < info.numSamples)
        out.clear(info.startSample + int(dataTo), info.numSamples - int(dataTo));

    position += info.numSamples;
    // Releases the ring slots just read to the background thread.
    readPosition.store(position, std::memory_order_release);
}

int ReadAheadAudioSource::useTimeSlice()
{
    const auto wanted = requestedGeneration.load(std::memory_order_acquire);
    const auto readFrom = juce::jmax<juce::int64>(0, readPosition.load(std::memory_order_acquire));

    if (wanted != fillGeneration || readFrom > fillEnd)
    {
        fillGeneration = wanted;
        fillEnd = readFrom;
        filled.store(pack(fillGeneration, fillEnd), std::memory_order_release);
    }

    // Never further ahead than one ring beyond the reader: the slots written now held samples
    // the reader has already passed.
    const int ringSize = ring.getNumSamples();
    const auto limit = juce::jmin(readFrom + ringSize, totalLength);
    if (fillEnd >= limit)
        return idleMs;

    const int count = int(juce::jmin<juce::int64>(limit - fillEnd, chunkSamples));
    for (int done = 0; done < count;)
    {
        const int ringIndex = int((fillEnd + done) % ringSize);
        const int n = juce::jmin(count - done, ringSize - ringIndex);
        if (source->getNextReadPosition() != fillEnd + done)
            source->setNextReadPosition(fillEnd + done);
        source->getNextAudioBlock(juce::AudioSourceChannelInfo(&ring, ringIndex, n));
        done += n;
    }
    fillEnd += count;
    filled.store(pack(fillGeneration, fillEnd), std::memory_order_release);
    return fillEnd < limit ? 0 : idleMs;
}
