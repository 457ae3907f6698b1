#include "explorer/listingorder.h"

namespace qmt {
namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Compares the digit runs a[ia, ea) and b[ib, eb) by value; leading zeros do not count.
int compareNumbers(const QString &a, qsizetype ia, qsizetype ea, const QString &b, qsizetype ib,
                   qsizetype eb)
{
    while (ia < ea - 1 && a[ia] == QLatin1Char('0'))
        ++ia;
    while (ib < eb - 1 && b[ib] == QLatin1Char('0'))
        ++ib;
    const qsizetype la = ea - ia;
    const qsizetype lb = eb - ib;
    if (la != lb)
        return la < lb ? -1 : 1;
    for (qsizetype k = 0; k < la; ++k) {
        if (a[ia + k] != b[ib + k])
            return a[ia + k] < b[ib + k] ? -1 : 1;
    }
    return 0;
}

} // namespace

int compareListingNames(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            if (const int c = compareNumbers(a, i, ei, b, j, ej))
                return c;
            i = ei;
            j = ej;
            continue;
        }
        const char32_t ca = QChar::toCaseFolded(a[i].unicode());
        const char32_t cb = QChar::toCaseFolded(b[j].unicode());
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Equal but for case or leading zeros: the plain comparison decides.
    return QString::compare(a, b, Qt::CaseSensitive);
}

} // namespace qmt
