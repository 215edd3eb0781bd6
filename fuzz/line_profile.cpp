// A port's profile file as a person may leave it: whatever the bytes, Parse either gives a
// profile the program can open a port with, which Format writes back the same, or names a line
// of the file and says what is wrong in words a terminal shows as they are, leaving the profile
// it was given as it was.

#include "fuzz/Expect.h"
#include "serial/LineProfile.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    LineProfile before;
    before.baud = 300; // not the default, so that a change would show
    LineProfile profile = before;
    int line = -1;
    std::string why;
    if (!LineProfile::Parse(text, &profile, &line, &why)) {
        const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        Expect(profile.Format() == before.Format(), "a wrong file leaves the profile alone");
        Expect(line >= 1 && line <= lines, "the line of a wrong file is one of its lines");
        Expect(!why.empty() && std::all_of(why.begin(), why.end(),
                                           [](char c) { return c >= 0x20 && c < 0x7f; }),
               "what is wrong, in printable text");
        return 0;
    }
    Expect(profile.Conflict().empty(), "a profile read is one a UART can make");
    Expect(profile.baud >= LineProfile::kMinBaud && profile.baud <= LineProfile::kMaxBaud &&
               profile.dataBits >= 5 && profile.dataBits <= 8 &&
               profile.timeoutMs >= LineProfile::kMinTimeoutMs &&
               profile.timeoutMs <= LineProfile::kMaxTimeoutMs,
           "every field within its range");
    LineProfile back;
    const std::string written = profile.Format();
    Expect(LineProfile::Parse(written, &back, &line, &why) && back.Format() == written,
           "what Format writes reads back the same");
    return 0;
}
