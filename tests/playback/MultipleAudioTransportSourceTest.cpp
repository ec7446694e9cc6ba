#include "PlayerFixtures.h"

#include "model/IndexItem.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace playertest;

namespace
{
constexpr int readAheadSamples = 32768;

// The disc's rows as pieces, the way the main component turns rows into entries: leading
// silence of indexOffset frames, then the file from sourceOffset for length frames plus the
// item's remainder minus the previous row's; rows without a file are silence.
std::vector<Piece> piecesForRows(const std::vector<IndexItem>& rows)
{
    std::vector<Piece> pieces;
    int previousRemainder = 0;
    for (auto& row : rows)
    {
        if (row.fileName.isEmpty())
        {
            pieces.push_back(silence(juce::int64(row.length.frames) * cdtime::samplesPerFrame));
        }
        else
        {
            if (row.indexOffset > 0)
                pieces.push_back(silence(juce::int64(row.indexOffset) * cdtime::samplesPerFrame));
            Piece piece;
            piece.file = row.getSourceFile();
            piece.from = juce::int64(row.sourceOffset.frames) * cdtime::samplesPerFrame;
            piece.to = juce::int64(row.sourceOffset.frames + row.length.frames) * cdtime::samplesPerFrame +
                       row.remainderSamples - previousRemainder;
            pieces.push_back(piece);
        }
        previousRemainder = row.remainderSamples;
    }
    return pieces;
}

IndexItem row(const juce::File& file, int indexOffset, int sourceOffset, int length, int remainder)
{
    IndexItem item;
    item.indexOffset = indexOffset;
    item.sourceOffset = CDDuration(sourceOffset);
    item.length = CDDuration(length);
    item.remainderSamples = remainder;
    if (file != juce::File())
    {
        item.folder = file.getParentDirectory().getFullPathName();
        item.fileName = file.getFileName();
    }
    return item;
}

IndexItem pause(int frames)
{
    return row({}, 0, 0, frames, 0);
}

struct Fixtures
{
    // Lengths that are not whole frames: 17 frames + 5, 13 frames + 133, 5 frames + 61.
    juce::File a = makeWav("a.wav", 10001, 44100);
    juce::File b = makeWav("b.wav", 7777, 44100);
    juce::File c = makeWav("c.wav", 3001, 44100, 1);
};

struct TimelineCase
{
    const char* label;
    std::vector<Piece> (*pieces)(const Fixtures&);
    juce::AudioBuffer<float> (*expected)(const Fixtures&);
};

const TimelineCase timelineCases[] = {
    {"DiscWithPausesIndexOffsetsAndOddLengths",
     [](const Fixtures& f)
     {
         // Rows as the import lays them out: a 2-frame first pregap; a at index 1 with an index
         // offset and an index 2 inside it; a pause; b with an index offset; c joined to b
         // without a pause, so that b's 133 spare samples are counted into c's item.
         return piecesForRows({pause(2), row(f.a, 1, 0, 10, 0), row(f.a, 0, 10, 7, 5), pause(3),
                               row(f.b, 2, 0, 13, 133), row(f.c, 0, 0, 5, (3001 + 133) % 588)});
     },
     [](const Fixtures& f)
     {
         return concat({zeros(1176 + 588), readFile(f.a, 0, 10001), zeros(1764 + 1176),
                        readFile(f.b, 0, 7777), readFile(f.c, 0, 3001)});
     }},
    {"PauseOf150FramesIs88200Zeros",
     [](const Fixtures& f)
     {
         // The leading silence takes the fade-in.
         return std::vector<Piece>{silence(256), {f.a, 9000, 10001}, silence(150 * 588), {f.b, 0, 1000}};
     },
     [](const Fixtures& f) {
         return concat({zeros(256), readFile(f.a, 9000, 10001), zeros(88200), readFile(f.b, 0, 1000)});
     }},
    {"ThreeShortEntriesInOneBlock",
     [](const Fixtures& f)
     {
         // After a silent first block, the 512-sample second block holds three whole entries
         // and the start of a fourth.
         return std::vector<Piece>{
             silence(512), {f.a, 100, 200}, {f.b, 0, 50}, {f.c, 1000, 1200}, {f.a, 9000, 9500}};
     },
     [](const Fixtures& f)
     {
         return concat({zeros(512), readFile(f.a, 100, 200), readFile(f.b, 0, 50), readFile(f.c, 1000, 1200),
                        readFile(f.a, 9000, 9500)});
     }},
};

class PlayerTimeline : public testing::TestWithParam<std::tuple<int, int, bool>>
{
};

// The read-ahead thread; declared before the player, so that it outlives it.
struct ReadThread : juce::TimeSliceThread
{
    ReadThread() : juce::TimeSliceThread("audio file preview") { startThread(); }
};
} // namespace

// The timeline, pulled block by block like a device, is exactly the files and silences back to
// back, then the player stops by itself and writes silence.
TEST_P(PlayerTimeline, PlaysEveryEntrySampleExactly)
{
    const auto& [caseIndex, blockSize, readAhead] = GetParam();
    const auto& timeline = timelineCases[caseIndex];
    Fixtures fixtures;
    const auto expected = timeline.expected(fixtures);

    ReadThread thread;
    MultipleAudioTransportSource player;
    player.prepareToPlay(blockSize, 44100.0);
    const auto entries = addPieces(player, timeline.pieces(fixtures), readAhead ? readAheadSamples : 0,
                                   readAhead ? &thread : nullptr);
    EXPECT_EQ(player.getTotalLength(), expected.getNumSamples());
    player.start();

    const int total = expected.getNumSamples();
    const auto out = pull(player, total + blockSize, blockSize, [&] { waitForReadAhead(entries); });

    juce::AudioBuffer<float> played(2, total);
    for (int channel = 0; channel < 2; ++channel)
        played.copyFrom(channel, 0, out, channel, 0, total);
    EXPECT_EQ(firstDifference(played, expected), -1) << timeline.label;

    juce::AudioBuffer<float> after(2, blockSize);
    for (int channel = 0; channel < 2; ++channel)
        after.copyFrom(channel, 0, out, channel, total, blockSize);
    EXPECT_EQ(firstDifference(after, zeros(blockSize)), -1) << "after the end";
    EXPECT_FALSE(player.isPlaying());
    EXPECT_TRUE(player.hasStreamFinished());
    EXPECT_EQ(player.getNextReadPosition(), total);
}

INSTANTIATE_TEST_SUITE_P(Lists, PlayerTimeline,
                         testing::Combine(testing::Range(0, int(std::size(timelineCases))),
                                          testing::Values(1, 441, 512, 4096), testing::Bool()),
                         [](const testing::TestParamInfo<PlayerTimeline::ParamType>& info)
                         {
                             return std::string(timelineCases[std::get<0>(info.param)].label) + "_block" +
                                    std::to_string(std::get<1>(info.param)) +
                                    (std::get<2>(info.param) ? "_readAhead" : "_direct");
                         });

// Jumping to any entry's first sample (or into one) plays from exactly there, also when the
// entries after it had been played before; positions outside the timeline change nothing.
TEST(Player, PositioningMakesTheHoldingEntryCurrent)
{
    Fixtures f;
    const std::vector<Piece> pieces{
        silence(1000), {f.a, 0, 10001}, {f.b, 500, 7777}, silence(300), {f.c, 0, 3001}};
    const auto expected = concat(
        {zeros(1000), readFile(f.a, 0, 10001), readFile(f.b, 500, 7777), zeros(300), readFile(f.c, 0, 3001)});
    const int total = expected.getNumSamples();

    ReadThread thread;
    MultipleAudioTransportSource player;
    player.prepareToPlay(512, 44100.0);
    const auto entries = addPieces(player, pieces, readAheadSamples, &thread);
    player.start();
    pull(player, 512, 512, [&] { waitForReadAhead(entries); }); // past the fade-in

    const std::vector<juce::int64> entryStarts{0, 1000, 11001, 18278, 18578};
    std::vector<juce::int64> targets = entryStarts;
    targets.insert(targets.end(), {5000, 18000, total - 1});
    // Backwards after having played through everything, then forwards.
    std::reverse(targets.begin(), targets.end());
    for (auto target : targets)
    {
        // Running into the end stops playback; a restart then fades in.
        const bool fadeIn = !player.isPlaying();
        player.start();
        player.setNextReadPosition(target);
        ASSERT_EQ(player.getNextReadPosition(), target);
        const int length = int(juce::jmin<juce::int64>(8000, total - target));
        const auto out = pull(player, length, 512, [&] { waitForReadAhead(entries); });
        juce::AudioBuffer<float> want(2, length);
        for (int channel = 0; channel < 2; ++channel)
        {
            want.copyFrom(channel, 0, expected, channel, int(target), length);
            if (fadeIn)
                want.applyGainRamp(channel, 0, juce::jmin(length, MultipleAudioTransportSource::fadeLength),
                                   0.0f, 1.0f);
        }
        EXPECT_EQ(firstDifference(out, want), -1) << "from " << target;
    }

    player.setNextReadPosition(3000);
    for (auto outside : {juce::int64(total), juce::int64(total) + 5000, juce::int64(-1)})
    {
        player.setNextReadPosition(outside);
        EXPECT_EQ(player.getNextReadPosition(), 3000) << outside;
    }
}

namespace
{
struct ChangeCounter : juce::ChangeListener
{
    void changeListenerCallback(juce::ChangeBroadcaster*) override
    {
        ++count;
        playingAtLastMessage = player->isPlaying();
    }
    MultipleAudioTransportSource* player = nullptr;
    int count = 0;
    bool playingAtLastMessage = false;
};

void dispatchMessages(int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}
} // namespace

// The end of the last entry stops playback by itself and is announced once, on the message
// thread.
TEST(Player, StopsAtTheEndWithOneChangeMessage)
{
    Fixtures f;
    MultipleAudioTransportSource player;
    ChangeCounter counter;
    counter.player = &player;
    player.addChangeListener(&counter);
    player.prepareToPlay(512, 44100.0);
    addPieces(player, {{f.a, 0, 1000}}, 0, nullptr);

    player.start();
    dispatchMessages(100);
    ASSERT_EQ(counter.count, 1);
    EXPECT_TRUE(counter.playingAtLastMessage);

    pull(player, 1024, 512);
    EXPECT_FALSE(player.isPlaying());
    dispatchMessages(200);
    EXPECT_EQ(counter.count, 2);
    EXPECT_FALSE(counter.playingAtLastMessage);

    const auto after = pull(player, 2048, 512);
    EXPECT_EQ(firstDifference(after, zeros(2048)), -1);
    dispatchMessages(100);
    EXPECT_EQ(counter.count, 2);
    player.removeChangeListener(&counter);
}

namespace
{
// Pulls blocks until `stop` returns on another thread; returns the block that faded out and the
// read position before and after it.
struct StopResult
{
    juce::AudioBuffer<float> fadeBlock;
    juce::int64 positionBefore = 0, positionAfter = 0;
};

// The source plays a constant level, so the fade-out block is the first one that is not level.
StopResult stopWhilePulling(MultipleAudioTransportSource& player, int blockSize, float level)
{
    StopResult result;
    auto stopping = std::async(std::launch::async, [&] { player.stop(); });
    juce::AudioBuffer<float> device(2, blockSize);
    while (stopping.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
    {
        const auto before = player.getNextReadPosition();
        player.getNextAudioBlock(juce::AudioSourceChannelInfo(&device, 0, blockSize));
        const auto range = device.findMinMax(0, 0, blockSize);
        if (result.fadeBlock.getNumSamples() == 0 && range.getStart() != level)
        {
            result.fadeBlock = device;
            result.positionBefore = before;
            result.positionAfter = player.getNextReadPosition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a device's pace, roughly
    }
    return result;
}
} // namespace

// Start fades in over the first 256 samples (or the block), stop fades out over as many, writes
// silence after them and leaves the position right after what was heard.
TEST(Player, FadesInOnStartAndOutOnStop)
{
    for (int blockSize : {512, 100})
    {
        SCOPED_TRACE(blockSize);
        MultipleAudioTransportSource player;
        player.prepareToPlay(blockSize, 44100.0);
        Piece half = silence(juce::int64(1) << 30);
        half.value = 0.5f;
        addPieces(player, {half}, 0, nullptr);
        player.start();

        const int fade = std::min(blockSize, MultipleAudioTransportSource::fadeLength);
        const auto first = pull(player, blockSize, blockSize);
        for (int i = 0; i < blockSize; ++i)
            ASSERT_NEAR(first.getSample(1, i), i < fade ? 0.5f * float(i) / float(fade) : 0.5f, 1e-5f) << i;

        const auto second = pull(player, blockSize, blockSize);
        for (int i = 0; i < blockSize; ++i)
            ASSERT_EQ(second.getSample(0, i), 0.5f);

        const auto stopped = stopWhilePulling(player, blockSize, 0.5f);
        ASSERT_EQ(stopped.fadeBlock.getNumSamples(), blockSize) << "no fade-out block seen";
        for (int i = 0; i < blockSize; ++i)
            ASSERT_NEAR(stopped.fadeBlock.getSample(0, i),
                        i < fade ? 0.5f * (1.0f - float(i) / float(fade)) : 0.0f, 1e-5f)
                << i;
        EXPECT_EQ(stopped.positionAfter - stopped.positionBefore, fade);
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(firstDifference(pull(player, blockSize, blockSize), zeros(blockSize)), -1);
    }
}

namespace
{
// Reference resampling of one entry: the framework's resampler over the file on its own, as
// many output samples as the entry lasts at the device rate.
juce::AudioBuffer<float> resampledReference(const Piece& piece, double deviceRate)
{
    std::unique_ptr<juce::AudioFormatReader> reader;
    if (piece.file == juce::File())
        reader = std::make_unique<ConstantReader>(piece.to - piece.from, piece.rate, piece.value);
    else
        reader = openReader(piece.file);
    const double rate = reader->sampleRate;
    const auto length = piece.to - piece.from;
    if (int(rate) == int(deviceRate))
        return piece.file == juce::File() ? zeros(int(length)) : readFile(piece.file, piece.from, piece.to);

    const auto outputLength =
        int((length * juce::int64(deviceRate) + juce::int64(rate) - 1) / juce::int64(rate));
    juce::AudioFormatReaderSource source(reader.release(), true);
    source.setNextReadPosition(piece.from);
    juce::ResamplingAudioSource resampler(&source, false, 2);
    resampler.setResamplingRatio(rate / deviceRate);
    resampler.prepareToPlay(outputLength, deviceRate);
    juce::AudioBuffer<float> out(2, outputLength);
    resampler.getNextAudioBlock(juce::AudioSourceChannelInfo(&out, 0, outputLength));
    return out;
}

struct RateCase
{
    const char* label;
    double deviceRate;
    std::vector<int> sourceRates;
};
} // namespace

// Entries whose rate differs from the device's go through a resampler each: their samples are
// the resampler's output for exactly their span, and the timeline is counted in device samples.
TEST(Player, ResamplesEntriesWhoseRateDiffersFromTheDevice)
{
    const RateCase cases[] = {
        {"44.1 kHz sources at a 48 kHz device", 48000.0, {44100, 44100, 44100}},
        {"48 kHz sources at a 44.1 kHz device", 44100.0, {48000, 48000, 48000}},
        {"mixed sources at a 48 kHz device", 48000.0, {44100, 48000, 44100}},
    };
    for (const auto& rateCase : cases)
    {
        SCOPED_TRACE(rateCase.label);
        std::vector<Piece> pieces{silence(1000, rateCase.sourceRates[0])};
        for (int rate : rateCase.sourceRates)
        {
            const int length = 5003 + 7 * int(pieces.size());
            const auto file =
                makeWav("r" + juce::String(pieces.size()) + "_" + juce::String(rate) + ".wav", length, rate);
            pieces.push_back({file, 100, length, double(rate)});
        }

        std::vector<juce::AudioBuffer<float>> parts;
        std::vector<juce::int64> starts;
        juce::int64 start = 0;
        for (auto& piece : pieces)
        {
            parts.push_back(resampledReference(piece, rateCase.deviceRate));
            starts.push_back(start);
            start += parts.back().getNumSamples();
        }
        const auto expected = concat(parts);

        for (bool prepareFirst : {true, false})
        {
            SCOPED_TRACE(prepareFirst ? "prepared before adding" : "prepared after adding");
            ReadThread thread;
            MultipleAudioTransportSource player;
            if (prepareFirst)
                player.prepareToPlay(512, rateCase.deviceRate);
            const auto entries = addPieces(player, pieces, readAheadSamples, &thread);
            if (!prepareFirst)
                player.prepareToPlay(512, rateCase.deviceRate);
            EXPECT_EQ(player.getTotalLength(), expected.getNumSamples());

            player.start();
            const auto out =
                pull(player, expected.getNumSamples() + 512, 512, [&] { waitForReadAhead(entries); });
            EXPECT_EQ(firstDifference(concat({out}), concat({expected, zeros(512)})), -1);
            EXPECT_FALSE(player.isPlaying());

            // A jump to an entry's start restarts its resampler.
            player.setNextReadPosition(starts[2]);
            player.start();
            const auto again =
                pull(player, parts[2].getNumSamples(), 512, [&] { waitForReadAhead(entries); });
            juce::AudioBuffer<float> want(2, parts[2].getNumSamples());
            for (int channel = 0; channel < 2; ++channel)
            {
                want.copyFrom(channel, 0, parts[2], channel, 0, want.getNumSamples());
                want.applyGainRamp(channel, 0, MultipleAudioTransportSource::fadeLength, 0.0f, 1.0f);
            }
            EXPECT_EQ(firstDifference(again, want, 1e-6f), -1);
        }
    }
}

namespace
{
// A source whose reads wait until the gate opens: a read-ahead that has not caught up.
class GatedSource : public juce::PositionableAudioSource
{
public:
    GatedSource(std::unique_ptr<juce::PositionableAudioSource> s, juce::WaitableEvent& g)
        : source(std::move(s)), gate(g)
    {
    }
    void prepareToPlay(int block, double rate) override { source->prepareToPlay(block, rate); }
    void releaseResources() override { source->releaseResources(); }
    void getNextAudioBlock(const juce::AudioSourceChannelInfo& info) override
    {
        gate.wait(-1);
        source->getNextAudioBlock(info);
    }
    void setNextReadPosition(juce::int64 p) override { source->setNextReadPosition(p); }
    juce::int64 getNextReadPosition() const override { return source->getNextReadPosition(); }
    juce::int64 getTotalLength() const override { return source->getTotalLength(); }
    bool isLooping() const override { return false; }

private:
    std::unique_ptr<juce::PositionableAudioSource> source;
    juce::WaitableEvent& gate;
};
} // namespace

// While an entry's read-ahead has nothing yet, the player plays silence and keeps its place;
// once the data is there it fades in from the very first sample of the entry.
TEST(Player, WaitsForTheReadAheadInsteadOfSkipping)
{
    Fixtures f;
    juce::WaitableEvent gate(true);
    ReadThread thread;
    MultipleAudioTransportSource player;
    // Opens the gate before the player goes, whatever happens: its read-ahead waits on it.
    const std::unique_ptr<void, std::function<void(void*)>> openAtExit(&gate, [&](void*) { gate.signal(); });

    player.prepareToPlay(512, 44100.0);
    auto reader = openReader(f.a);
    auto gated = std::make_unique<GatedSource>(
        std::make_unique<juce::AudioFormatReaderSource>(reader.release(), true), gate);
    auto entry = std::make_unique<PlayerEntry>(std::move(gated), 0, 10001);
    auto* entryPointer = entry.get();
    player.addSource(std::move(entry), readAheadSamples, &thread, 44100.0);
    player.start();

    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(firstDifference(pull(player, 512, 512), zeros(512)), -1);
    EXPECT_EQ(player.getNextReadPosition(), 0);
    EXPECT_TRUE(player.isPlaying());

    gate.signal();
    waitForReadAhead({entryPointer});
    auto want = readFile(f.a, 0, 2048);
    for (int channel = 0; channel < 2; ++channel)
        want.applyGainRamp(channel, 0, MultipleAudioTransportSource::fadeLength, 0.0f, 1.0f);
    EXPECT_EQ(firstDifference(pull(player, 2048, 512), want, 1e-6f), -1);
}

// The inherited second-based calls work on the device rate.
TEST(Player, SecondsFollowTheDeviceRate)
{
    MultipleAudioTransportSource player;
    player.prepareToPlay(512, 48000.0);
    addPieces(player, {silence(44100)}, 0, nullptr);
    EXPECT_EQ(player.getTotalLength(), 48000);
    EXPECT_DOUBLE_EQ(player.getLengthInSeconds(), 1.0);
    player.setPosition(0.5);
    EXPECT_EQ(player.getNextReadPosition(), 24000);
    EXPECT_DOUBLE_EQ(player.getCurrentPosition(), 0.5);
}
