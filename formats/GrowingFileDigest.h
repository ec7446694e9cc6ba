#pragma once

#include <juce_cryptography/juce_cryptography.h>

#include <atomic>

// The MD5 digest of a file that another thread is still appending to. A thread of its own reads
// the file back as the writer reports bytes written, so that the digest of a large file is ready
// soon after its last write instead of one whole read later.
class GrowingFileDigest : private juce::Thread
{
public:
    explicit GrowingFileDigest(const juce::File& fileToFollow);
    // Abandons the digest when finish() has not been called.
    ~GrowingFileDigest() override;

    // Writer thread: the file holds at least totalBytes now (flushed to the system).
    void bytesWritten(juce::int64 totalBytes);

    // Writer thread, after the last write: waits until the file, totalBytes long, has been read
    // back. False when it could not be read to that length.
    bool finish(juce::int64 totalBytes, juce::MD5& digest);

private:
    class Follower;

    void run() override;

    const juce::File file;
    std::atomic<juce::int64> available{0};
    std::atomic<juce::int64> finalSize{-1}; // -1 while the writer is still writing
    juce::WaitableEvent moreData;

    // Results, written by the thread before it ends.
    juce::MD5 digestRead;
    juce::int64 bytesRead = 0;
    bool readFailed = false;
};
