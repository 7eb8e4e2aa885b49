// The main window: toolbar, item list, error list and status line over the
// one catalogue that the window owns for its whole life.
#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "catalogue/uChmExtractor.h"

class QFileDialog;
class QFrame;
class QShortcut;
class QListWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;
class TApplicationEvents;
class TExportRun;
struct TExportOutcome;
class TSplitter;
class TStatusBar;

// Index of each toolbar image in ImageList1.
enum TToolbarImage : int { kImageOpen, kImageExportThis, kImageExportAll, kImageAbout, kImageCount };

class TfrmMainForm : public QMainWindow {
public:
    // `makeStorage` makes the storage component of each opened file.
    explicit TfrmMainForm(vexmor::TChmExtractor::StorageMaker makeStorage =
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
    // Keyboard commands; each one clicks its button, so a disabled button
    // leaves its shortcut without effect too.
    QShortcut* scOpen;
    QShortcut* scExportThis;
    QShortcut* scExportAll;
    QShortcut* scAbout;
    QShortcut* scQuit;

    std::unique_ptr<vexmor::TChmExtractor> Extractor;
    // Folder of the last Export all, ending in '/'; empty at start and after
    // a cancelled folder dialog.
    std::string LastExportDir;

    void tbOpenClick();
    void tbExportThisClick();
    void tbExportAllClick();
    void tbAboutClick();
    void ApplicationEventsException(const std::exception& E);

    // Opens the help file at `path` (bytes as the file system takes them)
    // and lists its items; a failure becomes a row of the error list. Does
    // nothing while an export runs, since the export reads the catalogue.
    void OpenFile(const std::string& path);
    bool ExportRunning() const { return activeExport_ != nullptr; }

protected:
    // While an export runs, closing asks it to stop after the current file
    // and closes the window once it has ended.
    void closeEvent(QCloseEvent* event) override;
    // One local .chm file may be dropped on the window to open it.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateComponents();
    void FormCreate();
    void FormDestroy();
    void CreateShortcuts();
    void AppendError(const QString& message);
    void Bind(QToolButton* button, void (TfrmMainForm::*handler)());
    void SetCommandsEnabled(bool enabled);
    // Runs `work` on a worker thread with the progress window up and the
    // commands disabled; returns once it has ended. A failure is rethrown
    // here, on the window's thread.
    TExportOutcome RunExport(std::size_t items, std::uint64_t bytes, bool cancellable,
                           const std::function<void(vexmor::ExportObserver&)>& work);

    vexmor::TChmExtractor::StorageMaker makeStorage_;
    TExportRun* activeExport_ = nullptr;  // set only while an export runs
    bool closeAfterExport_ = false;
};
