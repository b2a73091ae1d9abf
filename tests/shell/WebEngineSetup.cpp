// Runs before main() creates the application object, as the program's own
// main() does: the web engine needs its settings before that.
#include "WelcomePage.h"

namespace {
const bool prepared = (PrepareWebEngine(), true);
}
