// CPU time of one 512-sample audio block of the player that crosses from one entry into the
// next, with the entries read ahead, as a fraction of the block's real-time duration.
//
// The timeline is made of entries that last 512 device samples each, and playback starts 256
// samples into the first, so every block plays the end of one entry and the start of the next.
// Before each run through the timeline the read-ahead buffers are filled (not timed); each block
// is timed alone with the thread's CPU clock. At 48 kHz every entry goes through a resampler.
#include "playback/MultipleAudioTransportSource.h"

#include <benchmark/benchmark.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <ctime>

namespace
{
constexpr int blockSize = 512;
constexpr int numEntries = 64;
constexpr int entryLength = 512;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// One second of noise, 16-bit stereo at 44.1 kHz.
juce::File writeFixture(const juce::File& folder)
{
    const auto file = folder.getChildFile("noise.wav");
    juce::AudioBuffer<float> noise(2, 44100);
    juce::Random random(1);
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < noise.getNumSamples(); ++i)
            noise.setSample(channel, i, random.nextFloat() - 0.5f);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(new juce::FileOutputStream(file), 44100.0, 2, 16, {}, 0));
    writer->writeFromAudioSampleBuffer(noise, 0, noise.getNumSamples());
    return file;
}

void blockAcrossEntryBoundary(benchmark::State& state)
{
    const double deviceRate = double(state.range(0));
    const juce::TemporaryFile folder;
    folder.getFile().createDirectory();
    const auto file = writeFixture(folder.getFile());

    juce::TimeSliceThread thread("audio file preview");
    thread.startThread();
    MultipleAudioTransportSource player;
    player.prepareToPlay(blockSize, deviceRate);
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();

    // Source samples that last exactly entryLength device samples.
    const auto sourceLength = juce::int64(entryLength * 44100 / juce::int64(deviceRate));
    std::vector<ReadAheadAudioSource*> readAheads;
    for (int i = 0; i < numEntries; ++i)
    {
        auto* reader = formats.createReaderFor(file);
        const auto start = juce::int64(i) * 600;
        auto entry = std::make_unique<PlayerEntry>(
            std::make_unique<juce::AudioFormatReaderSource>(reader, true), start, start + sourceLength);
        auto* entryPointer = entry.get();
        player.addSource(std::move(entry), 32768, &thread, reader->sampleRate);
        readAheads.push_back(dynamic_cast<ReadAheadAudioSource*>(entryPointer->source.get()));
    }
    if (player.getTotalLength() != juce::int64(numEntries) * entryLength)
    {
        state.SkipWithError("entries do not last one block each");
        return;
    }

    juce::AudioBuffer<float> device(2, blockSize);
    const int blocksPerRun = numEntries - 1;
    double cpuTotal = 0.0;
    int blocksDone = blocksPerRun; // rewinds first
    player.start();
    for (auto _ : state)
    {
        if (blocksDone == blocksPerRun)
        {
            player.setNextReadPosition(entryLength / 2);
            for (auto* readAhead : readAheads)
                readAhead->waitUntilReady(int(sourceLength) + 8, 5000);
            blocksDone = 0;
        }
        const double before = threadCpuSeconds();
        player.getNextAudioBlock(juce::AudioSourceChannelInfo(&device, 0, blockSize));
        const double elapsed = threadCpuSeconds() - before;
        state.SetIterationTime(elapsed);
        cpuTotal += elapsed;
        ++blocksDone;
        benchmark::DoNotOptimize(device.getReadPointer(0));
    }

    const double blockDuration = blockSize / deviceRate;
    state.counters["realtime_fraction"] = cpuTotal / double(state.iterations()) / blockDuration;
}
} // namespace

BENCHMARK(blockAcrossEntryBoundary)
    ->Arg(44100)
    ->Arg(48000)
    ->UseManualTime()
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
