#include "app/AppSettings.h"
#include "support/AudioFixtures.h"
#include "support/MainComponentFixture.h"
#include "support/ScriptedFileChoice.h"
#include "support/TestEnvironment.h"

namespace
{
struct RowOut
{
    int track, index, offset, length, remainder;
    const char* fileName;
    bool operator==(const RowOut& o) const
    {
        return track == o.track && index == o.index && offset == o.offset && length == o.length &&
               remainder == o.remainder && juce::String(fileName) == o.fileName;
    }
};

std::ostream& operator<<(std::ostream& os, const RowOut& r)
{
    return os << "(" << r.track << "," << r.index << " offset " << r.offset << " length " << r.length << "+"
              << r.remainder << " " << r.fileName << ")";
}

class AudioImport : public MainComponentFixture
{
protected:
    void SetUp() override
    {
        MainComponentFixture::SetUp();
        folder = makeTestFolder("audio");
    }

    std::vector<RowOut> rows() const
    {
        std::vector<RowOut> result;
        for (auto* item : main->getDisc().indexItems)
            result.push_back({item->trackNumber, item->indexNumber, item->indexOffset, item->length.frames,
                              item->remainderSamples, item->fileName.toRawUTF8()});
        return result;
    }

    // Imports the files; cdTextAnswer answers the CD-Text question, nullptr when no rows are
    // expected (and so no question).
    bool import(juce::Array<juce::File> files, int selectedRow = -1, const char* cdTextAnswer = "No")
    {
        chooser.choose(std::move(files));
        if (cdTextAnswer != nullptr)
            alerts.answer(cdTextAnswer);
        return main->importAudioFiles(selectedRow);
    }

    juce::File wav(const juce::String& name, int samples, int rate = 44100, int channels = 2,
                   const juce::String& options = "-b 16")
    {
        return makeAudioFile(folder, name, samples, rate, channels, options);
    }

    ScriptedFileChoice chooser;
    juce::File folder;
};
} // namespace

TEST_F(AudioImport, TakesFilesInNameOrderWithPausesAndOffsets)
{
    const auto b = wav("b.wav", 588 * 100);
    const auto a = makeAudioFile(folder, "A.flac", 588 * 200);
    const auto c = makeAudioFile(folder, "c.aif", 588 * 300);

    ASSERT_TRUE(import({b, a, c}, -1, "Yes"));

    const std::vector<RowOut> expected = {{1, 1, 10, 200, 0, "A.flac"},
                                          {2, 0, 0, 150, 0, ""},
                                          {2, 1, 10, 100, 0, "b.wav"},
                                          {3, 0, 0, 150, 0, ""},
                                          {3, 1, 10, 300, 0, "c.aif"}};
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(disc().getNumRows(), 6);
    EXPECT_EQ(disc().indexItems[0]->folder, folder.getFullPathName());
    EXPECT_EQ(disc().indexItems[0]->title, "A");
    EXPECT_EQ(disc().indexItems[2]->title, "b");
    EXPECT_EQ(disc().indexItems[1]->title, "");

    EXPECT_EQ(chooser.titles, juce::StringArray{"Open one or more files..."});
    EXPECT_EQ(chooser.patterns, juce::StringArray{"*.wav;*.aif;*.aiff;*.aifc;*.flac"});
    const auto shown = newRecords();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, "CD-Text");
    EXPECT_EQ(shown[0].icon, juce::MessageBoxIconType::QuestionIcon);
    EXPECT_EQ(shown[0].message, "Would you like to use the file names as Song Titles (for CD-Text)?\r\n\r\n"
                                "You can also add or edit CD-Text info after your files are imported.");
    EXPECT_EQ(shown[0].buttons, (juce::StringArray{"Yes", "No"}));
    EXPECT_EQ(shown[1].title, "Song Order");
    EXPECT_EQ(shown[1].icon, juce::MessageBoxIconType::InfoIcon);
    EXPECT_EQ(shown[1].message,
              "To change the song order, click on a track number and drag it to the desired position.");

    // Positions follow at once, and one undo takes the whole import back.
    EXPECT_EQ(disc().indexItems[4]->start.frames, 150 + 210 + 150 + 110 + 150);
    EXPECT_EQ(main->getUndoManager().getUndoDescription(), "Add file(s)");
    ASSERT_TRUE(main->getUndoManager().undo());
    EXPECT_TRUE(disc().indexItems.isEmpty());
    EXPECT_FALSE(main->getUndoManager().canUndo());
    ASSERT_TRUE(main->getUndoManager().redo());
    EXPECT_EQ(rows(), expected);
}

TEST_F(AudioImport, WithoutPausesFilesJoinSampleExactly)
{
    AppSettings::getInstance()->getProperties().setValue("defaultpause", "0");
    ASSERT_TRUE(import({wav("1.wav", 1000), wav("2.wav", 200)}));
    const std::vector<RowOut> expected = {{1, 1, 0, 1, 412, "1.wav"}, {2, 1, 0, 1, 24, "2.wav"}};
    EXPECT_EQ(rows(), expected);
    // The padded last frame: 150 + 1 + 1 + 1.
    EXPECT_EQ(main->getTotalLengthLabel().getText(), "00:02:03");
}

TEST_F(AudioImport, AcceptsIntegerFormatsAndRefusesTheRest)
{
    struct Case
    {
        const char* name;
        int rate, channels;
        const char* options;
        const char* error; // nullptr: imported
    };
    const Case cases[] = {
        {"u8.wav", 44100, 2, "-b 8", nullptr},
        {"s16mono.wav", 44100, 1, "-b 16", nullptr},
        {"s24.wav", 44100, 2, "-b 24", nullptr},
        {"s32.wav", 44100, 2, "-b 32", nullptr},
        {"plain.aiff", 44100, 2, "-b 16", nullptr},
        {"compressed.aifc", 44100, 2, "-t aifc -e signed -b 16", nullptr},
        {"lossless.flac", 44100, 1, "-b 24", nullptr},
        {"x.wav", 44100, 3, "-b 16", "File x.wav is not a valid wave file, invalid number of channels."},
        {"x3.aif", 44100, 3, "-b 16", "File x3.aif is not a valid aif file, invalid number of channels."},
        {"x3.flac", 44100, 3, "-b 16", "File x3.flac is not a valid flac file, invalid number of channels."},
        {"f.wav", 44100, 2, "-e floating-point -b 32",
         "File f.wav is not a valid wave file, invalid data type."},
        {"f.aifc", 44100, 2, "-t aifc -e floating-point -b 32",
         "File f.aifc is not a valid aif file, invalid data type."},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        main->newProject();
        const auto file = makeAudioFile(folder, c.name, 5000, c.rate, c.channels, c.options);
        const auto before = alerts.records.size();
        const bool added = import({file}, -1, c.error == nullptr ? "No" : nullptr);
        EXPECT_EQ(added, c.error == nullptr);
        if (c.error != nullptr)
        {
            ASSERT_EQ(alerts.records.size(), before + 1);
            EXPECT_EQ(alerts.records.back().title, "Error!");
            EXPECT_EQ(alerts.records.back().icon, juce::MessageBoxIconType::WarningIcon);
            EXPECT_EQ(alerts.records.back().message, c.error);
            EXPECT_TRUE(disc().indexItems.isEmpty());
        }
        else
        {
            ASSERT_EQ(disc().indexItems.size(), 1);
            EXPECT_EQ(disc().indexItems[0]->length.frames, 5000 / 588);
            EXPECT_EQ(disc().indexItems[0]->remainderSamples, 5000 % 588);
        }
    }
}

TEST_F(AudioImport, ListsEveryRejectedRateInOneBoxAndImportsTheRest)
{
    ASSERT_TRUE(import({wav("fast.wav", 1000, 48000), wav("good.wav", 1000), wav("slow.wav", 1000, 22050)}));
    ASSERT_EQ(disc().indexItems.size(), 1);
    EXPECT_EQ(disc().indexItems[0]->fileName, "good.wav");

    const auto shown = newRecords();
    ASSERT_GE(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Error!");
    EXPECT_EQ(
        shown[0].message,
        "The Corvane App has detected that the sample rate for the file(s):\r\n\r\nfast.wav\r\nslow.wav"
        "\r\n\r\nis not compatible with this software. WAV, AIFF, or FLAC files must be at a sample rate of "
        "44.1K. If you wish to use a different sample rate, go back to the Quorrel, and on the \"Upload "
        "Method\" page, select Fennick.");
}

TEST_F(AudioImport, InsertsAfterTheSelectedTrackAndNamesOnlyNewTracks)
{
    ASSERT_TRUE(import({wav("a.wav", 588 * 10), wav("b.wav", 588 * 20), wav("c.wav", 588 * 30)}, -1, "Yes"));
    disc().indexItems[2]->title = "Kept";

    // Row 1 is track 1: the new track goes right after it.
    ASSERT_TRUE(import({wav("Intro.Take2.wav", 588 * 40)}, 1, "Yes"));

    const std::vector<RowOut> expected = {
        {1, 1, 10, 10, 0, "a.wav"}, {2, 0, 0, 150, 0, ""},      {2, 1, 10, 40, 0, "Intro.Take2.wav"},
        {3, 0, 0, 150, 0, ""},      {3, 1, 10, 20, 0, "b.wav"}, {4, 0, 0, 150, 0, ""},
        {4, 1, 10, 30, 0, "c.wav"}};
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(disc().indexItems[2]->title, "Intro");
    EXPECT_EQ(disc().indexItems[4]->title, "Kept");
    EXPECT_EQ(disc().indexItems[0]->title, "a");
}

TEST_F(AudioImport, InsertionRows)
{
    ASSERT_TRUE(import({wav("a.wav", 588), wav("b.wav", 588), wav("c.wav", 588)}));
    // Rows: 0 pregap (1), 1 (1,1), 2 (2,0), 3 (2,1), 4 (3,0), 5 (3,1); n = 5.
    EXPECT_EQ(main->getImportInsertionRow(-1), 6);
    EXPECT_EQ(main->getImportInsertionRow(0), 2);
    EXPECT_EQ(main->getImportInsertionRow(1), 2);
    EXPECT_EQ(main->getImportInsertionRow(2), 4);
    EXPECT_EQ(main->getImportInsertionRow(3), 4);
    EXPECT_EQ(main->getImportInsertionRow(4), 6); // the last track
    EXPECT_EQ(main->getImportInsertionRow(9), 6); // a data row or beyond
}

TEST_F(AudioImport, NothingAddedLeavesTheProjectAndHistoryAlone)
{
    ASSERT_TRUE(import({wav("a.wav", 588)}));
    main->getUndoManager().clearUndoHistory();
    auto* before = disc().indexItems[0].get();

    chooser.choose({folder.getChildFile("gone.wav"), wav("fast.wav", 1000, 48000)});
    EXPECT_FALSE(main->importAudioFiles(-1));

    EXPECT_EQ(disc().indexItems.size(), 1);
    EXPECT_EQ(disc().indexItems[0].get(), before);
    EXPECT_FALSE(main->getUndoManager().canUndo());
    const auto shown = newRecords();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[shown.size() - 2].message, "File not found: gone.wav.");

    // A cancelled chooser changes nothing either.
    chooser.choose({});
    EXPECT_FALSE(main->importAudioFiles(-1));
}
