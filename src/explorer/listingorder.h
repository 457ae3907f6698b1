#pragma once

#include <QString>

namespace qmt {

// The order in which folders are shown everywhere in the program (the explorer's grid, the
// image lists handed to the viewer, the folder tree): names compared without regard to case,
// runs of digits compared as numbers ("img2" before "img10"), and, when two names are still
// equal that way, a plain comparison so that the order is total and the same on every run.
// Negative, zero or positive like QString::compare.
int compareListingNames(const QString &a, const QString &b);

inline bool listingLessThan(const QString &a, const QString &b)
{
    return compareListingNames(a, b) < 0;
}

} // namespace qmt
