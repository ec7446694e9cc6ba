#include "upload/BlobRequests.h"

#include <gtest/gtest.h>

TEST(BlobRequests, RequestUrlsNameContainerBlobAccessAndOperation)
{
    const juce::String sas = "https://store.example/container?sv=1&sig=a%2Bb";
    const auto prefix = BlobRequests::remotePrefix("P-1", 0);
    struct Case
    {
        juce::String sasUri, blobPath, suffix, expected;
    } cases[] = {
        {sas,
         prefix + "IMAGE.DAT",
         {},
         "https://store.example/container/P-1/Content/data/IMAGE.DAT?sv=1&sig=a%2Bb"},
        {sas, prefix + "IMAGE.DAT", BlobRequests::blockListQuery,
         "https://store.example/container/P-1/Content/data/"
         "IMAGE.DAT?sv=1&sig=a%2Bb&comp=blocklist&blocklisttype=all"},
        // A container URL ending in "/" gives no second slash.
        {"https://store.example/container/?sv=1", prefix + "a b", BlobRequests::commitQuery,
         "https://store.example/container/P-1/Content/data/a b?sv=1&comp=blocklist"},
        // Without an access query the operation starts the query.
        {"https://store.example/container", prefix + "x", BlobRequests::blockQuery("QQ=="),
         "https://store.example/container/P-1/Content/data/x?comp=block&blockid=QQ=="},
        {"https://store.example/container",
         prefix + "x",
         {},
         "https://store.example/container/P-1/Content/data/x"},
        // Backslashes become slashes; nothing is percent-encoded.
        {sas,
         prefix + "sub\\f%.txt",
         {},
         "https://store.example/container/P-1/Content/data/sub/f%.txt?sv=1&sig=a%2Bb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BlobRequests::requestUrl(c.sasUri, c.blobPath, c.suffix), c.expected) << c.blobPath;

    EXPECT_EQ(BlobRequests::remotePrefix("P-1", 2), "/P-1/Content/disc2/");
    EXPECT_EQ(BlobRequests::remotePrefix("/P-1", 0), "/P-1/Content/data/");
}

TEST(BlobRequests, BlockIdIsTheBase64OfTheHexDigest)
{
    EXPECT_EQ(BlobRequests::blockId(juce::MD5(juce::MemoryBlock("abc", 3))),
              "OTAwMTUwOTgzY2QyNGZiMGQ2OTYzZjdkMjhlMTdmNzI=");
    EXPECT_EQ(BlobRequests::base64Digest(juce::MD5(juce::MemoryBlock("abc", 3))), "kAFQmDzST7DWlj99KOF/cg==");
}

TEST(BlobRequests, ErrorRepliesAndBlockListsAreReadWithWhatIsMissing)
{
    struct Case
    {
        juce::String reply, expected;
    } errors[] = {
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><Error><Code>Md5Mismatch</Code><Message>The MD5 value "
         "specified in the request did not match.</Message></Error>",
         "The MD5 value specified in the request did not match.\n\nError code: \"Md5Mismatch\""},
        // Escaped once more, root in other case, code missing.
        {"&lt;ERROR&gt;&lt;Message&gt;Tom &amp;amp; Jerry&lt;/Message&gt;&lt;/ERROR&gt;",
         "Tom & Jerry\n\nError code: \"unknown\""},
        {"<Error><code>lower</code></Error>", "unknown\n\nError code: \"unknown\""},
        {"not xml", "unknown\n\nError code: \"unknown\""},
        {{}, "unknown\n\nError code: \"unknown\""},
    };
    for (const auto& c : errors)
        EXPECT_EQ(BlobRequests::describeError(c.reply.toRawUTF8(), c.reply.getNumBytesAsUTF8()), c.expected)
            << c.reply;

    const std::string bytes =
        "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"utf-8\"?><blocklist>"
        "<CommittedBlocks><Block><Name>Yw==</Name><Size>1</Size></Block></CommittedBlocks>"
        "<UncommittedBlocks><Block><Name>YQ==</Name></Block><Block><Name>Yg==</Name></Block>"
        "</UncommittedBlocks><committedblocks><Block><Name>no</Name></Block></committedblocks>"
        "</blocklist>";
    EXPECT_EQ(BlobRequests::parseBlockList(bytes.data(), bytes.size()),
              (juce::StringArray{"YQ==", "Yg==", "Yw=="}));
    EXPECT_TRUE(BlobRequests::parseBlockList("<Error/>", 8).isEmpty());
}
