#include "app/associationcalls.h"

#if __has_include("shell/modassoc.h")
#include "shell/modassoc.h"
#define QMT_HAVE_ASSOCIATIONS 1
#endif

namespace qmt {

void runCheckAssociations()
{
#ifdef QMT_HAVE_ASSOCIATIONS
    CheckAssociations();
#endif
}

void runRemoveAssociations()
{
#ifdef QMT_HAVE_ASSOCIATIONS
    RemoveAssociations();
#endif
}

} // namespace qmt
