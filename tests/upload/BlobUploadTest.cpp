#include "formats/DdpControlCipher.h"
#include "support/ScriptedAlerts.h"
#include "support/StandIns.h"
#include "support/TestEnvironment.h"
#include "upload/PlantConnection.h"

#include <gtest/gtest.h>

namespace
{
using Icon = juce::MessageBoxIconType;

constexpr int blockSize = 4 * 1024 * 1024;

using BlobRequest = StandIns::BlobRequest;

juce::String base64Md5(const juce::MemoryBlock& data)
{
    // Streamed: the framework's digest of a block hands memcpy a null pointer when it is empty.
    juce::MemoryInputStream stream(data, false);
    const auto raw = juce::MD5(stream).getRawChecksumData();
    return juce::Base64::toBase64(raw.getData(), raw.getSize());
}

// The framework's comparison hands a null pointer to memcmp when both are empty.
bool sameBytes(const juce::MemoryBlock& a, const juce::MemoryBlock& b)
{
    return a.getSize() == b.getSize() && (a.isEmpty() || a == b);
}

juce::MemoryBlock randomBytes(size_t size, juce::int64 seed)
{
    juce::MemoryBlock data(size);
    juce::Random random(seed);
    random.fillBitsRandomly(data.getData(), data.getSize());
    return data;
}

// A connection of a verified customer (CT10001 / SO20001, project P-20001) to fresh stand-ins,
// uploading from an empty folder.
class BlobUpload : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(standIns.started()) << standIns.error();
        ::setenv("CORVANE_SERVICE_URL", standIns["CORVANE_SERVICE_URL"].toRawUTF8(), 1);
        connection = std::make_unique<PlantConnection>();
        connection->enteredCustomerNumber = "CT10001";
        connection->enteredProjectNumber = "SO20001";
        ASSERT_TRUE(connection->verifyUser());
        ASSERT_EQ(connection->replyProjectId, "P-20001");
        const auto key = juce::String("0badf00d");
        connection->runCipher = std::make_unique<juce::BlowFish>(key.toRawUTF8(), key.getNumBytesAsUTF8());
        folder = makeTestFolder("master");
        standIns.control("POST", "reset");
        alerts.records.clear();
    }

    void TearDown() override { connection.reset(); }

    juce::File addFile(const juce::String& relativePath, const juce::MemoryBlock& content)
    {
        const auto file = folder.getChildFile(relativePath);
        file.getParentDirectory().createDirectory();
        // The framework's replaceWithData deletes the file when given no bytes.
        EXPECT_TRUE(file.create() && file.replaceWithData(content.getData(), content.getSize()) &&
                    (content.isEmpty() ? file.create() : true));
        return file;
    }

    std::vector<BlobRequest> blobRequests() const { return standIns.blobRequests(); }

    // One line per request, for comparisons that print what differs.
    static juce::String describe(const std::vector<BlobRequest>& requests)
    {
        juce::StringArray lines;
        for (const auto& r : requests)
            lines.add(r.describe());
        return lines.joinIntoString("\n");
    }

    static juce::String lines(const juce::StringArray& expected) { return expected.joinIntoString("\n"); }

    juce::String containerUrl() const { return connection->sasUri.upToFirstOccurrenceOf("?", false, false); }
    juce::String accessQuery() const { return connection->sasUri.fromFirstOccurrenceOf("?", true, false); }

    // The committed blob as the store serves it, and the Content-MD5 it reports.
    juce::MemoryBlock fetchBlob(const juce::String& blobPath, juce::String* reportedMd5 = nullptr) const
    {
        const auto url = containerUrl() + blobPath + accessQuery();
        const auto target = folder.getSiblingFile("fetched.bin");
        target.deleteFile();
        EXPECT_EQ(runCommand("curl -sf -o '" + target.getFullPathName() + "' '" + url + "'"), 0) << url;
        if (reportedMd5 != nullptr)
        {
            juce::String headers;
            runCommand("curl -sfI '" + url + "'", &headers);
            for (const auto& line : juce::StringArray::fromLines(headers))
                if (line.startsWithIgnoreCase("Content-MD5:"))
                    *reportedMd5 = line.fromFirstOccurrenceOf(":", false, false).trim();
        }
        juce::MemoryBlock content;
        target.loadFileAsData(content);
        return content;
    }

    juce::StringArray transferMessages() const
    {
        juce::StringArray messages;
        for (const auto& record : alerts.records)
            if (record.title == "Transfer Progress")
                messages.add(record.message);
        return messages;
    }

    StandIns standIns;
    ScriptedAlerts alerts;
    std::unique_ptr<PlantConnection> connection;
    juce::File folder;
};
} // namespace

TEST_F(BlobUpload, FilesGoUpWholeOrInBlocksByTheirSizeAndArriveAsTheirPlainContent)
{
    const auto below = randomBytes(blockSize - 1, 1);
    const auto exact = randomBytes(blockSize, 2);
    const auto above = randomBytes(blockSize + 1, 3);
    // A control file is stored enciphered and must arrive plain; 131 bytes leave a partial group.
    const auto plainId = randomBytes(131, 4);
    auto storedId = plainId;
    DdpControlCipher::encipher(storedId, *connection->runCipher);
    addFile("DDPID", storedId);
    addFile("a.bin", below);
    addFile("b.bin", exact);
    addFile("c.bin", above);
    addFile("empty.txt", {});
    addFile("sub/notes.txt", juce::MemoryBlock("notes", 5));
    addFile(".hidden", juce::MemoryBlock("x", 1));
    addFile(".cache/skipped.txt", juce::MemoryBlock("y", 1));

    ASSERT_TRUE(connection->uploadFileset(folder, 0));

    for (const auto& record : alerts.records)
    {
        EXPECT_EQ(record.title, "Transfer Progress") << record.message;
        EXPECT_EQ(record.result, 1) << record.message;
    }
    EXPECT_EQ(
        lines(transferMessages()),
        lines({"Uploading file DDPID", "Uploading file a.bin", "Downloading list of already uploaded parts",
               "Uploading file b.bin", "Uploading file xml.txt", "Downloading list of already uploaded parts",
               "Uploading file c.bin", "Uploading file c.bin", "Uploading file xml.txt",
               "Uploading file empty.txt", "Uploading file notes.txt"}));

    const auto requests = blobRequests();
    EXPECT_EQ(describe(requests),
              lines({"PUT DDPID 201", "PUT a.bin 201", "GET b.bin comp=blocklist&blocklisttype=all 404",
                     "PUT b.bin comp=block 201", "PUT b.bin comp=blocklist 201",
                     "GET c.bin comp=blocklist&blocklisttype=all 404", "PUT c.bin comp=block 201",
                     "PUT c.bin comp=block 201", "PUT c.bin comp=blocklist 201", "PUT empty.txt 201",
                     "PUT notes.txt 201"}));
    const juce::String prefix = "/P-20001/Content/data/";
    for (const auto& r : requests)
        EXPECT_TRUE(r.blobPath.startsWith(prefix) && !r.blobPath.contains("//")) << r.blobPath;
    ASSERT_EQ(requests.size(), 11u);
    EXPECT_EQ(requests[7].contentLength, 1); // c.bin's second block
    EXPECT_EQ(requests[6].contentLength, blockSize);
    // Each block is checked against its own digest; a block id is 44 characters ending in "=".
    EXPECT_EQ(requests[6].contentMd5, base64Md5(juce::MemoryBlock(above.getData(), blockSize)));
    EXPECT_EQ(requests[6].blockId.length(), 44);
    EXPECT_TRUE(requests[6].blockId.endsWith("=") && !requests[6].blockId.endsWith("=="));

    const std::vector<std::pair<juce::String, juce::MemoryBlock>> expected{
        {"DDPID", plainId}, {"a.bin", below},  {"b.bin", exact},
        {"c.bin", above},   {"empty.txt", {}}, {"sub/notes.txt", juce::MemoryBlock("notes", 5)}};
    for (const auto& [name, content] : expected)
    {
        juce::String reportedMd5;
        const auto blob = fetchBlob("/P-20001/Content/data/" + name, &reportedMd5);
        EXPECT_TRUE(sameBytes(blob, content)) << name << ": " << blob.getSize() << " bytes";
        EXPECT_EQ(reportedMd5, base64Md5(content)) << name;
    }
}

TEST_F(BlobUpload, IdenticalBlocksShareOneIdAndBothAreCommitted)
{
    const auto block = randomBytes(blockSize, 5);
    auto twice = block;
    twice.append(block.getData(), block.getSize());
    addFile("twice.bin", twice);

    ASSERT_TRUE(connection->uploadFileset(folder, 0));

    const auto requests = blobRequests();
    ASSERT_EQ(describe(requests),
              lines({"GET twice.bin comp=blocklist&blocklisttype=all 404", "PUT twice.bin comp=block 201",
                     "PUT twice.bin comp=block 201", "PUT twice.bin comp=blocklist 201"}));
    EXPECT_EQ(requests[1].blockId, requests[2].blockId);

    const auto commit = juce::parseXML(folder.getChildFile("xml.txt"));
    ASSERT_NE(commit, nullptr);
    EXPECT_EQ(commit->getTagName(), "BlockList");
    juce::StringArray latest;
    for (auto* element : commit->getChildWithTagNameIterator("Latest"))
        latest.add(element->getAllSubText());
    EXPECT_EQ(latest, (juce::StringArray{requests[1].blockId, requests[1].blockId}));
    EXPECT_TRUE(folder.getChildFile("xml.txt").loadFileAsString().startsWith(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));

    EXPECT_TRUE(fetchBlob("/P-20001/Content/data/twice.bin") == twice);
}

TEST_F(BlobUpload, TheStoreRefusesAWrongDigestAndTheUploadStopsThere)
{
    addFile("a.bin", randomBytes(1000, 6));
    addFile("b.bin", randomBytes(1000, 7));
    connection->contentDigests.set("a.bin", base64Md5(juce::MemoryBlock("something else", 14)));

    EXPECT_FALSE(connection->uploadFileset(folder, 0));

    const auto requests = blobRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].status, "400");
    ASSERT_EQ(alerts.records.size(), 2u);
    const auto& box = alerts.records[1];
    EXPECT_EQ(box.icon, Icon::WarningIcon);
    EXPECT_EQ(box.title, "Error!");
    EXPECT_EQ(box.buttons, juce::StringArray{"OK"});
    // The store's message, then its code in quotes; the code's text differs between stores.
    EXPECT_TRUE(box.message.matchesWildcard("?*\n\nError code: \"?*\"", false)) << box.message;
    EXPECT_FALSE(box.message.contains("unknown")) << box.message;
}

TEST_F(BlobUpload, ADiscOfASetGoesIntoItsOwnFolderAndATrailingSlashAddsNoSecondOne)
{
    addFile("a.bin", randomBytes(100, 8));
    addFile("IMAGE.DAT", randomBytes(blockSize, 9));
    const auto sasUri = connection->sasUri;
    connection->sasUri = containerUrl() + "/" + accessQuery();

    ASSERT_TRUE(connection->uploadFileset(folder, 2));
    connection->sasUri = sasUri;

    const auto requests = blobRequests();
    ASSERT_EQ(requests.size(), 4u) << describe(requests);
    for (const auto& r : requests)
        EXPECT_TRUE(r.blobPath.startsWith("/P-20001/Content/disc2/") && !r.blobPath.contains("//"))
            << r.blobPath;
    EXPECT_EQ(fetchBlob("/P-20001/Content/disc2/a.bin").getSize(), 100u);
    EXPECT_EQ(fetchBlob("/P-20001/Content/disc2/IMAGE.DAT").getSize(), (size_t)blockSize);
}

TEST_F(BlobUpload, WithoutAnAccessQueryEachRequestStillNamesItsOperation)
{
    addFile("IMAGE.DAT", randomBytes(blockSize, 10));
    connection->sasUri = containerUrl();

    EXPECT_FALSE(connection->uploadFileset(folder, 0));

    // The store refuses both for want of a signature; the list's refusal is shown and the blocks go on.
    const auto requests = blobRequests();
    ASSERT_EQ(requests.size(), 2u);
    const auto log = juce::JSON::parse(standIns.control("GET", "blob-requests"));
    EXPECT_TRUE(
        log[0]["url"].toString().endsWith("/P-20001/Content/data/IMAGE.DAT?comp=blocklist&blocklisttype=all"))
        << log[0]["url"].toString();
    EXPECT_TRUE(log[1]["url"].toString().contains("/P-20001/Content/data/IMAGE.DAT?comp=block&blockid="))
        << log[1]["url"].toString();
    EXPECT_EQ(alerts.titles(),
              (juce::StringArray{"Transfer Progress", "Error!", "Transfer Progress", "Error!"}));
}

TEST_F(BlobUpload, AFolderWithoutVisibleFilesHasNothingToUpload)
{
    addFile(".hidden", juce::MemoryBlock("x", 1));

    EXPECT_FALSE(connection->uploadFileset(folder, 0));

    ASSERT_EQ(alerts.records.size(), 1u);
    EXPECT_EQ(alerts.records[0].icon, Icon::WarningIcon);
    EXPECT_EQ(alerts.records[0].title, "Error!");
    EXPECT_EQ(alerts.records[0].message, "No files to upload.");
    EXPECT_TRUE(blobRequests().empty());
}

// Presses the running progress box's "Cancel" once the store holds two blocks and the third has
// been on its (slowed) way for a second.
class CancelAfterTwoBlocks : public juce::Timer
{
public:
    explicit CancelAfterTwoBlocks(std::function<int()> countStoredBlocks)
        : count(std::move(countStoredBlocks))
    {
        startTimer(100);
    }

    void timerCallback() override
    {
        if (seenAt == 0 && count() >= 2)
            seenAt = juce::Time::getMillisecondCounter();
        if (seenAt != 0 && juce::Time::getMillisecondCounter() - seenAt > 1000)
            if (auto* box = juce::Component::getCurrentlyModalComponent())
            {
                stopTimer();
                box->exitModalState(0);
            }
    }

private:
    std::function<int()> count;
    juce::uint32 seenAt = 0;
};

TEST_F(BlobUpload, ACancelledUploadResumesWithOnlyTheBlocksTheStoreLacks)
{
    const auto image = randomBytes(5 * blockSize + 100, 11);
    addFile("IMAGE.DAT", image);
    standIns.control("POST", "blob-faults",
                     R"({"method": "PUT", "contains": "comp=block&", "skip": 2, "delayMs": 20000})");

    {
        const CancelAfterTwoBlocks cancel(
            [this]
            {
                int stored = 0;
                for (const auto& r : blobRequests())
                    stored += r.operation == "comp=block" && r.status == "201" ? 1 : 0;
                return stored;
            });
        EXPECT_FALSE(connection->uploadFileset(folder, 0));
    }
    ASSERT_GE(alerts.records.size(), 2u);
    const auto& last = alerts.records.back();
    EXPECT_EQ(last.icon, Icon::WarningIcon);
    EXPECT_EQ(last.title, "Ready!");
    EXPECT_EQ(last.message, "User abort.");
    EXPECT_EQ(alerts.records[alerts.records.size() - 2].result, 0);

    standIns.control("POST", "reset");
    alerts.records.clear();
    ASSERT_TRUE(connection->uploadFileset(folder, 0));

    const auto requests = blobRequests();
    EXPECT_EQ(describe(requests),
              lines({"GET IMAGE.DAT comp=blocklist&blocklisttype=all 200", "PUT IMAGE.DAT comp=block 201",
                     "PUT IMAGE.DAT comp=block 201", "PUT IMAGE.DAT comp=block 201",
                     "PUT IMAGE.DAT comp=block 201", "PUT IMAGE.DAT comp=blocklist 201"}));
    // The blocks sent again are the third to the sixth.
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[1].contentMd5, base64Md5(juce::MemoryBlock(image.begin() + 2 * blockSize, blockSize)));
    EXPECT_EQ(requests[3].contentMd5, base64Md5(juce::MemoryBlock(image.begin() + 4 * blockSize, blockSize)));
    EXPECT_EQ(requests[4].contentLength, 100);

    juce::String reportedMd5;
    EXPECT_TRUE(fetchBlob("/P-20001/Content/data/IMAGE.DAT", &reportedMd5) == image);
    EXPECT_EQ(reportedMd5, base64Md5(image));
}
