#pragma once

// Shared by the DDP writer tests: source fixtures made with sox, discs, running the job on a thread
// with status hooks, and independent readers of what the writer wrote.

#include "model/CDItem.h"
#include "model/Renumbering.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ddptest
{
constexpr int samplesPerFrame = 588;

// The format of a fixture source: file extension, channels, bits per sample, float or integer.
struct SourceFormat
{
    juce::String extension;
    int channels;
    int bits;
    bool floatingPoint = false;
};

// Writes interleaved samples (integers of the given bit depth, or floats scaled by 2^31 for a
// floating-point source) as raw little-endian data and has sox wrap them, unchanged, into the
// requested container.
inline juce::File makeSource(const juce::File& folder, const juce::String& name, const SourceFormat& format,
                             const std::vector<juce::int64>& samples)
{
    const auto raw = folder.getChildFile(name + ".raw");
    juce::MemoryOutputStream bytes;
    for (auto s : samples)
    {
        if (format.floatingPoint)
        {
            const auto f = static_cast<float>(static_cast<double>(s) / 2147483648.0);
            bytes.writeFloat(f);
        }
        else
        {
            for (int b = 0; b < format.bits / 8; ++b)
                bytes.writeByte(static_cast<char>((s >> (8 * b)) & 0xff));
        }
    }
    EXPECT_TRUE(raw.replaceWithData(bytes.getData(), bytes.getDataSize()));

    const auto out = folder.getChildFile(name + "." + format.extension);
    const juce::String encoding = format.floatingPoint ? "floating-point" : "signed-integer";
    juce::String output;
    const auto command = "sox -D -t raw -r 44100 -e " + encoding + " -b " + juce::String(format.bits) +
                         " -c " + juce::String(format.channels) + " -L '" + raw.getFullPathName() + "' '" +
                         out.getFullPathName() + "'";
    EXPECT_EQ(runCommand(command, &output), 0) << output;
    raw.deleteFile();
    return out;
}

inline juce::File makeSource16(const juce::File& folder, const juce::String& name,
                               const std::vector<juce::int64>& stereoSamples)
{
    return makeSource(folder, name, {"wav", 2, 16}, stereoSamples);
}

// Deterministic pseudo-random 16-bit samples, with the extremes at the start.
inline std::vector<juce::int64> noise16(int count, int seed)
{
    juce::Random random(seed);
    std::vector<juce::int64> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back(i == 0 ? 32767 : i == 1 ? -32768 : random.nextInt(65536) - 32768);
    return samples;
}

inline IndexItem::Ptr item(int track, int index, int lengthFrames, const juce::File& source = {},
                           int remainder = 0, int indexOffset = 0)
{
    IndexItem::Ptr i = new IndexItem();
    i->trackNumber = track;
    i->indexNumber = index;
    i->length.frames = lengthFrames;
    i->remainderSamples = remainder;
    i->indexOffset = indexOffset;
    if (source != juce::File())
    {
        i->folder = source.getParentDirectory().getFullPathName();
        i->fileName = source.getFileName();
    }
    return i;
}

// An item that takes a whole source file of sampleCount sample frames, after carried frames of
// the previous file (as the import computes it).
inline IndexItem::Ptr fileItem(int track, int index, const juce::File& source, int sampleCount,
                               int carried = 0, int indexOffset = 0)
{
    const int total = sampleCount + carried;
    return item(track, index, total / samplesPerFrame, source, total % samplesPerFrame, indexOffset);
}

// Answers the job's status texts with actions, on the job's thread.
class StatusHooks : public ProgressReporter
{
public:
    void progressChanged(double) override {}
    void statusChanged(const juce::String& status) override
    {
        statuses.add(status);
        if (auto it = actions.find(status); it != actions.end())
            it->second();
    }

    std::map<juce::String, std::function<void()>> actions;
    juce::StringArray statuses;
};

// Asks the thread running the job to stop.
inline void requestExit()
{
    juce::Thread::getCurrentThread()->signalThreadShouldExit();
}

// Runs the writer job on a thread of its own, as the progress window does.
inline void runWriter(CDItem& disc, const juce::File& folder, const juce::BlowFish& cipher,
                      bool cdText = false, StatusHooks* hooks = nullptr)
{
    struct Runner : juce::Thread
    {
        explicit Runner(CDItem& d) : juce::Thread("DDP writer test"), disc(d) {}
        void run() override { disc.run(); }
        CDItem& disc;
    };

    renumberDisc(disc);
    disc.outputFolder = folder.getFullPathName();
    disc.writeCdText = cdText;
    disc.cipher = &cipher;
    disc.task = 1;
    disc.errorMessage = {};

    StatusHooks none;
    disc.reporter = hooks != nullptr ? hooks : &none;
    Runner runner(disc);
    runner.startThread();
    runner.waitForThreadToExit(-1);
    disc.reporter = nullptr;
}

inline std::string readBytes(const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData(data);
    return std::string(static_cast<const char*>(data.getData()), data.getSize());
}

// Deciphers a control file with the cipher itself: whole 8-byte blocks as two little-endian
// words, the tail as it is.
inline std::string decipher(const std::string& enciphered, const juce::BlowFish& cipher)
{
    std::string text = enciphered;
    for (size_t pos = 0; pos + 8 <= text.size(); pos += 8)
    {
        auto word = [&text](size_t at)
        {
            return static_cast<juce::uint32>(static_cast<unsigned char>(text[at])) |
                   static_cast<juce::uint32>(static_cast<unsigned char>(text[at + 1])) << 8 |
                   static_cast<juce::uint32>(static_cast<unsigned char>(text[at + 2])) << 16 |
                   static_cast<juce::uint32>(static_cast<unsigned char>(text[at + 3])) << 24;
        };
        auto l = word(pos), r = word(pos + 4);
        cipher.decrypt(l, r);
        for (int b = 0; b < 4; ++b)
        {
            text[pos + (size_t)b] = static_cast<char>((l >> (8 * b)) & 0xff);
            text[pos + 4 + (size_t)b] = static_cast<char>((r >> (8 * b)) & 0xff);
        }
    }
    return text;
}

// The image as 16-bit samples, interleaved left and right.
inline std::vector<juce::int16> readImage(const juce::File& file)
{
    const auto bytes = readBytes(file);
    std::vector<juce::int16> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<juce::int16>(static_cast<unsigned char>(bytes[2 * i]) |
                                              static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return samples;
}

// The image a disc should give, built from its parts.
struct ExpectedImage
{
    void silence(int sampleFrames) { samples.insert(samples.end(), static_cast<size_t>(sampleFrames) * 2, 0); }
    void stereo(const std::vector<juce::int64>& interleaved)
    {
        for (auto s : interleaved)
            samples.push_back(static_cast<juce::int16>(s));
    }
    void padToFrame()
    {
        while ((samples.size() / 2) % samplesPerFrame != 0)
            samples.push_back(0);
    }
    std::vector<juce::int16> samples;
};

// Index of the first sample where two images differ, or -1.
inline long firstDifference(const std::vector<juce::int16>& a, const std::vector<juce::int16>& b)
{
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}
} // namespace ddptest
