#include "support/AudioFixtures.h"
#include "support/MainComponentFixture.h"
#include "support/ScriptedFileChoice.h"
#include "support/TestEnvironment.h"

namespace
{
class RebuildPlayerSources : public MainComponentFixture
{
protected:
    void SetUp() override
    {
        MainComponentFixture::SetUp();
        folder = makeTestFolder("audio");
    }

    void import(juce::Array<juce::File> files)
    {
        chooser.choose(std::move(files));
        alerts.answer("No");
        ASSERT_TRUE(main->importAudioFiles(-1));
    }

    ScriptedFileChoice chooser;
    juce::File folder;
};

struct Entry
{
    juce::int64 start, end;
    bool notSixteen;
    bool operator==(const PlayerEntryInfo& e) const
    {
        return start == e.startSample && end == e.endSample && notSixteen == e.notSixteenBits;
    }
};
} // namespace

TEST_F(RebuildPlayerSources, OneEntryPerSilenceAndFileStretch)
{
    // 1000 and 24-bit 2000 samples: a pause stands between them, so nothing carries over.
    import({makeAudioFile(folder, "a.wav", 1000), makeAudioFile(folder, "b.wav", 2000, 44100, 2, "-b 24")});

    const auto entries = main->getPlayer().describeEntries();
    const std::vector<Entry> expected = {
        {0, 150 * 588, false},    // first pregap
        {0, 10 * 588, false},     // a.wav's index offset
        {0, 588 + 412, false},    // a.wav
        {0, 150 * 588, false},    // track 2's pause
        {0, 10 * 588, false},     // b.wav's index offset
        {0, 3 * 588 + 236, true}, // b.wav, flagged for its 24 bits
    };
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(expected[i] == entries[i])
            << "entry " << i << ": " << entries[i].startSample << ".." << entries[i].endSample << " flag "
            << entries[i].notSixteenBits;
}

TEST_F(RebuildPlayerSources, StopsAtAMissingFileWithOneMessage)
{
    import({makeAudioFile(folder, "a.wav", 588), makeAudioFile(folder, "b.wav", 588),
            makeAudioFile(folder, "c.wav", 588)});
    ASSERT_TRUE(folder.getChildFile("b.wav").deleteFile());
    const auto before = alerts.records.size();

    main->rebuildPlayerSources();

    ASSERT_EQ(alerts.records.size(), before + 1);
    EXPECT_EQ(alerts.records.back().title, "Error!");
    EXPECT_EQ(alerts.records.back().message,
              "File " + folder.getChildFile("b.wav").getFullPathName() + " does not exist.");
    // Pregap, a.wav's offset and audio, track 2's pause, b.wav's offset: nothing of b.wav or later.
    EXPECT_EQ(main->getPlayer().getNumEntries(), 5);
}
