#include "formats/RawAudioFormat.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <set>
#include <vector>

namespace
{
// Appends what it is given to a block that outlives it; refuses the write calls (counted from 1)
// listed in failingCalls and accepts all others, so that a writer that kept writing after a
// failure would be seen.
class RecordingStream : public juce::OutputStream
{
public:
    explicit RecordingStream(juce::MemoryBlock& sinkToFill, std::set<int> callsToFail = {})
        : sink(sinkToFill), failingCalls(std::move(callsToFail))
    {
    }

    bool write(const void* data, size_t numBytes) override
    {
        if (failingCalls.count(++calls) != 0)
            return false;
        sink.append(data, numBytes);
        return true;
    }
    juce::int64 getPosition() override { return (juce::int64)sink.getSize(); }
    bool setPosition(juce::int64) override { return false; }
    void flush() override {}

    int calls = 0;

private:
    juce::MemoryBlock& sink;
    std::set<int> failingCalls;
};

std::unique_ptr<juce::AudioFormatReader> readerFor(const std::vector<juce::uint8>& bytes)
{
    RawAudioFormat format;
    return std::unique_ptr<juce::AudioFormatReader>(
        format.createReaderFor(new juce::MemoryInputStream(bytes.data(), bytes.size(), true), true));
}

std::vector<juce::uint8> bytesOf(const juce::MemoryBlock& block)
{
    auto* data = static_cast<const juce::uint8*>(block.getData());
    return {data, data + block.getSize()};
}

std::unique_ptr<RawAudioFormatWriter> writerInto(juce::OutputStream* stream, unsigned int channels = 2)
{
    RawAudioFormat format;
    auto* writer = format.createWriterFor(stream, 44100.0, channels, 16, {}, 0);
    return std::unique_ptr<RawAudioFormatWriter>(dynamic_cast<RawAudioFormatWriter*>(writer));
}

// A writer that starts close to its byte limit, so that the limit is reached without gigabytes.
class WriterNearLimit : public RawAudioFormatWriter
{
public:
    WriterNearLimit(juce::OutputStream* stream, juce::uint32 alreadyWritten)
        : RawAudioFormatWriter(stream, 44100.0, 2)
    {
        bytesWritten = alreadyWritten;
    }
};
} // namespace

TEST(RawAudioFormat, DescribesHeaderlessCdAudio)
{
    RawAudioFormat format;
    EXPECT_EQ(format.getFormatName(), "Raw data file");
    EXPECT_EQ(format.getFileExtensions(), juce::StringArray(""));
    EXPECT_EQ(format.getPossibleSampleRates(), juce::Array<int>(44100));
    EXPECT_EQ(format.getPossibleBitDepths(), juce::Array<int>(16));
    EXPECT_TRUE(format.canDoStereo());
    EXPECT_TRUE(format.canDoMono());

    auto reader = readerFor({});
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->getFormatName(), "Raw data file");
    EXPECT_EQ(reader->sampleRate, 44100.0);
    EXPECT_EQ(reader->bitsPerSample, 16u);
    EXPECT_EQ(reader->numChannels, 2u);
    EXPECT_FALSE(reader->usesFloatingPointData);
    EXPECT_EQ(reader->lengthInSamples, 0);
    EXPECT_EQ(dynamic_cast<RawAudioFormatReader&>(*reader).bytesPerFrame, 4);

    EXPECT_EQ(format.createReaderFor(nullptr, true), nullptr);
}

TEST(RawAudioFormatReader, ReadsLowByteFirstAndGivesSilencePastTheEnd)
{
    // Ten bytes: two whole frames, the last two bytes ignored.
    auto reader = readerFor({0x34, 0x12, 0xFF, 0x80, 0x01, 0x00, 0x00, 0x80, 0xAA, 0xBB});
    ASSERT_EQ(reader->lengthInSamples, 2);

    const int sentinel = 0x7777;
    std::vector<int> left(6, sentinel), right(6, sentinel);
    int* both[] = {left.data(), right.data()};
    ASSERT_TRUE(reader->readSamples(both, 2, 0, 0, 5));
    EXPECT_EQ(left, (std::vector<int>{0x12340000, 0x00010000, 0, 0, 0, sentinel}));
    EXPECT_EQ(right, (std::vector<int>{(int)0x80FF0000, (int)0x80000000, 0, 0, 0, sentinel}));

    // From frame 1 into offset 1; one channel only, the other pointer null.
    std::vector<int> only(4, sentinel);
    int* rightOnly[] = {nullptr, only.data()};
    ASSERT_TRUE(reader->readSamples(rightOnly, 2, 1, 1, 3));
    EXPECT_EQ(only, (std::vector<int>{sentinel, (int)0x80000000, 0, 0}));

    std::vector<int> mono(2, sentinel);
    int* leftOnly[] = {mono.data()};
    ASSERT_TRUE(reader->readSamples(leftOnly, 1, 0, 0, 2));
    EXPECT_EQ(mono, (std::vector<int>{0x12340000, 0x00010000}));

    std::vector<int> beyond(3, sentinel);
    int* past[] = {beyond.data()};
    ASSERT_TRUE(reader->readSamples(past, 1, 0, 5, 3));
    EXPECT_EQ(beyond, std::vector<int>(3, 0));
}

TEST(RawAudioFormatReader, LongReadsFromAnyFrameMatchTheFile)
{
    constexpr int frames = 4000; // several of the reader's conversion pieces
    juce::Random random(7);
    std::vector<juce::uint8> bytes(frames * 4);
    for (auto& b : bytes)
        b = (juce::uint8)random.nextInt(256);
    auto reader = readerFor(bytes);
    ASSERT_EQ(reader->lengthInSamples, frames);

    const int first = 7, count = 3500, offset = 3;
    std::vector<int> left(offset + count), right(offset + count);
    int* both[] = {left.data(), right.data()};
    ASSERT_TRUE(reader->readSamples(both, 2, offset, first, count));
    for (int i = 0; i < count; ++i)
    {
        const size_t at = (size_t)(first + i) * 4;
        ASSERT_EQ(left[offset + i], (int)((juce::uint32)(bytes[at] | bytes[at + 1] << 8) << 16))
            << "frame " << i;
        ASSERT_EQ(right[offset + i], (int)((juce::uint32)(bytes[at + 2] | bytes[at + 3] << 8) << 16))
            << "frame " << i;
    }
}

TEST(RawAudioFormatWriter, StoresEachSamplesUpperSixteenBitsLowByteFirst)
{
    juce::MemoryBlock sink;
    auto writer = writerInto(new RecordingStream(sink));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->getFormatName(), "Raw data file");

    // Truncated, never rounded: 0x1234FFFF keeps 0x1234; negative values shift arithmetically.
    const int left[] = {0x1234FFFF, -1};
    const int right[] = {(int)0x80FFFFFF, 0x0001FFFF};
    const int* channels[] = {left, right, nullptr};
    ASSERT_TRUE(writer->write(channels, 1));
    EXPECT_EQ(bytesOf(sink), (std::vector<juce::uint8>{0x34, 0x12, 0xFF, 0x80}));
    ASSERT_TRUE(writer->write(channels, 2));
    EXPECT_EQ(writer->getSamplesWritten(), 3u);
    EXPECT_EQ(writer->getBytesWritten(), 12u);

    writer.reset(); // nothing is added on destruction
    EXPECT_EQ(bytesOf(sink), (std::vector<juce::uint8>{0x34, 0x12, 0xFF, 0x80, 0x34, 0x12, 0xFF, 0x80, 0xFF,
                                                       0xFF, 0x01, 0x00}));
}

TEST(RawAudioFormatWriter, RoundTripsThroughTheReaderInBlocksOfAnySize)
{
    juce::MemoryBlock sink;
    auto writer = writerInto(new juce::MemoryOutputStream(sink, false));
    juce::Random random(11);
    std::vector<int> left, right;
    for (const int block : {1, 700, 3, 5000, 64})
    {
        std::vector<int> l(block), r(block);
        for (int i = 0; i < block; ++i)
        {
            l[i] = random.nextInt();
            r[i] = random.nextInt();
        }
        const int* channels[] = {l.data(), r.data(), nullptr};
        ASSERT_TRUE(writer->write(channels, block));
        left.insert(left.end(), l.begin(), l.end());
        right.insert(right.end(), r.begin(), r.end());
    }
    writer.reset();

    auto reader = readerFor(bytesOf(sink));
    ASSERT_EQ(reader->lengthInSamples, (juce::int64)left.size());
    std::vector<int> readLeft(left.size()), readRight(left.size());
    int* both[] = {readLeft.data(), readRight.data()};
    ASSERT_TRUE(reader->readSamples(both, 2, 0, 0, (int)left.size()));
    for (size_t i = 0; i < left.size(); ++i)
    {
        ASSERT_EQ(readLeft[i], (int)((juce::uint32)left[i] & 0xFFFF0000u)) << "frame " << i;
        ASSERT_EQ(readRight[i], (int)((juce::uint32)right[i] & 0xFFFF0000u)) << "frame " << i;
    }
}

TEST(RawAudioFormat, MakesWritersForSixteenBitsAtAnyRateAndChannelCount)
{
    struct Case
    {
        int bits;
        double rate;
        unsigned int channels;
        bool made;
    };
    const Case cases[] = {{24, 44100.0, 2, false}, {8, 44100.0, 2, false}, {32, 44100.0, 1, false},
                          {16, 44100.0, 2, true},  {16, 8000.0, 1, true},  {16, 96000.0, 6, true},
                          {16, 22050.0, 3, true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String(c.bits) + " bits, " + juce::String(c.rate) + " Hz, " +
                     juce::String(c.channels) + " channels");
        juce::MemoryBlock sink;
        sink.append("0123456789", 10);
        auto* stream = new juce::MemoryOutputStream(sink, true);
        RawAudioFormat format;
        std::unique_ptr<juce::AudioFormatWriter> writer(
            format.createWriterFor(stream, c.rate, c.channels, c.bits, {}, 0));
        if (!c.made)
        {
            EXPECT_EQ(writer, nullptr);
            delete stream; // still the caller's
            continue;
        }
        ASSERT_NE(writer, nullptr);
        auto& raw = dynamic_cast<RawAudioFormatWriter&>(*writer);
        EXPECT_EQ(raw.getStartPosition(), 10);
        EXPECT_EQ(writer->getSampleRate(), c.rate);
        EXPECT_EQ(writer->getNumChannels(), (int)c.channels);
        EXPECT_EQ(writer->getBitsPerSample(), 16);

        // One frame: channel k carries k + 1, interleaved in channel order after the existing bytes.
        std::vector<int> samples(c.channels);
        std::vector<const int*> channels;
        for (unsigned int k = 0; k < c.channels; ++k)
        {
            samples[k] = (int)(k + 1) << 16;
            channels.push_back(&samples[k]);
        }
        channels.push_back(nullptr);
        ASSERT_TRUE(writer->write(channels.data(), 1));
        writer.reset();
        std::vector<juce::uint8> expected{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
        for (unsigned int k = 0; k < c.channels; ++k)
        {
            expected.push_back((juce::uint8)(k + 1));
            expected.push_back(0);
        }
        EXPECT_EQ(bytesOf(sink), expected);
    }
}

TEST(RawAudioFormatWriter, ChannelsMissingFromTheCallersListAreWrittenSilent)
{
    juce::MemoryBlock sink;
    auto writer = writerInto(new RecordingStream(sink));
    const int left[] = {0x01020000, 0x03040000};
    const int* channels[] = {left, nullptr};
    ASSERT_TRUE(writer->write(channels, 2));
    EXPECT_EQ(bytesOf(sink), (std::vector<juce::uint8>{0x02, 0x01, 0, 0, 0x04, 0x03, 0, 0}));
}

TEST(RawAudioFormatWriter, AFailedStreamWriteFailsEveryLaterWrite)
{
    juce::MemoryBlock sink;
    auto* stream = new RecordingStream(sink, {2}); // only the second call fails
    auto writer = writerInto(stream);
    const int left[] = {0x11110000}, right[] = {0x22220000};
    const int* channels[] = {left, right, nullptr};

    ASSERT_TRUE(writer->write(channels, 1));
    EXPECT_FALSE(writer->write(channels, 1));
    EXPECT_TRUE(writer->hasWriteFailed());
    EXPECT_FALSE(writer->write(channels, 1)); // the stream would take it now
    EXPECT_FALSE(writer->write(channels, 0));
    EXPECT_EQ(stream->calls, 2);
    EXPECT_EQ(writer->getSamplesWritten(), 1u);
    EXPECT_EQ(writer->getBytesWritten(), 4u);
    EXPECT_EQ(sink.getSize(), 4u);
}

TEST(RawAudioFormatWriter, TheByteLimitRefusesTheWriteThatWouldPassItAndEveryLaterOne)
{
    EXPECT_EQ(RawAudioFormatWriter::maxBytes, 0xFFEFFFFFu);
    const int left[] = {0x11110000, 0x33330000}, right[] = {0x22220000, 0x44440000};
    const int* channels[] = {left, right, nullptr};

    juce::MemoryBlock sink;
    WriterNearLimit writer(new RecordingStream(sink), RawAudioFormatWriter::maxBytes - 12);
    ASSERT_TRUE(writer.write(channels, 2)); // 8 bytes: 4 to spare
    ASSERT_TRUE(writer.write(channels, 1)); // exactly at the limit
    EXPECT_EQ(writer.getBytesWritten(), RawAudioFormatWriter::maxBytes);
    EXPECT_FALSE(writer.hasWriteFailed());
    EXPECT_FALSE(writer.write(channels, 1));
    EXPECT_TRUE(writer.hasWriteFailed());
    EXPECT_FALSE(writer.write(channels, 0));
    EXPECT_EQ(writer.getBytesWritten(), RawAudioFormatWriter::maxBytes);
    EXPECT_EQ(sink.getSize(), 12u);

    // A fresh writer refuses a single request beyond the limit before touching its samples.
    juce::MemoryBlock untouched;
    auto fresh = writerInto(new RecordingStream(untouched));
    EXPECT_FALSE(fresh->write(channels, std::numeric_limits<int>::max()));
    EXPECT_FALSE(fresh->write(channels, 1));
    EXPECT_EQ(untouched.getSize(), 0u);
}
