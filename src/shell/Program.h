// The program's run from start to end: start-up, the main loop, and the end of
// the run when the main window closes or a termination signal arrives.
#pragma once

// Runs the program and returns its exit code. main() does nothing else.
int RunProgram(int& argc, char** argv);
