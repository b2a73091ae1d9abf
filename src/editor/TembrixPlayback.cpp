// Playback of the selection: Play and Stop. Placeholders until playback lands.
#include "Tembrix.h"

void TFrameTembrix::Button1Click(QObject* /*Sender*/) {}

void TFrameTembrix::ButtonStopClick(QObject* /*Sender*/) {}

// Runs first in the destructor: a playback of this frame must not outlive the
// controls it moves.
void TFrameTembrix::StopPlaybackBeforeDestruction() {}
