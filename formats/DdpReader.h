#pragma once

#include <juce_cryptography/juce_cryptography.h>

class CDItem;

// Reads a DDP fileset folder into a disc: MCN, one index item per PQ descriptor entry of the
// audio session and of a data session, the gaps between the sessions and the CD-Text. This is the
// body of CDItem::readDdpFileset.
//
// Message thread only: every error and notice is a box through Alerts. The control files are
// deciphered with the cipher that wrote them, so a fileset of another run fails at the identifier.
// The disc is emptied first and receives the items only once the whole fileset has been accepted,
// so a refused fileset leaves an empty disc (with the cipher set).
class DdpReader
{
public:
    // True when the fileset was read; false after an error box. A null cipher reads control files
    // that were written plain (by other DDP tools, or the command-line tool's --plain).
    static bool read(CDItem& disc, const juce::String& folder, const juce::BlowFish* cipher);

    // The file called name in folder: the exact name, else the last file of the folder (in name
    // order, subfolders not searched) whose name equals it regardless of letter case. A name that
    // holds a path separator is never found, so a fileset cannot point at files outside its folder.
    // Not found: a file that does not exist.
    static juce::File locate(const juce::File& folder, const juce::String& name);
};
