#include "Fixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include "tests/common/fixture_files.h"
#include "tests/common/manifest.h"

QString DataPath(const QString& name) {
    return QFile::decodeName(QByteArray::fromStdString(vexmor::test::DataFile(QFile::encodeName(name).toStdString())));
}

QList<ManifestEntry> ReadManifest(const QString& path) {
    QList<ManifestEntry> entries;
    for (const vexmor::test::ManifestEntry& read : vexmor::test::ReadManifest(QFile::encodeName(path).toStdString())) {
        ManifestEntry entry;
        entry.size = static_cast<qint64>(read.size);
        entry.sha256 = QByteArray::fromStdString(read.sha256);
        entry.name = QString::fromStdString(read.InnerName());
        entries.append(entry);
    }
    return entries;
}

QByteArray FileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

QStringList FilesBelow(const QString& folder) {
    QStringList files;
    const QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(root.relativeFilePath(it.next()));
    files.sort();
    return files;
}
