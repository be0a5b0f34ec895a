// Test builds only: named points at the step boundaries of a toggle, where a test can stop
// the notifier and kill it. The shipped notifier compiles every point away.
#pragma once

#ifdef VELMORA_PAUSE_POINTS
// The point named by the environment variable VELMORA_PAUSE_AT signals the named event
// "Velmora.Ostrelle.Paused" and stops this process there for good.
void PausePoint(const char* name);
#else
inline void PausePoint(const char*) {}
#endif
