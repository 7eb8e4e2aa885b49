#include "app/DirSel.h"

#include <QByteArray>
#include <QFile>
#include <QFileDialog>
#include <QString>
#include <QStringList>

#include "catalogue/path_delim.h"

namespace vexmor {

namespace {

// Puts the dialog in the folder's parent with the folder selected, as a
// folder tree would show it; "/" itself has no parent to select it in.
void Preselect(QFileDialog& dialog, std::string folder) {
    if (folder.empty())
        return;
    while (folder.size() > 1 && folder.back() == kPathDelim)
        folder.pop_back();
    const QString path = QFile::decodeName(QByteArray::fromStdString(folder));
    if (folder.size() == 1 && folder.front() == kPathDelim)
        dialog.setDirectory(path);
    else
        dialog.selectFile(path);
}

}  // namespace

bool BrowseForFolder(QWidget* owner, const std::string& title, std::string initialFolder,
                     std::string& resultFolder) {
    resultFolder.clear();

    QFileDialog dialog(owner, QString::fromUtf8(title));
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    Preselect(dialog, std::move(initialFolder));

    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return false;  // only existing folders can be confirmed; be safe anyway

    resultFolder = WithTrailingDelim(QFile::encodeName(chosen.first()).toStdString());
    return true;
}

}  // namespace vexmor
