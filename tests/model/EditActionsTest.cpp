#include "model/DiscCDTextStringChangeAction.h"
#include "model/IndexItemChangeAction.h"
#include "model/IndexItemsChangeAction.h"
#include "support/MainComponentFixture.h"

namespace
{
IndexItem::Ptr makeItem(int track, int index, int frames, const juce::String& title = {})
{
    IndexItem::Ptr item = new IndexItem();
    item->trackNumber = track;
    item->indexNumber = index;
    item->length.frames = frames;
    item->title = title;
    return item;
}

struct Snapshot
{
    IndexItem* object;
    int track, index, start;
    bool operator==(const Snapshot& o) const
    {
        return object == o.object && track == o.track && index == o.index && start == o.start;
    }
};

std::vector<Snapshot> snapshot(const CDItem& disc)
{
    std::vector<Snapshot> result;
    for (auto* item : disc.indexItems)
        result.push_back({item, item->trackNumber, item->indexNumber, item->start.frames});
    return result;
}

class EditActions : public MainComponentFixture
{
protected:
    void SetUp() override
    {
        MainComponentFixture::SetUp();
        // Three tracks as an import lays them out: (1,1), (2,0), (2,1), (3,0), (3,1).
        for (auto item : {makeItem(1, 1, 1000, "one"), makeItem(2, 0, 150), makeItem(2, 1, 2000, "two"),
                          makeItem(3, 0, 150), makeItem(3, 1, 3000, "three")})
            disc().indexItems.add(item);
        main->renumber();
    }

    juce::UndoManager& undo() { return main->getUndoManager(); }
};
} // namespace

TEST_F(EditActions, UndoingATrackDeletionBringsBackTheSameItems)
{
    const auto before = snapshot(disc());
    IndexItem::List after(disc().indexItems);
    after.remove(1); // track 2's pause
    after.remove(1); // track 2

    undo().beginNewTransaction("Delete audio track");
    undo().perform(new IndexItemsChangeAction(disc().indexItems, disc().indexItems, after, *main));

    ASSERT_EQ(disc().indexItems.size(), 3);
    EXPECT_EQ(disc().indexItems[2]->title, "three");
    EXPECT_EQ(disc().indexItems[2]->trackNumber, 2);
    EXPECT_EQ(disc().indexItems[2]->start.frames, 150 + 1000 + 150);
    EXPECT_EQ(main->getTotalLengthLabel().getText(), CDDuration::toTimeString(150 + 1000 + 150 + 3000));

    ASSERT_TRUE(undo().undo());
    EXPECT_EQ(snapshot(disc()), before);
    EXPECT_EQ(main->getTotalLengthLabel().getText(),
              CDDuration::toTimeString(150 + 1000 + 150 + 2000 + 150 + 3000));

    ASSERT_TRUE(undo().redo());
    EXPECT_EQ(disc().indexItems.size(), 3);
}

TEST_F(EditActions, UndoingOneItemEditRestoresOnlyThatItem)
{
    auto first = disc().indexItems[0];
    auto third = disc().indexItems[4];

    IndexItem longer(*first);
    longer.length.frames = 1500;
    longer.title = "one (long)";
    undo().beginNewTransaction("Change CD text title data");
    undo().perform(new IndexItemChangeAction(first, *first, longer, *main));

    IndexItem renamed(*third);
    renamed.title = "three (renamed)";
    undo().beginNewTransaction("Change CD text title data");
    undo().perform(new IndexItemChangeAction(third, *third, renamed, *main));

    ASSERT_TRUE(undo().undo());
    EXPECT_EQ(third->title, "three");
    EXPECT_EQ(first->title, "one (long)");
    EXPECT_EQ(first->length.frames, 1500);
    // Positions come from the current lists, not from the stored copy.
    EXPECT_EQ(third->start.frames, 150 + 1500 + 150 + 2000 + 150);

    ASSERT_TRUE(undo().undo());
    EXPECT_EQ(first->title, "one");
    EXPECT_EQ(third->start.frames, 150 + 1000 + 150 + 2000 + 150);
}

TEST_F(EditActions, DiscTitleChangeRefreshesTheFieldsOnly)
{
    disc().indexItems[4]->start.frames = 12345; // a position only renumbering would repair
    main->getPlayer().clearSources();           // sources only a rebuild would bring back
    auto& title = disc().discTitle;

    undo().beginNewTransaction("Change disc title");
    undo().perform(new DiscCDTextStringChangeAction(title, "Night Drive", title, *main));
    EXPECT_EQ(main->getAlbumTitleEditor().getText(), "Night Drive");
    EXPECT_EQ(main->getAlbumTitleEditor().getTooltip(), "Night Drive");

    ASSERT_TRUE(undo().undo());
    EXPECT_EQ(title, "");
    EXPECT_EQ(main->getAlbumTitleEditor().getText(), "");
    EXPECT_EQ(main->getAlbumTitleEditor().getTooltip(), "");
    EXPECT_EQ(disc().indexItems[4]->start.frames, 12345);
    EXPECT_EQ(main->getPlayer().getNumEntries(), 0);
}

TEST_F(EditActions, ListActionWithEqualStatesStillRefreshes)
{
    disc().indexItems[4]->start.frames = 12345;
    disc().discPerformer = "The Band";
    main->getPlayer().clearSources();

    undo().beginNewTransaction("Insert pause");
    undo().perform(
        new IndexItemsChangeAction(disc().indexItems, disc().indexItems, disc().indexItems, *main));

    EXPECT_EQ(disc().indexItems[4]->start.frames, 150 + 1000 + 150 + 2000 + 150);
    EXPECT_EQ(main->getPerformerEditor().getText(), "The Band");
    // The player was rebuilt: the pregap and the five rows, all silence here.
    EXPECT_EQ(main->getPlayer().getNumEntries(), 6);
}

TEST_F(EditActions, ItemsLiveAsLongAsTheHistoryHoldsThem)
{
    IndexItem* removed = disc().indexItems[0].get();
    IndexItem::List after(disc().indexItems);
    after.remove(0);
    undo().beginNewTransaction("Delete audio track");
    undo().perform(new IndexItemsChangeAction(disc().indexItems, disc().indexItems, after, *main));

    main->clearDisc(); // the project is emptied; only the history still refers to the item
    EXPECT_EQ(removed->title, "one");

    ASSERT_TRUE(undo().undo());
    EXPECT_EQ(disc().indexItems[0].get(), removed);
}
