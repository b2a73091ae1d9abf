// Loading the signal-processing library for one user (an editor frame). When
// the library cannot be loaded, its four files are first written from the
// executable's resources into the executable's folder, then loading is tried
// once more. Loading is counted: the library stays loaded until every
// successful LoadDynamicIIPP has been matched by a FreeDynamicIIPP.
#pragma once

namespace LoadExternal {

// True when the library is loaded; then the caller holds one use of it.
bool LoadDynamicIIPP();
// Gives back one use; the last one unloads the library. Without a use held it
// does nothing.
void FreeDynamicIIPP();

}  // namespace LoadExternal
