// The layout the open flow gives a freshly loaded audio frame. It lives apart
// from the main window so that the editor's tests and benchmarks lay a frame
// out exactly as the program does without linking the rest of the shell.
#pragma once

class TFrameTembrix;

// Lays the frame out once: the four charts in equal heights above the control
// panel, sized from the frame as it is now (also while it is hidden). Later
// size changes move the widths only.
void LayOutFrame(TFrameTembrix& frame);
