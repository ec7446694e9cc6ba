#include "model/Renumbering.h"

#include "model/CDItem.h"

int renumberDisc(CDItem& disc)
{
    int c = 1;                                                               // current track
    int k = 0;                                                               // current index
    int p = disc.indexItems.isEmpty() ? 0 : disc.firstPregap->length.frames; // position in frames

    disc.audioLeadOut->start.frames = 0;
    disc.dataLeadOut->start.frames = 0;
    disc.leadOut->start.frames = 0;

    for (int i = 0; i < disc.indexItems.size(); ++i)
    {
        auto& item = *disc.indexItems.getUnchecked(i);
        const int t = item.trackNumber;
        const int x = item.indexNumber;

        auto assign = [&item](int track, int index)
        {
            item.trackNumber = track;
            item.indexNumber = index;
        };

        if (t < c)
        {
            if (x == k)
                assign(++c, x);
            else if (x < k)
                assign(++c, k = 0);
            else
                assign(c, ++k);
        }
        else if (t == c)
        {
            if (i > 0 && x == k)
                assign(++c, x);
            else if (x > k + 1)
                assign(c, ++k);
            else if (x == k || x == k + 1)
                k = x;
            else
                assign(++c, k = 0);
        }
        else if (x > k)
        {
            assign(c, k = x);
        }
        else if (t == c + 1)
        {
            c = t;
            k = x;
        }
        else
        {
            assign(++c, k = x);
        }

        item.start.frames = p;
        p += item.length.frames + item.indexOffset;
    }

    disc.audioLeadOut->start.frames = p;
    if (!disc.indexItems.isEmpty())
    {
        const auto remainder = disc.indexItems.getLast()->remainderSamples;
        if (remainder >= 1 && remainder <= 587)
            disc.audioLeadOut->start.frames = ++p;
    }
    p += disc.audioLeadOut->length.frames;
    disc.leadOut->start.frames = p;

    if (!disc.dataItems.isEmpty())
    {
        disc.dataLeadIn->start.frames = p;
        p += disc.dataLeadIn->length.frames;

        const auto dataTrack = (disc.indexItems.isEmpty() ? disc.firstPregap->trackNumber
                                                          : disc.indexItems.getLast()->trackNumber) +
                               1;

        for (auto* item : disc.dataItems)
        {
            item->start.frames = p;
            item->trackNumber = dataTrack;
            p += item->length.frames + item->indexOffset;
        }

        const auto& last = *disc.dataItems.getLast();
        disc.dataLeadOut->start.frames = last.start.frames + last.length.frames;
        p = disc.dataLeadOut->start.frames + disc.dataLeadOut->length.frames;
        disc.leadOut->start.frames = p;
    }

    return p;
}
