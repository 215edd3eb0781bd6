#pragma once

// Gives each of the standard descriptors 0, 1 and 2 that is closed /dev/null, so that nothing the
// program opens later (a serial line, a pseudo-terminal) takes the number of one: what is written
// to standard output would go down the line, and the line's bytes would be read as input. The
// first thing each program's main() does. False when one could not be given (it stays closed);
// pClosed, when given, gets a bit (1 << fd) for each one that was closed.
bool OpenStandardDescriptors(unsigned* pClosed = nullptr);
