#include "model/CDItem.h"

#include <gtest/gtest.h>

namespace
{
IndexItem::Ptr item(int track, int index, const juce::String& isrc = {})
{
    IndexItem::Ptr i = new IndexItem();
    i->trackNumber = track;
    i->indexNumber = index;
    i->isrc = isrc;
    i->title = "title " + juce::String(track);
    return i;
}
} // namespace

TEST(CDDuration, TimeStrings)
{
    EXPECT_EQ(CDDuration::toTimeString(0), "00:00:00");
    EXPECT_EQ(CDDuration::toTimeString(150), "00:02:00");
    EXPECT_EQ(CDDuration::toTimeString(4499), "00:59:74");
    EXPECT_EQ(CDDuration::toTimeString(450000), "100:00:00");
}

TEST(CDItem, StartsWithFirstPregapAndEmptyLists)
{
    CDItem disc;
    EXPECT_EQ(disc.firstPregap->trackNumber, 1);
    EXPECT_EQ(disc.firstPregap->indexNumber, 0);
    EXPECT_EQ(disc.firstPregap->length.frames, 150);
    EXPECT_EQ(disc.languageCode, 9);
    EXPECT_EQ(disc.genreCode, 0);
    for (auto* special : {disc.leadIn.get(), disc.audioLeadOut.get(), disc.dataLeadIn.get(),
                          disc.dataLeadOut.get(), disc.leadOut.get()})
        EXPECT_EQ(special->length.frames, 0);
    EXPECT_EQ(disc.getNumRows(), 0);
}

TEST(CDItem, RowsAddressPregapIndexItemsThenDataItems)
{
    CDItem disc;
    auto a = item(1, 1), b = item(2, 0), d = item(3, 1);
    disc.indexItems.add(a);
    disc.indexItems.add(b);
    disc.dataItems.add(d);

    EXPECT_EQ(disc.getNumRows(), 4);
    EXPECT_EQ(disc.getRowItem(0), disc.firstPregap.get());
    EXPECT_EQ(disc.getRowItem(1), a.get());
    EXPECT_EQ(disc.getRowItem(2), b.get());
    EXPECT_EQ(disc.getRowItem(3), d.get());
    EXPECT_EQ(disc.getRowItem(4), nullptr);
}

TEST(CDItem, SetRowItemRowZeroCopiesOnlyTheIsrc)
{
    CDItem disc;
    disc.indexItems.add(item(1, 1));
    const IndexItem before = *disc.firstPregap;
    auto* pregapObject = disc.firstPregap.get();

    auto replacement = item(9, 3, "DEABC2400001");
    replacement->length.frames = 777;
    disc.setRowItem(0, replacement);

    EXPECT_EQ(disc.firstPregap.get(), pregapObject);
    EXPECT_EQ(disc.firstPregap->isrc, "DEABC2400001");
    EXPECT_EQ(disc.firstPregap->trackNumber, before.trackNumber);
    EXPECT_EQ(disc.firstPregap->indexNumber, before.indexNumber);
    EXPECT_EQ(disc.firstPregap->length.frames, before.length.frames);
    EXPECT_EQ(disc.firstPregap->title, before.title);
}

TEST(CDItem, SetRowItemReplacesTheRowOrTheLastItemBeyondTheList)
{
    CDItem disc;
    auto a = item(1, 1), b = item(2, 1), x = item(5, 1), y = item(6, 1);
    disc.setRowItem(3, x); // nothing to replace in an empty list
    EXPECT_TRUE(disc.indexItems.isEmpty());

    disc.indexItems.add(a);
    disc.indexItems.add(b);
    disc.setRowItem(1, x);
    EXPECT_EQ(disc.indexItems[0], x);
    disc.setRowItem(7, y);
    EXPECT_EQ(disc.indexItems[1], y);
    EXPECT_EQ(disc.indexItems.size(), 2);
}

TEST(CDItem, InsertRowItemPositions)
{
    CDItem disc;
    auto a = item(1, 1), b = item(2, 1), c = item(3, 1), d = item(4, 1), e = item(5, 1);
    disc.insertRowItem(5, a);  // beyond an empty list: appended
    disc.insertRowItem(0, b);  // row 0 or less: position 0
    disc.insertRowItem(2, c);  // before row 2
    disc.insertRowItem(3, d);  // row n: before the last
    disc.insertRowItem(99, e); // beyond: appended
    ASSERT_EQ(disc.indexItems.size(), 5);
    EXPECT_EQ(disc.indexItems[0], b);
    EXPECT_EQ(disc.indexItems[1], c);
    EXPECT_EQ(disc.indexItems[2], d);
    EXPECT_EQ(disc.indexItems[3], a);
    EXPECT_EQ(disc.indexItems[4], e);
}

TEST(CDItem, ClearKeepsItemsThatOthersStillHold)
{
    CDItem disc;
    auto held = item(1, 1);
    disc.indexItems.add(held);
    disc.indexItems.add(item(2, 1));
    disc.dataItems.add(item(3, 1));
    IndexItem::Ptr oldPregap = disc.firstPregap;
    disc.discTitle = "Album";
    disc.mcn = "1234567890128";
    disc.genreCode = 5;
    disc.languageCode = 0;
    disc.firstPregap->length.frames = 200;

    disc.clear();

    EXPECT_TRUE(disc.indexItems.isEmpty());
    EXPECT_TRUE(disc.dataItems.isEmpty());
    EXPECT_TRUE(disc.discTitle.isEmpty());
    EXPECT_TRUE(disc.mcn.isEmpty());
    EXPECT_EQ(disc.genreCode, 0);
    EXPECT_EQ(disc.languageCode, 9);
    EXPECT_NE(disc.firstPregap, oldPregap);
    EXPECT_EQ(disc.firstPregap->length.frames, 150);

    // Whatever an undoable action still refers to is alive and unchanged, and only it holds it.
    EXPECT_EQ(held->title, "title 1");
    EXPECT_EQ(held->getReferenceCount(), 1);
    EXPECT_EQ(oldPregap->length.frames, 200);
    EXPECT_EQ(oldPregap->getReferenceCount(), 1);
}

TEST(IndexItem, CopyCopiesEveryFieldButNotTheSharing)
{
    IndexItem::Ptr a = item(4, 2, "USABC2400001");
    a->indexOffset = 10;
    a->length.frames = 123;
    a->remainderSamples = 412;
    a->start.frames = 99;
    a->sourceOffset.frames = 7;
    a->folder = "/music";
    a->fileName = "a.wav";
    a->performer = "p";
    a->songwriter = "s";
    a->composer = "c";
    a->arranger = "r";
    a->message = "m";
    IndexItem::Ptr holder = a;

    IndexItem::Ptr copy = new IndexItem(*a);
    EXPECT_EQ(copy->getReferenceCount(), 1);
    IndexItem assigned;
    assigned = *a;
    for (const IndexItem* c : {copy.get(), &assigned})
    {
        EXPECT_EQ(c->trackNumber, 4);
        EXPECT_EQ(c->indexNumber, 2);
        EXPECT_EQ(c->indexOffset, 10);
        EXPECT_EQ(c->length.frames, 123);
        EXPECT_EQ(c->remainderSamples, 412);
        EXPECT_EQ(c->start.frames, 99);
        EXPECT_EQ(c->sourceOffset.frames, 7);
        EXPECT_EQ(c->getSourceFile().getFullPathName(), "/music/a.wav");
        EXPECT_EQ(c->title + c->performer + c->songwriter + c->composer + c->arranger + c->message,
                  "title 4pscrm");
        EXPECT_EQ(c->isrc, "USABC2400001");
    }
    EXPECT_EQ(assigned.getReferenceCount(), 0);
}
