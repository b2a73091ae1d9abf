// The sound library and the server behind it, reached from one thread of
// their own. Every call that may wait for the server runs there, one after
// another, so the library needs no lock, and whoever asks waits 2 s at most
// (8 s in sanitizer builds, which run the sound libraries several times
// slower). A call given up on still runs to its end when the server answers
// again, and what is posted after it runs after it.
#pragma once

#include <portaudio.h>

#include <functional>
#include <string>

namespace SoundServer {

// Runs `call` on the server's thread after every call before it, and waits
// for it; false when it gave up waiting.
bool Call(std::function<void()> call);
// Runs `call` there after every call before it, without waiting.
void Post(std::function<void()> call);
// Whether a call given up on is still waiting for the server.
bool Waiting();

// On the server's thread only. Opens an output stream on the default device,
// with a deep buffer, initialising the library when needed; otherwise *why
// says what failed.
PaError OpenOutput(PaStream** stream, int channels, PaSampleFormat format, double rate, PaStreamCallback* callback,
                   void* user, std::string* why);
// Waits until the stream, whose callback was told to end it, has ended, then
// stops it: aborting a stream from outside cancels the sound thread, which
// leaves the sound libraries' locks to chance, so only a stream whose
// callback has not ended it within 250 ms is aborted.
void StopOutput(PaStream* stream);
// Stops the stream as StopOutput() does, and closes it.
void CloseOutput(PaStream* stream);

// The library's text for an error.
std::string ErrorText(PaError err);

}  // namespace SoundServer
