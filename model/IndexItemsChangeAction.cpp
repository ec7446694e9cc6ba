#include "model/IndexItemsChangeAction.h"

#include "app/MainComponent.h"

IndexItemsChangeAction::IndexItemsChangeAction(IndexItem::List& targetList, const IndexItem::List& listBefore,
                                               const IndexItem::List& listAfter, MainComponent& owner)
    : before(listBefore), after(listAfter), target(targetList), mainComponent(owner)
{
}

bool IndexItemsChangeAction::perform()
{
    apply(after);
    return true;
}

bool IndexItemsChangeAction::undo()
{
    apply(before);
    return true;
}

void IndexItemsChangeAction::apply(const IndexItem::List& items)
{
    target = items;
    target.minimiseStorageOverheads();
    mainComponent.renumber();
    mainComponent.updateTable();
    mainComponent.rebuildPlayerSources();
    mainComponent.showDiscInfo();
}
