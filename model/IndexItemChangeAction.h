#pragma once

#include "model/IndexItem.h"

#include <juce_data_structures/juce_data_structures.h>

class MainComponent;

// Swaps every field of one index item between its values before and after an edit.
// The target is held by reference count, so an item dropped from the disc stays valid here.
class IndexItemChangeAction : public juce::UndoableAction
{
public:
    IndexItemChangeAction(IndexItem::Ptr target, const IndexItem& oldItem, const IndexItem& newItem,
                          MainComponent& mainComponent);

    bool perform() override;
    bool undo() override;
    int getSizeInUnits() override { return 10; }

private:
    void apply(const IndexItem& values);

    IndexItem oldItem;
    IndexItem newItem;
    IndexItem::Ptr target;
    MainComponent& mainComponent;
};
