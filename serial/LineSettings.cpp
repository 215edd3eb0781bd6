#include "serial/LineSettings.h"

#include "serial/Deadline.h"

// termios2 and BOTHER; this header clashes with <termios.h> and <sys/ioctl.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>

#include <cerrno>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace {

int Ioctl(int fd, unsigned long request, void* arg) {
    return RetryOnEintr([&] { return ioctl(fd, request, arg); });
}

// The rates a driver knows by constant; anything else goes as BOTHER with the exact value.
tcflag_t BaudConstant(std::uint32_t baud) {
    static const struct {
        std::uint32_t baud;
        tcflag_t constant;
    } kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},
        {1800, B1800},       {2400, B2400},       {4800, B4800},       {9600, B9600},
        {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
        {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
        {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
        {4000000, B4000000}};
    for (const auto& rate : kRates)
        if (rate.baud == baud)
            return rate.constant;
    return BOTHER;
}

} // namespace

bool LineSettings::Read(int fd, LineSettings* pSettings) {
    struct termios2 tio {};
    if (Ioctl(fd, TCGETS2, &tio) < 0)
        return false;
    LineSettings& s = *pSettings;
    s.baud = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        s.byteSize = 5;
        break;
    case CS6:
        s.byteSize = 6;
        break;
    case CS7:
        s.byteSize = 7;
        break;
    default:
        s.byteSize = 8;
        break;
    }
    // With CMSPAR the parity bit is fixed: PARODD makes it 1 (mark), else 0 (space).
    const bool odd = (tio.c_cflag & PARODD) != 0;
    if (!(tio.c_cflag & PARENB))
        s.parity = Parity::None;
    else if (tio.c_cflag & CMSPAR)
        s.parity = odd ? Parity::Mark : Parity::Space;
    else
        s.parity = odd ? Parity::Odd : Parity::Even;
    // Two stop bits on a 5-bit line are one and a half.
    s.stopBits = (tio.c_cflag & CSTOPB) ? (s.byteSize == 5 ? StopBits::OneAndHalf : StopBits::Two)
                                        : StopBits::One;
    s.parityCheck = (tio.c_iflag & INPCK) != 0;
    s.ctsFlow = (tio.c_cflag & CRTSCTS) != 0;
    s.xonOut = (tio.c_iflag & IXON) != 0;
    s.xonIn = (tio.c_iflag & IXOFF) != 0;
    return true;
}

bool LineSettings::Apply(int fd, const LineSettings& s) {
    struct termios2 tio {};
    if (Ioctl(fd, TCGETS2, &tio) < 0)
        return false;

    // A raw byte pipe: no line editing, echo, signals, CR/NL translation or output processing,
    // so that every byte (0x0D above all) passes unchanged in both directions.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IUCLC | IMAXBEL | IXANY | IXON | IXOFF | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    // Flow control and parity checking as the DCB asks (software flow control only on request).
    if (s.parityCheck)
        tio.c_iflag |= INPCK;
    if (s.xonOut)
        tio.c_iflag |= IXON;
    if (s.xonIn)
        tio.c_iflag |= IXOFF;
    if (s.ctsFlow)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);

    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[(s.byteSize >= 5 && s.byteSize <= 8) ? s.byteSize - 5 : 3];
    static const tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                         PARENB | CMSPAR};
    tio.c_cflag |= kParities[static_cast<int>(s.parity)];
    if (s.stopBits != StopBits::One)
        tio.c_cflag |= CSTOPB;
    // Receive, and do not let the carrier line gate the port.
    tio.c_cflag |= CREAD | CLOCAL;

    const tcflag_t speed = BaudConstant(s.baud);
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= speed | (speed << IBSHIFT);
    tio.c_ispeed = s.baud;
    tio.c_ospeed = s.baud;

    // The driver may adjust what it cannot do (a pseudo-terminal keeps 8N1); that is no failure.
    return Ioctl(fd, TCSETS2, &tio) == 0;
}

namespace {

// An asynchronous line tolerates about 2 % between the two ends' rates.
bool Near(std::uint64_t made, std::uint32_t wanted) {
    const std::uint64_t off = made > wanted ? made - wanted : wanted - made;
    return off * 50 <= wanted;
}

} // namespace

bool LineSettings::DivisorMakes(std::uint32_t baudBase, std::uint32_t baud) {
    if (baudBase == 0 || baud == 0)
        return true;
    // The 8250 family rounds the divisor to the nearest whole number, at least 1.
    std::uint64_t divisor = (static_cast<std::uint64_t>(baudBase) + baud / 2) / baud;
    if (divisor == 0)
        divisor = 1;
    return Near(baudBase / divisor, baud);
}

bool LineSettings::RateTaken(int fd, std::uint32_t baud) {
    struct termios2 tio {};
    if (Ioctl(fd, TCGETS2, &tio) < 0)
        return false;
    // A driver that cannot make a rate may keep the old one and say nothing.
    bool ok = Near(tio.c_ospeed, baud);
    struct serial_struct ss {};
    // No TIOCGSERIAL (a pseudo-terminal) or no clock to divide: the read-back is all we have.
    if (ok && Ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.baud_base > 0) {
        const auto base = static_cast<std::uint32_t>(ss.baud_base);
        if ((ss.flags & ASYNC_SPD_MASK) == ASYNC_SPD_CUST && baud == 38400 && ss.custom_divisor > 0)
            ok = Near(base / static_cast<std::uint32_t>(ss.custom_divisor), baud);
        else
            ok = DivisorMakes(base, baud);
    }
    if (!ok)
        errno = EINVAL;
    return ok;
}

static_assert(sizeof(termios2) <= sizeof(LineSettings::Snapshot), "termios2 fits a snapshot");

bool LineSettings::Save(int fd, Snapshot* pSnapshot) {
    struct termios2 tio {};
    if (Ioctl(fd, TCGETS2, &tio) < 0)
        return false;
    pSnapshot->fill(0);
    std::memcpy(pSnapshot->data(), &tio, sizeof tio);
    return true;
}

bool LineSettings::Restore(int fd, const Snapshot& snapshot) {
    struct termios2 tio {};
    std::memcpy(&tio, snapshot.data(), sizeof tio);
    return Ioctl(fd, TCSETS2, &tio) == 0;
}
