#include "components/memorypolicy.h"

// Any header of the C library says whether it is glibc; without one, the test below would
// always be false and the policy silently left out.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qmt {

void applyMemoryPolicy()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
#endif
}

void releaseFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace qmt
