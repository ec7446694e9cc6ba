#include "formats/GrowingFileDigest.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

// The digest follows a file written in pieces of uneven size, some still in the stream's buffer
// when they are reported, and equals the digest of the whole file once it is complete.
TEST(GrowingFileDigest, FollowsAFileAsItIsWritten)
{
    const auto file = makeTestFolder("digest").getChildFile("image.dat");
    juce::MemoryBlock content;
    juce::Random random(3);
    GrowingFileDigest digest(file);
    {
        juce::FileOutputStream out(file, 32768);
        ASSERT_TRUE(out.openedOk());
        for (int piece = 0; piece < 200; ++piece)
        {
            juce::MemoryBlock bytes(static_cast<size_t>(random.nextInt(100000)));
            random.fillBitsRandomly(bytes.getData(), bytes.getSize());
            ASSERT_TRUE(out.write(bytes.getData(), bytes.getSize()));
            content.append(bytes.getData(), bytes.getSize());
            digest.bytesWritten(out.getPosition());
            if (piece % 50 == 0)
                juce::Thread::sleep(5);
        }
    }

    juce::MD5 result;
    ASSERT_TRUE(digest.finish(file.getSize(), result));
    EXPECT_EQ(result, juce::MD5(content));
}

TEST(GrowingFileDigest, FailsWhenTheFileIsShorterThanItsFinalSize)
{
    const auto file = makeTestFolder("digest").getChildFile("short.dat");
    file.replaceWithText("twelve bytes");
    GrowingFileDigest digest(file);
    digest.bytesWritten(12);

    juce::MD5 result;
    EXPECT_FALSE(digest.finish(24, result));
}
