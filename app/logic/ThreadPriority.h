#pragma once
// Thread priorities: the window's thread runs at the process's priority, the serial worker one
// step below, and threads that do bulk work for a view further below, so that under a flood
// that takes every core the typed key and the next frame still come first. Plain C++.

// Lowers the calling thread's priority by levels nice levels (an unprivileged process may
// always lower its own); nothing when the system refuses.
void LowerThisThread(int levels);
