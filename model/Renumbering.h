#pragma once

class CDItem;

// Repairs the track and index numbers of every index item after a change of the lists, and
// recomputes every start position, the lead-outs and the data-session positions.
// Returns the total length of the disc in frames.
int renumberDisc(CDItem& disc);
