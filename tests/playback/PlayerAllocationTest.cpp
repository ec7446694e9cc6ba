// Counts heap allocations made by the audio block. Replaces the global operator new/delete of
// this test executable with counting versions, and (through the linker's --wrap, set for this
// executable in tests/CMakeLists.txt) malloc, calloc and realloc, which the framework's buffers
// use directly. Only allocations on a thread that switched counting on are counted, so the
// read-ahead thread's work does not show.
#include "PlayerFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <new>

namespace
{
thread_local bool countingOnThisThread = false;
std::atomic<int> allocationCount{0};

void noteAllocation()
{
    if (countingOnThisThread)
        ++allocationCount;
}

// Counts what happens on this thread while it exists.
struct CountAllocations
{
    CountAllocations() { countingOnThisThread = true; }
    ~CountAllocations() { countingOnThisThread = false; }
};
} // namespace

extern "C"
{
    void* __real_malloc(std::size_t size);
    void* __real_calloc(std::size_t count, std::size_t size);
    void* __real_realloc(void* p, std::size_t size);
}

void* operator new(std::size_t size)
{
    noteAllocation();
    if (void* p = __real_malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

extern "C"
{
    void* __wrap_malloc(std::size_t size)
    {
        noteAllocation();
        return __real_malloc(size);
    }

    void* __wrap_calloc(std::size_t count, std::size_t size)
    {
        noteAllocation();
        return __real_calloc(count, size);
    }

    void* __wrap_realloc(void* p, std::size_t size)
    {
        noteAllocation();
        return __real_realloc(p, size);
    }
}

using namespace playertest;

// The counter sees both kinds of allocation, also from inside the framework's library code.
TEST(PlayerAllocations, CounterSeesNewAndFrameworkMalloc)
{
    allocationCount = 0;
    {
        CountAllocations counting;
        int* volatile allocated = new int(1);
        delete allocated;
    }
    EXPECT_EQ(allocationCount, 1);
    {
        CountAllocations counting;
        juce::MemoryBlock block(1000);
    }
    EXPECT_EQ(allocationCount, 2);
}

// Blocks across entry boundaries, through resamplers, to the end of the timeline, and the
// fade-out of a stop: no allocation. The read-ahead buffers are filled before every block
// (outside the counted calls), so the blocks take the path of a read-ahead that keeps up.
TEST(PlayerAllocations, AudioBlocksAllocateNothing)
{
    const auto a = makeWav("a.wav", 10001, 44100);
    const auto b = makeWav("b.wav", 7777, 48000);
    const std::vector<Piece> pieces{silence(700), {a, 0, 10001}, {a, 300, 333}, silence(200), {b, 0, 7777}};

    for (double deviceRate : {44100.0, 48000.0})
    {
        SCOPED_TRACE(deviceRate);
        juce::TimeSliceThread thread("audio file preview");
        thread.startThread();
        MultipleAudioTransportSource player;
        player.prepareToPlay(512, deviceRate);
        const auto entries = addPieces(player, pieces, 32768, &thread);
        player.start();

        juce::AudioBuffer<float> device(2, 512);
        float loudest = 0.0f;
        allocationCount = 0;
        const auto total = player.getTotalLength();
        while (player.isPlaying())
        {
            waitForReadAhead(entries);
            {
                CountAllocations counting;
                player.getNextAudioBlock(juce::AudioSourceChannelInfo(&device, 0, 512));
            }
            loudest = std::max(loudest, device.getMagnitude(0, 512));
        }
        EXPECT_EQ(player.getNextReadPosition(), total);
        EXPECT_GT(loudest, 0.1f) << "the files were not played";

        // A stop's fade-out block, pulled while stop() waits on another thread.
        player.setNextReadPosition(1000);
        player.start();
        waitForReadAhead(entries);
        auto stopping = std::async(std::launch::async, [&] { player.stop(); });
        while (stopping.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        {
            CountAllocations counting;
            player.getNextAudioBlock(juce::AudioSourceChannelInfo(&device, 0, 512));
        }
        EXPECT_EQ(allocationCount, 0);
    }
}
