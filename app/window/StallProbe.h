#pragma once
// A probe of the window's thread for benchmarks: with KESTREL_STALL_PROBE set to a file's path,
// a timer of 1 ms on this thread notes how late each of its ticks comes, and every 250 ms appends
// one line to the file: the monotonic clock's time in ms (CLOCK_MONOTONIC, comparable between
// processes), the longest gap between two ticks in that span, in ms, and when that gap began (to
// find it in a trace of the same run), and how much of that gap the thread ran and how much it
// waited for a core, in ms (the rest it slept), and the most the thread ran between any two ticks
// of the span (its longest stretch of work: what the program itself holds the thread for), and
// the CPU the thread last ran on before that gap (a timer that wakes it comes from there: a CPU
// that its virtual machine's host does not run keeps it asleep). Off unless asked for.
// Window thread only.

class QObject;

// Starts the probe when the environment asks for it; the probe lives as long as parent.
void StartStallProbeFromEnvironment(QObject* parent);
