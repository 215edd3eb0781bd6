#pragma once

#include "serial/Refusal.h"

#include <string>

// Why this thread's last failed open or state change failed, with what the line for the user
// needs beside the reason. Kept per thread, as the platform keeps its last-error value; the same
// on every platform.
struct CommErrorRecord : Refusal {
    std::string target; // where the port's entry leads, when it is a link

    static CommErrorRecord& Last();
};

// Records code and the system's error for this thread, leaves errno set to error, returns FALSE.
BOOL Fail(DWORD code, int error);
// TRUE when nothing stands in the way; else records why as Fail does (the port and its path
// stay as they are) and returns FALSE.
BOOL Accepted(const Refusal& why);
