#include "framework/win32/WholeFile.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* pError) {
    QSaveFile file(path);
    // Unbuffered: a write that fails only when a buffer is flushed at the end goes unreported
    // by the commit, which would then put a cut file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *pError = file.errorString();
        return false;
    }
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            // The write's own errno: the file's error string does not carry it.
            *pError = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
            file.cancelWriting();
            return false;
        }
        done += n;
    }
    if (!file.commit()) {
        *pError = file.errorString();
        return false;
    }
    return true;
}
