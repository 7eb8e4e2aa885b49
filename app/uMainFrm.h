// The main window: toolbar, item list, error list and status line over the
// one catalogue that the window owns for its whole life.
#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>

#include <exception>
#include <memory>
#include <string>

#include "catalogue/uChmExtractor.h"

class QFileDialog;
class QFrame;
class QListWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;
class TApplicationEvents;
class TSplitter;
class TStatusBar;

// Index of each toolbar image in ImageList1.
enum TToolbarImage : int { kImageOpen, kImageExportThis, kImageExportAll, kImageAbout, kImageCount };

class TfrmMainForm : public QMainWindow {
public:
    // `storageFactory` creates the storage component of each opened file.
    explicit TfrmMainForm(vexmor::TChmExtractor::StorageFactory storageFactory =
                              vexmor::storage::CreateITStorage);
    ~TfrmMainForm() override;

    // Components, owned through Qt's parent chain.
    QToolBar* ToolBar1;
    QToolButton* tbOpen;
    QToolButton* tbExportThis;
    QToolButton* tbExportAll;
    QFrame* ToolButton2;
    QToolButton* tbAbout;
    TSplitter* Splitter1;
    QTreeWidget* lvItems;
    QListWidget* lbError;
    TStatusBar* sbStatus;
    QList<QIcon> ImageList1;
    QFileDialog* dlgOpen;
    QFileDialog* dlgSave;
    TApplicationEvents* ApplicationEvents;

    std::unique_ptr<vexmor::TChmExtractor> Extractor;
    // Folder of the last Export all, ending in '/'; empty at start and after
    // a cancelled folder dialog.
    std::string LastExportDir;

    void tbOpenClick();
    void tbExportThisClick();
    void tbExportAllClick();
    void tbAboutClick();
    void ApplicationEventsException(const std::exception& E);

private:
    void CreateComponents();
    void FormCreate();
    void FormDestroy();
    void AppendError(const QString& message);
    void Bind(QToolButton* button, void (TfrmMainForm::*handler)());

    vexmor::TChmExtractor::StorageFactory storageFactory_;
};
