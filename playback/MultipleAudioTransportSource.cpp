#include "playback/MultipleAudioTransportSource.h"

#include <cmath>

namespace
{
constexpr int endMessagePollMs = 20;
constexpr int chainChannels = 2;

juce::int64 wholeRate(double rate)
{
    return juce::int64(std::llround(rate));
}
} // namespace

struct MultipleAudioTransportSource::Chain
{
    std::unique_ptr<PlayerEntry> entry;
    // entry->source when the entry is read ahead.
    ReadAheadAudioSource* readAhead = nullptr;
    // Reads entry->source; declared after entry so that it goes first.
    std::unique_ptr<juce::ResamplingAudioSource> resampler;
    juce::AudioSource* head = nullptr;
    double sourceRate = 0.0;
    // Device samples: the entry's length on the timeline, and how much of it has been played.
    juce::int64 length = 0;
    juce::int64 played = 0;
};

MultipleAudioTransportSource::MultipleAudioTransportSource() = default;

MultipleAudioTransportSource::~MultipleAudioTransportSource()
{
    stopTimer();
    destroy(takeChains());
}

void MultipleAudioTransportSource::configure(Chain& chain)
{
    const bool resample =
        chain.sourceRate >= 1.0 && sampleRate >= 1.0 && int(chain.sourceRate) != int(sampleRate);
    if (resample && chain.resampler == nullptr)
        chain.resampler =
            std::make_unique<juce::ResamplingAudioSource>(chain.entry->source.get(), false, chainChannels);
    else if (!resample)
        chain.resampler.reset();

    if (chain.resampler != nullptr)
        chain.head = chain.resampler.get();
    else
        chain.head = chain.entry->source.get();

    const auto sourceLength = juce::jmax<juce::int64>(0, chain.entry->endSample - chain.entry->startSample);
    if (chain.resampler != nullptr)
    {
        chain.resampler->setResamplingRatio(chain.sourceRate / sampleRate);
        // Output sample j interpolates at source offset j * ratio, so the entry lasts as many
        // output samples as have an offset below its source length.
        const auto deviceRate = wholeRate(sampleRate), sourceRate = wholeRate(chain.sourceRate);
        chain.length = (sourceLength * deviceRate + sourceRate - 1) / sourceRate;
    }
    else
    {
        chain.length = sourceLength;
    }
}

void MultipleAudioTransportSource::seek(Chain& chain, juce::int64 deviceOffset)
{
    chain.played = deviceOffset;
    auto sourceOffset = deviceOffset;
    if (chain.resampler != nullptr)
        sourceOffset = deviceOffset * wholeRate(chain.sourceRate) / wholeRate(sampleRate);
    chain.entry->source->setNextReadPosition(chain.entry->startSample + sourceOffset);
    if (chain.resampler != nullptr)
        chain.resampler->flushBuffers();
}

void MultipleAudioTransportSource::prepareToPlay(int samplesPerBlockExpected, double newSampleRate)
{
    const juce::ScopedLock sl(lock);

    // Keeps each entry's place in source samples across a change of the device rate.
    std::vector<juce::int64> sourceOffsets;
    sourceOffsets.reserve(chains.size());
    for (auto& chain : chains)
        sourceOffsets.push_back(chain->resampler != nullptr
                                    ? chain->played * wholeRate(chain->sourceRate) / wholeRate(sampleRate)
                                    : chain->played);

    sampleRate = newSampleRate;
    blockSize = samplesPerBlockExpected;

    for (size_t i = 0; i < chains.size(); ++i)
    {
        auto& chain = *chains[i];
        // The ratio is set before preparing: the resampler sizes its buffers by it.
        configure(chain);
        chain.head->prepareToPlay(blockSize, sampleRate);
        const auto deviceOffset = chain.resampler != nullptr
                                      ? sourceOffsets[i] * wholeRate(sampleRate) / wholeRate(chain.sourceRate)
                                      : sourceOffsets[i];
        seek(chain, deviceOffset);
    }

    isPrepared = true;
    // Lets the inherited second-based calls (setPosition, getCurrentPosition) use the device rate.
    AudioTransportSource::prepareToPlay(samplesPerBlockExpected, newSampleRate);
}

void MultipleAudioTransportSource::releaseResources()
{
    std::vector<std::unique_ptr<Chain>> taken;
    {
        const juce::ScopedLock sl(lock);
        taken = takeChains();
        isPrepared = false;
    }
    destroy(std::move(taken));
    AudioTransportSource::releaseResources();
}

std::vector<std::unique_ptr<MultipleAudioTransportSource::Chain>> MultipleAudioTransportSource::takeChains()
{
    const juce::ScopedLock sl(lock);
    auto taken = std::move(chains);
    chains.clear();
    currentEntry = 0;
    return taken;
}

void MultipleAudioTransportSource::destroy(std::vector<std::unique_ptr<Chain>> chainsToDestroy)
{
    // Outside the lock: releasing a read-ahead buffer waits for its background read.
    for (auto& chain : chainsToDestroy)
        chain->head->releaseResources();
}

void MultipleAudioTransportSource::addSource(std::unique_ptr<PlayerEntry> entry, int readAheadSize,
                                             juce::TimeSliceThread* readAheadThread, double sourceSampleRate)
{
    jassert(entry != nullptr && entry->source != nullptr);
    jassert(readAheadSize < 1 || readAheadThread != nullptr);
    if (entry == nullptr || entry->source == nullptr)
        return;

    auto chain = std::make_unique<Chain>();
    if (readAheadSize >= 1 && readAheadThread != nullptr)
    {
        auto buffered = std::make_unique<ReadAheadAudioSource>(std::move(entry->source), *readAheadThread,
                                                               readAheadSize, chainChannels);
        chain->readAhead = buffered.get();
        entry->source = std::move(buffered);
    }
    entry->source->setNextReadPosition(entry->startSample);
    chain->entry = std::move(entry);
    chain->sourceRate = sourceSampleRate;

    // The chain is not reachable from the audio thread until it is appended.
    configure(*chain);
    if (isPrepared)
        chain->head->prepareToPlay(blockSize, sampleRate);

    const juce::ScopedLock sl(lock);
    chains.push_back(std::move(chain));
    playing = false;
}

void MultipleAudioTransportSource::clearSources()
{
    destroy(takeChains());
}

int MultipleAudioTransportSource::getNumEntries() const
{
    const juce::ScopedLock sl(lock);
    return int(chains.size());
}

std::vector<PlayerEntryInfo> MultipleAudioTransportSource::describeEntries() const
{
    const juce::ScopedLock sl(lock);
    std::vector<PlayerEntryInfo> result;
    for (const auto& chain : chains)
        result.push_back({chain->entry->startSample, chain->entry->endSample, chain->entry->notSixteenBits});
    return result;
}

void MultipleAudioTransportSource::start()
{
    {
        const juce::ScopedLock sl(lock);
        if (playing || currentEntry >= int(chains.size()))
            return;

        for (int i = 0; i < int(chains.size()); ++i)
            if (i != currentEntry)
                seek(*chains[size_t(i)], 0);

        playing = true;
        stopped = false;
        inputStreamEOF = false;
        requestFillFromCurrentEntry();
    }
    startTimer(endMessagePollMs);
    sendChangeMessage();
}

void MultipleAudioTransportSource::stop()
{
    if (!playing)
        return;

    {
        const juce::ScopedLock sl(lock);
        playing = false;
        wasPlaying = false;
    }

    // Outside the lock, so that the audio thread can play the fade-out and acknowledge.
    for (int n = 500; --n >= 0 && !stopped;)
        juce::Thread::sleep(2);

    sendChangeMessage();
}

void MultipleAudioTransportSource::timerCallback()
{
    // playing first: the audio thread raises the pending flag before it clears playing.
    const bool stillPlaying = playing;
    if (endMessagePending.exchange(false))
        sendChangeMessage();
    if (!stillPlaying)
        stopTimer();
}

void MultipleAudioTransportSource::setNextReadPosition(juce::int64 newPosition)
{
    const juce::ScopedLock sl(lock);
    if (newPosition < 0)
        return;

    juce::int64 entryStart = 0;
    for (int i = 0; i < int(chains.size()); ++i)
    {
        auto& chain = *chains[size_t(i)];
        if (newPosition < entryStart + chain.length)
        {
            currentEntry = i;
            seek(chain, newPosition - entryStart);
            // Later entries start from their beginning again, and their read-ahead refills now
            // rather than when playback reaches them.
            for (size_t later = size_t(i) + 1; later < chains.size(); ++later)
                if (chains[later]->played != 0)
                    seek(*chains[later], 0);
            inputStreamEOF = false;
            requestFillFromCurrentEntry();
            return;
        }
        entryStart += chain.length;
    }
}

void MultipleAudioTransportSource::requestFillFromCurrentEntry()
{
    // The entry after the current one may be needed soon too when the current one is short.
    for (int i = currentEntry; i < juce::jmin(currentEntry + 2, int(chains.size())); ++i)
        if (auto* readAhead = chains[size_t(i)]->readAhead)
            readAhead->requestFill();
}

juce::int64 MultipleAudioTransportSource::getNextReadPosition() const
{
    const juce::ScopedLock sl(lock);
    if (currentEntry >= int(chains.size()))
        return 0;

    juce::int64 position = 0;
    for (int i = 0; i < currentEntry; ++i)
        position += chains[size_t(i)]->length;
    return position + chains[size_t(currentEntry)]->played;
}

juce::int64 MultipleAudioTransportSource::getTotalLength() const
{
    const juce::ScopedLock sl(lock);
    juce::int64 total = 0;
    for (auto& chain : chains)
        total += chain->length;
    return total;
}

bool MultipleAudioTransportSource::isLooping() const
{
    const juce::ScopedLock sl(lock);
    return currentEntry < int(chains.size()) && chains[size_t(currentEntry)]->entry->source->isLooping();
}

int MultipleAudioTransportSource::readyToRender(const Chain& chain, int numSamples) const
{
    if (chain.resampler != nullptr)
        numSamples = juce::jmin(numSamples, blockSize); // its buffers hold one prepared block
    if (chain.readAhead == nullptr)
        return numSamples;
    if (chain.resampler == nullptr)
        return chain.readAhead->getNumReady(numSamples);

    // The resampler pulls at most this many source samples for an output block.
    const double ratio = chain.sourceRate / sampleRate;
    const auto inputFor = [ratio](int outputSamples) { return juce::roundToInt(outputSamples * ratio) + 3; };
    const int ready = chain.readAhead->getNumReady(inputFor(numSamples));
    if (ready >= inputFor(numSamples))
        return numSamples;
    int count = juce::jmax(0, int((ready - 4) / ratio));
    while (count > 0 && inputFor(count) > ready)
        --count;
    return count;
}

int MultipleAudioTransportSource::render(juce::AudioBuffer<float>& buffer, int startSample, int numSamples,
                                         bool& reachedEnd)
{
    int written = 0;
    while (written < numSamples)
    {
        auto& chain = *chains[size_t(currentEntry)];
        if (chain.played >= chain.length)
        {
            if (currentEntry + 1 >= int(chains.size()))
            {
                reachedEnd = true;
                break;
            }
            ++currentEntry;
            seek(*chains[size_t(currentEntry)], 0);
            continue;
        }

        const int wanted = int(juce::jmin<juce::int64>(numSamples - written, chain.length - chain.played));
        const int count = readyToRender(chain, wanted);
        if (count == 0)
            break; // the read-ahead has not caught up: the timeline waits rather than skipping

        chain.head->getNextAudioBlock(juce::AudioSourceChannelInfo(&buffer, startSample + written, count));
        chain.played += count;
        written += count;
    }
    return written;
}

void MultipleAudioTransportSource::getNextAudioBlock(const juce::AudioSourceChannelInfo& info)
{
    const juce::ScopedLock sl(lock);
    auto& buffer = *info.buffer;

    // Unprepared chains (a resampler without its buffers) must not be pulled.
    if (!isPrepared || currentEntry >= int(chains.size()) || stopped)
    {
        info.clearActiveBufferRegion();
        stopped = true;
        return;
    }

    // A stop plays only the fade-out, so that the position stays where the sound ended.
    const bool stopping = !playing;
    const int wanted = stopping ? juce::jmin(info.numSamples, fadeLength) : info.numSamples;
    bool reachedEnd = false;
    const int written = render(buffer, info.startSample, wanted, reachedEnd);

    if (written < info.numSamples)
        buffer.clear(info.startSample + written, info.numSamples - written);
    for (int channel = chainChannels; channel < buffer.getNumChannels(); ++channel)
        buffer.clear(channel, info.startSample, written);

    const int fade = juce::jmin(info.numSamples, fadeLength);
    if (playing && !wasPlaying && written > 0)
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            buffer.applyGainRamp(channel, info.startSample, fade, 0.0f, 1.0f);
    if (stopping)
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            buffer.applyGainRamp(channel, info.startSample, fade, 1.0f, 0.0f);

    stopped = !playing;
    // A block that waited for the read-ahead from its first sample played nothing: the fade-in
    // belongs to the first block that does.
    wasPlaying = playing && (wasPlaying || written > 0);

    if (reachedEnd && playing && !chains[size_t(currentEntry)]->entry->source->isLooping())
    {
        inputStreamEOF = true;
        endMessagePending = true;
        playing = false;
        // A start before the next block must fade in again.
        wasPlaying = false;
    }
}
