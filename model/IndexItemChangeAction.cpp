#include "model/IndexItemChangeAction.h"

#include "app/MainComponent.h"

IndexItemChangeAction::IndexItemChangeAction(IndexItem::Ptr targetItem, const IndexItem& before,
                                             const IndexItem& after, MainComponent& owner)
    : oldItem(before), newItem(after), target(std::move(targetItem)), mainComponent(owner)
{
}

bool IndexItemChangeAction::perform()
{
    apply(newItem);
    return true;
}

bool IndexItemChangeAction::undo()
{
    apply(oldItem);
    return true;
}

void IndexItemChangeAction::apply(const IndexItem& values)
{
    *target = values;
    mainComponent.renumber();
    mainComponent.updateTable();
    mainComponent.rebuildPlayerSources();
}
