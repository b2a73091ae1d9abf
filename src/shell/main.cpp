// The program entry. It reads no command-line arguments: files are opened
// only through the menu.
#include "shell/Program.h"

int main(int argc, char** argv) { return RunProgram(argc, argv); }
