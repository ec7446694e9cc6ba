#include "model/CDItem.h"
#include "model/Renumbering.h"

#include <gtest/gtest.h>

namespace
{
struct Row
{
    int track, index, offset, length, remainder;
};

struct Out
{
    int track, index, start;
};

struct RenumberCase
{
    const char* label;
    std::vector<Row> rows;
    std::vector<Out> expected;
    int total; // returned length and leadOut.start
    int audioLeadOutStart;
    std::vector<Row> dataRows = {};
    std::vector<Out> expectedData = {};
    int audioLeadOutLength = 0;
    int dataLeadInLength = 0;
    int dataLeadOutStart = 0;
    int dataLeadOutLength = 0;
};

IndexItem::Ptr makeItem(const Row& r)
{
    IndexItem::Ptr item = new IndexItem();
    item->trackNumber = r.track;
    item->indexNumber = r.index;
    item->indexOffset = r.offset;
    item->length.frames = r.length;
    item->remainderSamples = r.remainder;
    return item;
}

// The usual import layout: a pause and a track per file; the first pause is firstPregap (150).
const std::vector<RenumberCase> cases = {
    {"empty disc", {}, {}, 0, 0},
    {"usual layout keeps its numbers (cases 6 and 9)",
     {{1, 1, 10, 1000, 0}, {2, 0, 0, 150, 0}, {2, 1, 10, 2000, 0}, {3, 0, 0, 150, 0}, {3, 1, 10, 500, 0}},
     {{1, 1, 150}, {2, 0, 1160}, {2, 1, 1310}, {3, 0, 3320}, {3, 1, 3470}},
     3980,
     3980},
    {"two index-1 items of one track: the second becomes the next track (case 4), later tracks move up",
     {{1, 1, 0, 100, 0}, {1, 1, 0, 100, 0}, {2, 0, 0, 150, 0}, {2, 1, 0, 100, 0}},
     {{1, 1, 150}, {2, 1, 250}, {3, 0, 350}, {3, 1, 500}},
     600,
     600},
    {"index 3 after index 1 of the same track becomes index 2 (case 5)",
     {{1, 1, 0, 100, 0}, {1, 3, 0, 100, 0}},
     {{1, 1, 150}, {1, 2, 250}},
     350,
     350},
    {"index 3 with a higher track number joins the current track and keeps index 3 (case 8)",
     {{1, 1, 0, 100, 0}, {2, 3, 0, 100, 0}},
     {{1, 1, 150}, {1, 3, 250}},
     350,
     350},
    {"new items numbered 0 after a track (cases 2 and 3)",
     {{1, 1, 0, 100, 0}, {0, 0, 0, 150, 0}, {0, 1, 0, 100, 0}},
     {{1, 1, 150}, {2, 0, 250}, {2, 1, 400}},
     500,
     500},
    {"a lower track number with the current index starts a new track (case 1)",
     {{1, 1, 0, 100, 0}, {2, 0, 0, 150, 0}, {2, 1, 0, 100, 0}, {1, 1, 0, 100, 0}},
     {{1, 1, 150}, {2, 0, 250}, {2, 1, 400}, {3, 1, 500}},
     600,
     600},
    {"index 0 below the current index of the same track starts a new track (case 7)",
     {{1, 1, 0, 100, 0}, {1, 2, 0, 100, 0}, {1, 0, 0, 150, 0}, {1, 1, 0, 100, 0}},
     {{1, 1, 150}, {1, 2, 250}, {2, 0, 350}, {2, 1, 500}},
     600,
     600},
    {"a track number that skips ahead becomes the next track (case 10)",
     {{1, 1, 0, 100, 0}, {5, 0, 0, 150, 0}, {5, 1, 0, 100, 0}},
     {{1, 1, 150}, {2, 0, 250}, {2, 1, 400}},
     500,
     500},
    {"last file ending 412 samples past a frame pads one frame",
     {{1, 1, 10, 1000, 0}, {2, 0, 0, 150, 0}, {2, 1, 10, 1, 412}},
     {{1, 1, 150}, {2, 0, 1160}, {2, 1, 1310}},
     1322,
     1322},
    {"last file ending on a frame boundary pads nothing",
     {{1, 1, 10, 1000, 24}, {2, 0, 0, 150, 0}, {2, 1, 10, 1, 0}},
     {{1, 1, 150}, {2, 0, 1160}, {2, 1, 1310}},
     1321,
     1321},
    {"data session after two tracks",
     {{1, 1, 0, 1000, 0}, {2, 0, 0, 150, 0}, {2, 1, 0, 1000, 100}},
     {{1, 1, 150}, {2, 0, 1150}, {2, 1, 1300}},
     2301 + 6750 + 11250 + 300 + 150,
     2301,
     {{0, 1, 0, 300, 0}},
     {{3, 1, 2301 + 6750 + 11250}},
     6750,
     11250,
     2301 + 6750 + 11250 + 300,
     150},
    {"data session without audio follows firstPregap's track",
     {},
     {},
     0 + 0 + 0 + 300 + 0,
     0,
     {{7, 1, 0, 200, 0}, {7, 2, 5, 100, 0}},
     {{2, 1, 0}, {2, 2, 200}},
     0,
     0,
     300,
     0},
};

void PrintTo(const RenumberCase& c, std::ostream* os)
{
    *os << c.label;
}

class Renumbering : public testing::TestWithParam<RenumberCase>
{
};
} // namespace

TEST_P(Renumbering, NumbersAndPositions)
{
    const auto& c = GetParam();
    CDItem disc;
    for (const auto& r : c.rows)
        disc.indexItems.add(makeItem(r));
    for (const auto& r : c.dataRows)
        disc.dataItems.add(makeItem(r));
    disc.audioLeadOut->length.frames = c.audioLeadOutLength;
    disc.dataLeadIn->length.frames = c.dataLeadInLength;
    disc.dataLeadOut->length.frames = c.dataLeadOutLength;

    const auto total = renumberDisc(disc);

    ASSERT_EQ(disc.indexItems.size(), (int)c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i)
    {
        const auto& item = *disc.indexItems[(int)i];
        EXPECT_EQ(item.trackNumber, c.expected[i].track) << "row " << i + 1;
        EXPECT_EQ(item.indexNumber, c.expected[i].index) << "row " << i + 1;
        EXPECT_EQ(item.start.frames, c.expected[i].start) << "row " << i + 1;
    }
    for (size_t i = 0; i < c.expectedData.size(); ++i)
    {
        const auto& item = *disc.dataItems[(int)i];
        EXPECT_EQ(item.trackNumber, c.expectedData[i].track) << "data row " << i;
        EXPECT_EQ(item.indexNumber, c.expectedData[i].index) << "data row " << i;
        EXPECT_EQ(item.start.frames, c.expectedData[i].start) << "data row " << i;
    }
    EXPECT_EQ(total, c.total);
    EXPECT_EQ(disc.leadOut->start.frames, c.total);
    EXPECT_EQ(disc.audioLeadOut->start.frames, c.audioLeadOutStart);
    EXPECT_EQ(disc.firstPregap->start.frames, 0);
    if (!c.dataRows.empty())
    {
        EXPECT_EQ(disc.dataLeadIn->start.frames, c.audioLeadOutStart + c.audioLeadOutLength);
        EXPECT_EQ(disc.dataLeadOut->start.frames, c.dataLeadOutStart);
    }
    else
    {
        EXPECT_EQ(disc.dataLeadOut->start.frames, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Renumbering, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<RenumberCase>& info)
                         {
                             juce::String name(info.param.label);
                             return name
                                 .retainCharacters(
                                     "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ")
                                 .replaceCharacter(' ', '_')
                                 .toStdString();
                         });

TEST(Renumbering, RunsAgainWithoutChangingAnything)
{
    CDItem disc;
    for (auto r : {Row{1, 1, 0, 100, 0}, Row{0, 0, 0, 150, 0}, Row{0, 1, 0, 100, 0}})
        disc.indexItems.add(makeItem(r));
    renumberDisc(disc);
    std::vector<std::pair<int, int>> first;
    for (auto* item : disc.indexItems)
        first.emplace_back(item->trackNumber, item->indexNumber);
    renumberDisc(disc);
    for (int i = 0; i < disc.indexItems.size(); ++i)
        EXPECT_EQ(std::make_pair(disc.indexItems[i]->trackNumber, disc.indexItems[i]->indexNumber),
                  first[(size_t)i]);
}
