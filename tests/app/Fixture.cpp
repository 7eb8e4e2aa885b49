#include "Fixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>

QString DataPath(const QString& name) {
    return QDir(QStringLiteral(VEXMOR_TEST_DATA_DIR)).absoluteFilePath(name);
}

QList<ManifestEntry> ReadManifest(const QString& path) {
    QList<ManifestEntry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).chopped(1);
        const qsizetype firstBlank = line.indexOf(u' ');
        const qsizetype secondBlank = line.indexOf(u' ', firstBlank + 1);
        if (firstBlank < 0 || secondBlank < 0)
            continue;
        ManifestEntry entry;
        entry.size = line.left(firstBlank).toLongLong();
        entry.sha256 = line.mid(firstBlank + 1, secondBlank - firstBlank - 1).toLatin1();
        entry.name = line.mid(secondBlank + 1);
        if (entry.name.startsWith(u'/'))
            entry.name.remove(0, 1);
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
