#pragma once

#include <QByteArray>
#include <QString>

// Replaces a file with these bytes, whole or not at all: they go to a new file beside it,
// which is synced and then renamed over the old one, so a full disk or a crash leaves the old
// file as it was. False, with the system's reason, when the file was not replaced.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* pError);
