#pragma once

#include "model/IndexItem.h"

#include <juce_data_structures/juce_data_structures.h>

class MainComponent;

// Swaps the contents of one of the disc's item lists (indexItems or dataItems). Both states hold
// references to the shared items, never copies, so undo brings back the very same objects.
class IndexItemsChangeAction : public juce::UndoableAction
{
public:
    IndexItemsChangeAction(IndexItem::List& target, const IndexItem::List& before,
                           const IndexItem::List& after, MainComponent& mainComponent);

    bool perform() override;
    bool undo() override;
    int getSizeInUnits() override { return 10; }

private:
    void apply(const IndexItem::List& items);

    IndexItem::List before;
    IndexItem::List after;
    IndexItem::List& target;
    MainComponent& mainComponent;
};
