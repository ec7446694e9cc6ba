#pragma once

#include "model/CDDuration.h"

// One index point of the disc and one row of the track table.
//
// Items are shared by the disc's lists and by the undo history, so they are reference counted:
// an item lives while any list or undoable action holds an IndexItem::Ptr to it. Copying an item
// copies every field (never the reference count).
class IndexItem : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<IndexItem>;
    using List = juce::ReferenceCountedArray<IndexItem>;

    IndexItem() = default;
    IndexItem(const IndexItem& other) = default;
    IndexItem& operator=(const IndexItem& other) = default;

    // The source file: folder + "/" + fileName.
    juce::File getSourceFile() const;

    int trackNumber = 0;
    int indexNumber = 0;      // 0 = pause before the track, 1 = track start, 2+ = further index points
    int indexOffset = 0;      // frames of silence played before the source audio
    CDDuration length;        // frames of source audio (or of silence, without a source file)
    int remainderSamples = 0; // 0..587 sample frames beyond length that spill into the next item
    CDDuration start;         // absolute disc position, derived by renumbering
    CDDuration sourceOffset;  // frames into the source file (2048-byte sectors for data items)
    juce::String folder;
    juce::String fileName;
    juce::String title;
    juce::String performer;
    juce::String songwriter;
    juce::String composer;
    juce::String arranger;
    juce::String message;
    juce::String isrc;
};
