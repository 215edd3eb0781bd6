#pragma once

#include <string>

// One reply as it came off the line: every byte, a 0x00 too (which the reply's text cannot
// hold), and what ended it.
struct SerialReply {
    enum class Ending {
        Terminator, // the reply's end came (CR, LF or CR LF); it is the last of the bytes
        Silence,    // a read call brought nothing within the read time-out
        Cap,        // the reply reached the port's limit on a reply's size or time
        Failed,     // no read could be made: the port is not open
        Gone,       // a read on the open port failed: the line hung up, the device went away
    };

    std::string bytes;
    Ending ending = Ending::Silence;
};
