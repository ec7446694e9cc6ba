#include "model/CDItem.h"

CDItem::CDItem() : ProgressJob("Please wait...", true, false, 10000)
{
    createSpecialItems();
    audioFormats.registerBasicFormats();
}

CDItem::~CDItem() = default;

void CDItem::createSpecialItems()
{
    firstPregap = new IndexItem();
    firstPregap->trackNumber = 1;
    firstPregap->indexNumber = 0;
    firstPregap->length.frames = 150;

    leadIn = new IndexItem();
    audioLeadOut = new IndexItem();
    dataLeadIn = new IndexItem();
    dataLeadOut = new IndexItem();
    leadOut = new IndexItem();
}

int CDItem::getNumRows() const
{
    return indexItems.isEmpty() ? 0 : indexItems.size() + dataItems.size() + 1;
}

void CDItem::setRowItem(int row, IndexItem::Ptr item)
{
    const auto n = indexItems.size();

    if (row > n)
    {
        if (n > 0)
            indexItems.set(n - 1, item);
    }
    else if (row <= 0)
    {
        firstPregap->isrc = item->isrc;
    }
    else
    {
        indexItems.set(row - 1, item);
    }
}

void CDItem::insertRowItem(int row, IndexItem::Ptr item)
{
    if (row <= indexItems.size())
        indexItems.insert(juce::jmax(0, row - 1), item);
    else
        indexItems.add(item);
}

IndexItem* CDItem::getRowItem(int row) const
{
    const auto n = indexItems.size();

    if (row == 0)
        return firstPregap.get();
    if (row >= 1 && row <= n)
        return indexItems[row - 1].get();
    if (row > n && row <= n + dataItems.size())
        return dataItems[row - n - 1].get();
    return nullptr;
}

void CDItem::clear()
{
    discTitle = discPerformer = discSongwriter = discComposer = discArranger = discMessage = {};
    discIdentification = {};
    mcn = {};
    genreCode = 0;
    languageCode = 9;
    indexItems.clearQuick();
    indexItems.minimiseStorageOverheads();
    dataItems.clearQuick();
    dataItems.minimiseStorageOverheads();
    createSpecialItems();
}

void CDItem::run()
{
    if (task != 1)
        return;
    setProgress(-1.0);
    setStatusMessage("Preparing to write...");
}
