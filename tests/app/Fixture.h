// The fixtures and their manifests: one line per stream with its size,
// SHA-256 and inner name.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QList>

struct ManifestEntry {
    qint64 size = 0;
    QByteArray sha256;  // lower-case hex
    QString name;       // inner path and name, without a leading '/'
};

QString DataPath(const QString& name);
// The manifest at `path`, read by the suite's shared reader: a missing file
// or a malformed line throws std::runtime_error.
QList<ManifestEntry> ReadManifest(const QString& path);
// Lower-case hex SHA-256 of the file's bytes; empty when it cannot be read.
QByteArray FileSha256(const QString& path);
// Every regular file below `folder`, as paths relative to it, sorted.
QStringList FilesBelow(const QString& folder);
