#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

inline termios SettingsOf(int fd) {
    termios tio{};
    EXPECT_EQ(0, tcgetattr(fd, &tio));
    return tio;
}

// The test's own descriptor on a pty's slave side, held while it lives so that the kernel
// keeps the tty (and its settings) between the port's opens.
class SlaveView {
public:
    explicit SlaveView(const std::string& path)
        : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        EXPECT_GE(m_fd, 0);
    }
    ~SlaveView() { close(m_fd); }
    SlaveView(const SlaveView&) = delete;
    SlaveView& operator=(const SlaveView&) = delete;
    termios Settings() const { return SettingsOf(m_fd); }
    // Whether some holder marked the line exclusive (TIOCEXCL).
    bool Exclusive() const {
        int exclusive = -1;
        EXPECT_EQ(0, ioctl(m_fd, TIOCGEXCL, &exclusive));
        return exclusive != 0;
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// True when after holds every setting of before (what `stty -g` shows).
inline bool SameSettings(const termios& before, const termios& after) {
    return before.c_iflag == after.c_iflag && before.c_oflag == after.c_oflag &&
           before.c_cflag == after.c_cflag && before.c_lflag == after.c_lflag &&
           std::memcmp(before.c_cc, after.c_cc, sizeof before.c_cc) == 0 &&
           cfgetospeed(&before) == cfgetospeed(&after);
}
