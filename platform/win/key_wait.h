// Helpers for busy waits on a key: give the processor away between two reads, and notice that
// the program was asked to stop while it waits.
#pragma once

// Yields the processor for about a millisecond.
void NapWhileWaiting();

// True when a request to stop is pending: the window's close button, or SIGINT / SIGTERM.
// The request stays queued, so the message loop still turns it into the window's close.
bool StopRequested();
