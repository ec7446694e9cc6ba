#include "support/AudioFixtures.h"
#include "support/StandIns.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>

namespace
{
const juce::String cli = juce::String(CORVANE_BINARY_DIR) + "/corvane-cli";

using BlobRequest = StandIns::BlobRequest;

// The ids of the block PUTs that the store took.
std::set<juce::String> storedBlocks(const std::vector<BlobRequest>& requests)
{
    std::set<juce::String> ids;
    for (const auto& r : requests)
        if (r.blockId.isNotEmpty() && r.status == "201")
            ids.insert(r.blockId);
    return ids;
}

juce::String quoted(const juce::File& file)
{
    return file.getFullPathName().quoted();
}

// The folders the tool makes for a master it does not keep.
int leftoverMasterFolders()
{
    return TestEnvironment::temp().getNumberOfChildFiles(juce::File::findDirectories, "corvane-deliver*");
}

class CliDeliver : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(standIns.started()) << standIns.error(); }

    int deliver(const juce::String& arguments, juce::String& output)
    {
        standIns.control("POST", "reset");
        return runCommand(cli.quoted() + " deliver --service " + standIns["CORVANE_SERVICE_URL"].quoted() +
                              " " + arguments,
                          &output);
    }

    StandIns standIns;
};
} // namespace

TEST_F(CliDeliver, UploadsTheMasterIntoTheProjectsFolderAndReportsSuccess)
{
    const auto folder = makeTestFolder("deliver");
    // Over 4 MiB of image, so that it goes up in blocks and a commit.
    const auto files = quoted(makeAudioFile(folder, "b.wav", 44100 * 30)) + " " +
                       quoted(makeAudioFile(folder, "a.flac", 588 * 300));
    const std::set<juce::String> fileset{"CDTEXT.BIN", "DDPID",   "DDPMS",           "Filetype.txt",
                                         "IMAGE.DAT",  "PQDESCR", "MD5-Checksum.md5"};

    struct Case
    {
        const char* label;
        juce::String arguments; // customer, project, disc
        juce::String folder;    // where the files must go
    };
    for (const auto& c : {
             Case{"single disc, numbers as typed", "--customer ' ct10001 ' --project so20001",
                  "/P-20001/Content/data/"},
             Case{"multi-disc set, first disc by default", "--customer CT10001 --project SO20003",
                  "/P-20003/Content/disc1/"},
             Case{"multi-disc set, second disc", "--customer CT10001 --project SO20003 --disc 2",
                  "/P-20003/Content/disc2/"},
         })
    {
        SCOPED_TRACE(c.label);
        juce::String output;
        ASSERT_EQ(deliver(c.arguments + " --title 'Night Drive' " + files, output), 0) << output;
        // The plant checked every file against the uploaded list: the control files went up
        // deciphered and each request carried the right digest.
        EXPECT_TRUE(output.contains("Success! Thank you.")) << output;

        std::set<juce::String> uploaded;
        int blocks = 0;
        for (const auto& r : standIns.blobRequests())
        {
            EXPECT_TRUE(r.blobPath.startsWith(c.folder)) << r.blobPath;
            EXPECT_EQ(r.status, r.method == "GET" ? "404" : "201") << r.blobPath;
            uploaded.insert(r.blobPath.fromLastOccurrenceOf("/", false, false));
            blocks += r.blockId.isNotEmpty() ? 1 : 0;
        }
        EXPECT_EQ(uploaded, fileset);
        EXPECT_EQ(blocks, 2);

        const auto calls = standIns.requestUrls();
        ASSERT_EQ(calls.size(), 2) << calls.joinIntoString("\n");
        EXPECT_TRUE(calls[0].contains("VerifyUser?customerID=CT10001&projectID=SO2000")) << calls[0];
        EXPECT_TRUE(calls[1].contains("CreateActivities?")) << calls[1];
    }
    EXPECT_EQ(leftoverMasterFolders(), 0);
}

TEST_F(CliDeliver, RefusalsUploadNothing)
{
    const auto folder = makeTestFolder("deliver");
    const auto wav = quoted(makeAudioFile(folder, "a.wav", 588 * 400));
    const auto out = folder.getChildFile("master");

    struct Case
    {
        const char* label;
        juce::String arguments;
        int exitCode;
        juce::String text;
    };
    for (const auto& c : {
             Case{"unknown customer", "--customer CT99999 --project SO20001", 1,
                  "Error! The customer number is not known. Please check your CT#."},
             Case{"unknown project", "--customer CT10001 --project SO29999", 1,
                  "Error! The project number is not known for this customer."},
             Case{"a disc number for a single disc", "--customer CT10001 --project SO20001 --disc 2", 2,
                  "project SO20001 is a single disc; leave out --disc."},
             Case{"no project", "--customer CT10001", 2, "deliver needs --customer CT and --project QT."},
             Case{"plain control files", "--customer CT10001 --project SO20001 --plain", 2,
                  "unknown option --plain for deliver."},
             Case{"disc 0", "--customer CT10001 --project SO20003 --disc 0", 2,
                  "--disc needs a disc number from 1 on, not \"0\"."},
         })
    {
        SCOPED_TRACE(c.label);
        juce::String output;
        EXPECT_EQ(deliver(c.arguments + " --out " + quoted(out) + " " + wav, output), c.exitCode) << output;
        EXPECT_TRUE(output.contains(c.text)) << output;
        EXPECT_TRUE(standIns.blobRequests().empty());
        EXPECT_FALSE(out.exists());
    }
}

// Ctrl-C in the middle of a large image's blocks, then the same delivery again: the second run
// sends only the blocks that the store does not hold yet.
TEST_F(CliDeliver, CtrlCStopsTheUploadAndTheNextRunResumesIt)
{
    const auto folder = makeTestFolder("deliver");
    const auto wav = quoted(makeAudioFile(folder, "long.wav", 44100 * 120)); // 6 blocks of image
    const auto run1Output = folder.getChildFile("run1.txt");
    const auto pidFile = folder.getChildFile("pid");

    standIns.control("POST", "reset");
    // A slow store: every block takes a second, which leaves time to press Ctrl-C.
    standIns.control("POST", "blob-faults",
                     R"({"method": "PUT", "contains": "comp=block&", "delayMs": 1000, "times": 1000})");

    juce::ChildProcess run1;
    ASSERT_TRUE(run1.start(juce::StringArray{
        "/bin/bash", "-c",
        "echo $$ > " + quoted(pidFile) + "; exec " + cli.quoted() + " deliver --service " +
            standIns["CORVANE_SERVICE_URL"].quoted() + " --customer CT10001 --project SO20001 " + wav +
            " > " + quoted(run1Output) + " 2>&1"}));

    // Ctrl-C once the store holds a block.
    for (int i = 0; i < 600 && run1.isRunning() && storedBlocks(standIns.blobRequests()).empty(); ++i)
        juce::Thread::sleep(50);
    ASSERT_TRUE(run1.isRunning()) << run1Output.loadFileAsString();
    ::kill(pidFile.loadFileAsString().trim().getIntValue(), SIGINT);
    ASSERT_TRUE(run1.waitForProcessToFinish(60000));
    EXPECT_EQ(run1.getExitCode(), 1u);
    EXPECT_TRUE(run1Output.loadFileAsString().contains("Ready! User abort."))
        << run1Output.loadFileAsString();

    // A block the store took after the cancel (its body had arrived whole) counts as held too.
    juce::Thread::sleep(1500);
    const auto heldAfterRun1 = storedBlocks(standIns.blobRequests());

    const auto out = folder.getChildFile("master");
    juce::String output;
    ASSERT_EQ(deliver("--customer CT10001 --project SO20001 --out " + quoted(out) + " " + wav, output), 0)
        << output;
    EXPECT_TRUE(output.contains("Success! Thank you.")) << output;

    const auto run2 = standIns.blobRequests();
    const auto sentInRun2 = storedBlocks(run2);
    EXPECT_TRUE(std::any_of(run2.begin(), run2.end(),
                            [](const BlobRequest& r) { return r.method == "GET" && r.status == "200"; }))
        << "the second run asks the store for its blocks and finds some";
    for (const auto& id : sentInRun2)
        EXPECT_EQ(heldAfterRun1.count(id), 0u) << id << " was sent again";

    const auto image = out.getChildFile("IMAGE.DAT").getSize();
    const auto blocksOfImage = (size_t)((image + 4194303) / 4194304);
    EXPECT_FALSE(heldAfterRun1.empty());
    EXPECT_LT(heldAfterRun1.size(), blocksOfImage);
    EXPECT_EQ(heldAfterRun1.size() + sentInRun2.size(), blocksOfImage);
    EXPECT_EQ(leftoverMasterFolders(), 0);
}
