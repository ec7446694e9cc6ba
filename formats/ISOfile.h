#pragma once

#include <juce_core/juce_core.h>

// One ISO 9660 image file, the data session of an Enhanced CD. Every operation opens its own
// streams on path; none reads or writes outside the file, and a malformed image ends the
// operation without a report.
class ISOfile
{
public:
    explicit ISOfile(const juce::String& imagePath) : path(imagePath) {}
    virtual ~ISOfile() = default;

    // Byte offset of the first 2048-byte boundary holding a primary volume descriptor, or -1.
    juce::int64 findPrimaryVolumeDescriptor() const;

    // The disc byte address the image was mastered for (sector × 2048; 0 for an ordinary image),
    // or -1 when there is no primary descriptor after byte 0 or its root directory is not found.
    juce::int64 getImageStart() const;

    // Appends the volume whose system area starts at fromByte (its size taken from its primary
    // descriptor, 32 768 bytes further) to destinationPath; callers pass a new file. Stops at the
    // end of the image or at the first failed write, keeping what was copied.
    void extractVolume(const juce::String& destinationPath, juce::int64 fromByte) const;

    // Rewrites in place every sector address x of the descriptors, path tables and directories as
    // (x × 2048 − deltaBytes) / 2048, so that the image can be placed deltaBytes earlier on the
    // disc. All or nothing: an image whose structures are inconsistent, or whose addresses would
    // leave the 32-bit range, is left untouched.
    void relocate(juce::int64 deltaBytes) const;

    juce::String path; // full path of the image file
};
