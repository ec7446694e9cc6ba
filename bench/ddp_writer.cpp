// Writing a 74-minute disc of WAV sources as a DDP fileset, against copying the same source bytes
// with cp and checksumming the copy with md5sum, both measured in this run on this machine.
//
//   ddp_writer <work folder> [rounds]
//
// For 16-bit and then 24-bit sources: makes 20 files of 222 s of noise, then alternates the
// baseline and the writer for the given rounds (3 by default) and reports the best wall-clock time
// of each and their ratio, which the goals refer to. The processor time of each (user + system,
// all threads and child processes) is reported beside it: on a machine shared with other jobs the
// wall-clock ratio follows the scheduler's share for this session more than the work done.

#include "model/CDItem.h"
#include "model/Renumbering.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "BenchClock.h"

namespace
{
constexpr int trackCount = 20;
constexpr int secondsPerTrack = 222; // 20 × 222 s = 74 minutes

void makeSources(const juce::File& folder, int bits)
{
    folder.deleteRecursively();
    folder.createDirectory();
    juce::WavAudioFormat wav;
    juce::Random random(bits);
    juce::AudioBuffer<float> block(2, 44100);

    for (int t = 1; t <= trackCount; ++t)
    {
        auto stream = folder.getChildFile(juce::String::formatted("track%02d.wav", t)).createOutputStream();
        std::unique_ptr<juce::AudioFormatWriter> writer(
            wav.createWriterFor(stream.release(), 44100.0, 2, bits, {}, 0));
        for (int s = 0; s < secondsPerTrack; ++s)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < block.getNumSamples(); ++i)
                    block.setSample(c, i, random.nextFloat() * 1.8f - 0.9f);
            writer->writeFromAudioSampleBuffer(block, 0, block.getNumSamples());
        }
    }
}

struct Times
{
    double wall = 0;
    double cpu = 0;
};

Times timeBaseline(const juce::File& sources, const juce::File& copy)
{
    copy.deleteRecursively();
    copy.createDirectory();
    const auto command = "cp '" + sources.getFullPathName() + "'/*.wav '" + copy.getFullPathName() +
                         "' && md5sum '" + copy.getFullPathName() + "'/*.wav > /dev/null";
    const auto cpuBefore = BenchClock::cpuSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.toRawUTF8()) != 0)
        std::fprintf(stderr, "baseline command failed\n");
    const Times times{BenchClock::secondsSince(start), BenchClock::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
    copy.deleteRecursively();
    return times;
}

Times timeWriter(const juce::File& sources, const juce::File& out, const juce::BlowFish& cipher)
{
    CDItem disc;
    for (int t = 1; t <= trackCount; ++t)
    {
        if (t > 1)
        {
            IndexItem::Ptr pause = new IndexItem();
            pause->trackNumber = t;
            pause->indexNumber = 0;
            pause->length.frames = 150;
            disc.indexItems.add(pause);
        }
        IndexItem::Ptr item = new IndexItem();
        item->trackNumber = t;
        item->indexNumber = 1;
        item->length.frames = secondsPerTrack * 75;
        item->folder = sources.getFullPathName();
        item->fileName = juce::String::formatted("track%02d.wav", t);
        disc.indexItems.add(item);
    }
    renumberDisc(disc);

    out.deleteRecursively();
    out.createDirectory();
    disc.outputFolder = out.getFullPathName();
    disc.cipher = &cipher;
    disc.task = 1;

    const auto cpuBefore = BenchClock::cpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    disc.run();
    const Times times{BenchClock::secondsSince(start), BenchClock::cpuSeconds(RUSAGE_SELF) - cpuBefore};
    if (!disc.writeSucceeded)
        std::fprintf(stderr, "writer failed: %s\n", disc.errorMessage.toRawUTF8());
    out.deleteRecursively();
    return times;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s <work folder> [rounds]\n", argv[0]);
        return 2;
    }
    const juce::File work(juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]));
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const juce::BlowFish cipher("bench", 5);
    const double goals[] = {1.25, 2.0};

    int result = 0;
    for (int bits : {16, 24})
    {
        const auto sources = work.getChildFile("sources" + juce::String(bits));
        std::printf("%d-bit sources: making %d × %d s...\n", bits, trackCount, secondsPerTrack);
        std::fflush(stdout);
        makeSources(sources, bits);

        Times bestBaseline{1e9, 1e9}, bestWriter{1e9, 1e9};
        for (int r = 0; r < rounds; ++r)
        {
            const auto baseline = timeBaseline(sources, work.getChildFile("copy"));
            const auto writer = timeWriter(sources, work.getChildFile("ddp"), cipher);
            std::printf(
                "  round %d: cp + md5sum %.2f s (cpu %.2f s), writer %.2f s (cpu %.2f s), ratio %.2f\n",
                r + 1, baseline.wall, baseline.cpu, writer.wall, writer.cpu, writer.wall / baseline.wall);
            std::fflush(stdout);
            bestBaseline = {std::min(bestBaseline.wall, baseline.wall),
                            std::min(bestBaseline.cpu, baseline.cpu)};
            bestWriter = {std::min(bestWriter.wall, writer.wall), std::min(bestWriter.cpu, writer.cpu)};
        }
        const auto ratio = bestWriter.wall / bestBaseline.wall;
        const auto goal = goals[bits == 16 ? 0 : 1];
        std::printf("%d-bit: best cp + md5sum %.2f s, best writer %.2f s, ratio %.2f (goal at most %.2f); "
                    "cpu %.2f s against %.2f s, ratio %.2f\n",
                    bits, bestBaseline.wall, bestWriter.wall, ratio, goal, bestBaseline.cpu, bestWriter.cpu,
                    bestWriter.cpu / bestBaseline.cpu);
        if (ratio > goal)
            result = 1;
        sources.deleteRecursively();
    }
    return result;
}
