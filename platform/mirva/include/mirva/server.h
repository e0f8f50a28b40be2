// Server-wide services that locations use: the location list, diagnostics and the
// debug mask.
#pragma once

#include <atomic>

class EqFct;

// The server's location at *index, or null past the end. The location stays alive
// until eq_rel(*index); locations are handed out one at a time per caller.
EqFct* eq_acq(int* index, void* reserved);
void eq_rel(int index);

// One diagnostic line on standard error: time, prefix, text.
void printftostderr(const char* prefix, const char* format, ...) __attribute__((format(printf, 2, 3)));
void printtostderr(const char* prefix, const char* text);

// Global debug mask: from the configuration or the environment variable MIRVA_DEBUG.
extern std::atomic<int> MIRVA_debug;

// SIGABRT handler of the camera threads: it returns, so the signal only interrupts a
// blocking call of the thread and never ends the process.
void writer_abrt_handler(int sig);
