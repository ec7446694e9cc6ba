#include "PlayerFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace playertest;

namespace
{
std::atomic<int> overlappingCalls{0};

// Wraps a source and notes any two calls into it that overlap: a sign that the player let two
// threads at the same chain.
class OverlapCheckingSource : public juce::PositionableAudioSource
{
public:
    explicit OverlapCheckingSource(std::unique_ptr<juce::PositionableAudioSource> s) : source(std::move(s)) {}

    void prepareToPlay(int block, double rate) override
    {
        Scope scope(*this);
        source->prepareToPlay(block, rate);
    }
    void releaseResources() override
    {
        Scope scope(*this);
        source->releaseResources();
    }
    void getNextAudioBlock(const juce::AudioSourceChannelInfo& info) override
    {
        Scope scope(*this);
        source->getNextAudioBlock(info);
    }
    void setNextReadPosition(juce::int64 p) override
    {
        Scope scope(*this);
        source->setNextReadPosition(p);
    }
    juce::int64 getNextReadPosition() const override { return source->getNextReadPosition(); }
    juce::int64 getTotalLength() const override { return source->getTotalLength(); }
    bool isLooping() const override { return false; }

private:
    struct Scope
    {
        explicit Scope(OverlapCheckingSource& s) : owner(s)
        {
            if (owner.callsInside.fetch_add(1) != 0)
                ++overlappingCalls;
        }
        ~Scope() { owner.callsInside.fetch_sub(1); }
        OverlapCheckingSource& owner;
    };

    std::unique_ptr<juce::PositionableAudioSource> source;
    std::atomic<int> callsInside{0};
};
} // namespace

// The message thread's calls, at random, while another thread pulls blocks as fast as it can: no
// crash (the suite also runs under AddressSanitizer), no source used by two threads at once, no
// sample outside [-1, 1] or unwritten; afterwards the player plays a fresh list exactly.
TEST(PlayerConcurrency, ControlCallsWhileTheAudioThreadPulls)
{
    const juce::File files[] = {makeWav("a.wav", 10001, 44100), makeWav("b.wav", 7777, 48000)};
    juce::TimeSliceThread thread("audio file preview");
    thread.startThread();
    MultipleAudioTransportSource player;
    player.prepareToPlay(256, 44100.0);

    std::atomic<bool> running{true};
    std::atomic<int> badSamples{0};
    std::atomic<int> blocks{0};
    std::thread audio(
        [&]
        {
            juce::AudioBuffer<float> device(2, 256);
            while (running)
            {
                for (int channel = 0; channel < 2; ++channel)
                    juce::FloatVectorOperations::fill(device.getWritePointer(channel), unwrittenMarker, 256);
                player.getNextAudioBlock(juce::AudioSourceChannelInfo(&device, 0, 256));
                for (int channel = 0; channel < 2; ++channel)
                    for (int i = 0; i < 256; ++i)
                        if (!(std::abs(device.getSample(channel, i)) <= 1.0f))
                            ++badSamples;
                ++blocks;
                std::this_thread::yield();
            }
        });

    juce::Random random(4711);
    for (int step = 0; step < 3000; ++step)
    {
        switch (random.nextInt(8))
        {
        case 0:
            player.start();
            break;
        case 1:
            player.stop();
            break;
        case 2:
            if (random.nextInt(4) == 0)
                player.clearSources();
            break;
        case 3:
        case 4:
        {
            const auto& file = files[random.nextInt(2)];
            auto reader = openReader(file);
            const double rate = reader->sampleRate;
            const auto from = juce::int64(random.nextInt(5000));
            const auto to = from + random.nextInt(3000);
            auto source = std::make_unique<OverlapCheckingSource>(
                std::make_unique<juce::AudioFormatReaderSource>(reader.release(), true));
            const bool readAhead = random.nextBool();
            player.addSource(std::make_unique<PlayerEntry>(std::move(source), from, to),
                             readAhead ? 32768 : 0, readAhead ? &thread : nullptr, rate);
            break;
        }
        case 5:
            player.setNextReadPosition(random.nextInt(int(player.getTotalLength()) + 2000));
            break;
        case 6:
        {
            const auto position = player.getNextReadPosition();
            const auto total = player.getTotalLength();
            EXPECT_TRUE(position >= 0 && position <= total) << position << " of " << total;
            break;
        }
        default:
            player.isLooping();
            break;
        }
    }

    running = false;
    audio.join();
    EXPECT_GT(blocks, 1000);
    EXPECT_EQ(badSamples, 0);
    EXPECT_EQ(overlappingCalls, 0);

    player.stop();
    player.clearSources();
    EXPECT_EQ(player.getNumEntries(), 0);
    EXPECT_EQ(player.getNextReadPosition(), 0);
    addPieces(player, {silence(256), {files[0], 20, 3000}}, 0, nullptr);
    player.start();
    const auto out = pull(player, 256 + 2980, 256);
    EXPECT_EQ(firstDifference(out, concat({zeros(256), readFile(files[0], 20, 3000)})), -1);
}
