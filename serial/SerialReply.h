#pragma once

#include <string>

// One reply as it came off the line: every byte, a 0x00 too (which the reply's text cannot
// hold), and what ended it.
struct SerialReply {
    enum class Ending {
        Terminator, // the end byte came; it is the last of the bytes
        Silence,    // a read call brought nothing within the read time-out
        Cap,        // the reply reached the port's limit on a reply's size or time
        Failed,     // a read call failed: a line that hung up, a device gone, a port not open
    };

    std::string bytes;
    Ending ending = Ending::Silence;
};
