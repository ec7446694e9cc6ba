#include "model/IndexItem.h"

juce::File IndexItem::getSourceFile() const
{
    return juce::File(folder + "/" + fileName);
}
