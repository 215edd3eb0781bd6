// Whole numbers of the command lines: digits only, within the range, never an overflow (any
// range, up to ULONG_MAX).

#include "cli/WholeNumber.h"
#include "fuzz/Expect.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 * sizeof(unsigned long))
        return 0;
    unsigned long min = 0, max = 0;
    std::memcpy(&min, data, sizeof min);
    std::memcpy(&max, data + sizeof min, sizeof max);
    const std::string text(reinterpret_cast<const char*>(data) + 2 * sizeof min,
                           size - 2 * sizeof min);

    // What the text says, counted wide enough that nothing overflows.
    bool digits = !text.empty();
    unsigned __int128 said = 0;
    for (const char c : text) {
        digits = digits && c >= '0' && c <= '9';
        if (digits && said <= ULONG_MAX)
            said = said * 10 + static_cast<unsigned>(c - '0');
    }
    const bool fits = digits && said >= min && said <= max;

    unsigned long value = 12345;
    const bool parsed = ParseWholeNumber(text, min, max, &value);
    Expect(parsed == fits, "a number accepted exactly when it is digits within the range");
    Expect(parsed ? value == said : value == 12345, "the value said, or the value left alone");
    return 0;
}
