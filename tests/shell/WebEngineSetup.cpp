// Runs before main() creates the application object, as the program's own
// main() does: the web engine needs its settings before that.
#include "shell/WelcomePage.h"

namespace {
const bool prepared = (PrepareWebEngine(), true);
}

// The web engine's own code deletes objects with mismatched sizes; the
// sanitizer build must not count that against ours.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
