#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

// Standard error while the object lives, for the lines the program writes there.
class StderrCapture {
public:
    StderrCapture() {
        char name[] = "/tmp/morvik-stderr-XXXXXX";
        m_fd = mkostemp(name, O_CLOEXEC);
        unlink(name);
        std::fflush(stderr);
        m_saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
        dup2(m_fd, 2);
    }
    ~StderrCapture() { Restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // The captured lines that contain the text, in order.
    QStringList Lines(const QString& containing) {
        Restore();
        QByteArray all;
        char buf[4096];
        ssize_t n;
        lseek(m_fd, 0, SEEK_SET);
        while ((n = read(m_fd, buf, sizeof buf)) > 0)
            all.append(buf, static_cast<int>(n));
        QStringList lines;
        for (const QString& line : QString::fromLocal8Bit(all).split('\n'))
            if (line.contains(containing))
                lines << line;
        return lines;
    }

private:
    void Restore() {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
    }
    int m_fd = -1;
    int m_saved = -1;
};
