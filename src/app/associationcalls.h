#pragma once

namespace qmt {

// The association entry points as the start-up calls them: the check of every ordinary start
// (and "/Associate"), and the give-back of "/DeAssociate".
void runCheckAssociations();
void runRemoveAssociations();

} // namespace qmt
