#include "app/ConsoleProgressDisplay.h"
#include "support/AudioFixtures.h"
#include "support/MainComponentFixture.h"
#include "support/ScriptedFileChoice.h"
#include "support/TestEnvironment.h"

namespace
{
// Runs the writer job on its own thread, then lets a test damage what it wrote.
class TamperingDisplay : public ConsoleProgressDisplay
{
public:
    bool runJob(ProgressJob& job) override
    {
        const bool finished = ConsoleProgressDisplay::runJob(job);
        if (afterJob)
            afterJob();
        return finished;
    }
    std::function<void()> afterJob;
};

class MasterExport : public MainComponentFixture
{
protected:
    void SetUp() override
    {
        MainComponentFixture::SetUp();
        ProgressDisplay::install(&display);
        folder = makeTestFolder("audio");
        chooser.choose(
            {makeAudioFile(folder, "a.wav", 588 * 400), makeAudioFile(folder, "b.wav", 588 * 500 + 7)});
        alerts.answer("No");
        ASSERT_TRUE(main->importAudioFiles(-1));
    }

    void TearDown() override
    {
        MainComponentFixture::TearDown();
        ProgressDisplay::install(nullptr);
    }

    TamperingDisplay display;
    ScriptedFileChoice chooser;
    juce::File folder;
};
} // namespace

TEST_F(MasterExport, WritesReadsBackAndLeavesNothingToUndo)
{
    ASSERT_TRUE(main->exportMaster());

    const auto master = main->masterFolder;
    EXPECT_EQ(master.getParentDirectory(), TestEnvironment::temp());
    EXPECT_EQ(master.getFileName().length(), 8);
    EXPECT_TRUE(master.getFileName().containsOnly("0123456789abcdef"));
    EXPECT_EQ(master.getChildFile("Filetype.txt").loadFileAsString(), "Mastertype: Individual Files");
    EXPECT_EQ(master.getChildFile("Filetype.txt").getSize(), 28);
    EXPECT_FALSE(master.getChildFile("CDTEXT.BIN").exists());
    EXPECT_TRUE(master.getChildFile("IMAGE.DAT").existsAsFile());

    EXPECT_FALSE(main->getUndoManager().canUndo());
    ASSERT_EQ(disc().indexItems.size(), 3);
    for (auto* item : disc().indexItems)
        EXPECT_EQ(item->fileName, "IMAGE.DAT");
    EXPECT_EQ(main->savedIndexItems.size(), 3);
    EXPECT_EQ(main->savedIndexItems[0]->fileName, "a.wav");
    EXPECT_FALSE(main->getStep1Button().isEnabled());
    for (auto name : {"ddpid", "ddpms", "pqdescr", "image.dat"})
        EXPECT_EQ(main->contentDigests[name].length(), 24) << name;

    // A second export makes a new folder and removes the first once it has been read back.
    ASSERT_TRUE(main->exportMaster());
    EXPECT_NE(main->masterFolder, master);
    EXPECT_TRUE(main->masterFolder.isDirectory());
    EXPECT_FALSE(master.exists());

    // A locked master stands as it is.
    main->masterLocked = true;
    const auto lockedFolder = main->masterFolder;
    EXPECT_TRUE(main->exportMaster());
    EXPECT_EQ(main->masterFolder, lockedFolder);
}

TEST_F(MasterExport, CdTextAndSourceTypeShowInTheFileset)
{
    disc().discTitle = "Night Drive";
    ASSERT_TRUE(main->exportMaster());
    EXPECT_TRUE(main->masterFolder.getChildFile("CDTEXT.BIN").existsAsFile());
    EXPECT_EQ(disc().discTitle, "Night Drive");
}

TEST_F(MasterExport, AFailedReadBackLeavesAnEmptyDisc)
{
    display.afterJob = [this] { main->masterFolder.getChildFile("DDPMS").deleteFile(); };
    EXPECT_FALSE(main->exportMaster());
    EXPECT_EQ(disc().getNumRows(), 0);
    EXPECT_EQ(alerts.records.back().title, "Error!");
    EXPECT_EQ(alerts.records.back().message, "File not found: DDPMS.");
}
