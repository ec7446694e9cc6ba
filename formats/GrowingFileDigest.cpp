#include "formats/GrowingFileDigest.h"

// Reads the file up to what the writer has reported, waiting for more until the final size is
// known; reads in large pieces however small the requests.
class GrowingFileDigest::Follower : public juce::InputStream
{
public:
    explicit Follower(GrowingFileDigest& digestToFeed) : owner(digestToFeed) {}

    int read(void* dest, int bytes) override
    {
        if (next == end && !refill())
            return 0;
        const auto n = juce::jmin(bytes, end - next);
        std::memcpy(dest, buffer.get() + next, static_cast<size_t>(n));
        next += n;
        position += n;
        return n;
    }

    juce::int64 getTotalLength() override { return -1; }
    bool isExhausted() override { return next == end && owner.finalSize.load() == filePosition; }
    juce::int64 getPosition() override { return position; }
    bool setPosition(juce::int64) override { return false; }

    juce::int64 position = 0;
    bool failed = false;

private:
    // Waits until the file holds bytes beyond filePosition, then reads up to a buffer of them.
    // Reported bytes may still sit in the writer's buffer; once the size is final they are all in
    // the file, and a read that then finds nothing is a failure.
    bool refill()
    {
        for (;;)
        {
            if (owner.threadShouldExit())
                return false;
            const auto finalSize = owner.finalSize.load();
            const auto limit = finalSize >= 0 ? finalSize : owner.available.load();
            if (filePosition >= limit)
            {
                if (finalSize >= 0)
                    return false;
                owner.moreData.wait(50);
                continue;
            }

            if (input == nullptr)
            {
                input = std::make_unique<juce::FileInputStream>(owner.file);
                if (!input->openedOk())
                    return (failed = true), false;
            }
            const auto got = input->read(
                buffer.get(), static_cast<int>(juce::jmin<juce::int64>(bufferSize, limit - filePosition)));
            if (got > 0)
            {
                filePosition += got;
                next = 0;
                end = got;
                return true;
            }
            if (finalSize >= 0)
                return (failed = true), false;
            owner.moreData.wait(50);
        }
    }

    static constexpr int bufferSize = 1 << 20;
    GrowingFileDigest& owner;
    std::unique_ptr<juce::FileInputStream> input;
    juce::HeapBlock<char> buffer{static_cast<size_t>(bufferSize)};
    int next = 0, end = 0;
    juce::int64 filePosition = 0;
};

GrowingFileDigest::GrowingFileDigest(const juce::File& fileToFollow)
    : juce::Thread("MD5 of " + fileToFollow.getFileName()), file(fileToFollow)
{
    startThread();
}

GrowingFileDigest::~GrowingFileDigest()
{
    signalThreadShouldExit();
    moreData.signal();
    stopThread(-1);
}

void GrowingFileDigest::bytesWritten(juce::int64 totalBytes)
{
    available = totalBytes;
    moreData.signal();
}

bool GrowingFileDigest::finish(juce::int64 totalBytes, juce::MD5& digest)
{
    finalSize = totalBytes;
    moreData.signal();
    waitForThreadToExit(-1);
    if (readFailed || bytesRead != totalBytes)
        return false;
    digest = digestRead;
    return true;
}

void GrowingFileDigest::run()
{
    Follower follower(*this);
    digestRead = juce::MD5(follower);
    bytesRead = follower.position;
    readFailed = follower.failed;
}
