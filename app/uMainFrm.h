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
#include <optional>
#include <string>

#include "catalogue/uChmExtractor.h"

class QAction;
class QFileDialog;
class QFrame;
class QShortcut;
class QListWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;

namespace vexmor {

class TApplicationEvents;
class TExportRun;
struct TExportOutcome;
enum class TCancelPoint;
class TSplitter;
class TStatusBar;
class TWindowSlot;

// Index of each toolbar image in ImageList1.
enum TToolbarImage : int { kImageOpen, kImageExportThis, kImageExportAll, kImageAbout, kImageCount };

class TfrmMainForm : public QMainWindow {
public:
    // `makeStorage` makes the storage component of each opened file.
    explicit TfrmMainForm(TChmExtractor::StorageMaker makeStorage = storage::CreateITStorage);
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
    QFileDialog* dlgSaveBook;  // the .epub of the e-book export
    TApplicationEvents* ApplicationEvents;
    // Keyboard commands; each one clicks its button, so a disabled button
    // leaves its shortcut without effect too.
    QShortcut* scOpen;
    QShortcut* scExportThis;
    QShortcut* scExportAll;
    QShortcut* scAbout;
    QShortcut* scExportSite;
    QAction* acExportSite;  // in the menu of tbExportAll
    QShortcut* scExportBook;
    QAction* acExportBook;  // in the menu of tbExportAll
    QShortcut* scQuit;

    std::unique_ptr<TChmExtractor> Extractor;
    // Folder of the last Export all, ending in '/'; empty at start and after
    // a cancelled folder dialog.
    std::string LastExportDir;

    // The command handlers: each asks the user what its command needs, then
    // hands it to the method below that does the work. A failure leaves them
    // for the application's handler, except Open's, shown by OpenFile.
    void tbOpenClick();
    void tbExportThisClick();
    void tbExportAllClick();
    void tbAboutClick();
    // Asks for a folder, writes the site there, then offers to open its
    // entry page in the desktop's browser.
    void tbExportSiteClick();
    void ApplicationEventsException(const std::exception& E);

    // Opens the help file at `path` (bytes as the file system takes them)
    // and lists its items; a failure becomes a row of the error list. Does
    // nothing while an export runs, since the export reads the catalogue.
    void OpenFile(const std::string& path);
    // Shows one row per item, in their order: rows and catalogue items
    // correspond by index, so `items` is the catalogue's.
    void FillItemList(const TChmItems& items);
    // Copies the catalogue's item `index` to the file `target`; a cancel
    // stops it at once, leaving what stood at `target` as it was. Throws on
    // failure, after the status line has told how the export ended.
    void ExportItem(std::size_t index, const std::string& target);
    // Writes every item of the open file under `folder` (a copy: the worker
    // reads it while the window goes on); nothing without an open file.
    // Throws on failure, after the status line has told how far it came.
    void ExportAll(std::string folder);
    // Writes the open file as a site under `folder` (see SiteExport) and
    // returns its entry page, or empty when cancelled or without a file.
    // Throws on failure, as ExportAll does.
    std::string ExportSite(std::string folder);
    // Asks for the .epub to write, then writes the open file there as an
    // e-book (see EpubExport).
    void tbExportBookClick();
    // Writes the open file as an e-book at `target`, with the progress
    // window of Export all; a cancel or failure leaves nothing there.
    void ExportBook(const std::string& target);
    bool ExportRunning() const { return activeExport_ != nullptr; }

protected:
    // While an export runs, closing asks first; on yes it cancels the export
    // as Cancel does and closes the window once the export has ended.
    void closeEvent(QCloseEvent* event) override;
    // One local .chm file may be dropped on the window to open it.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Takes a drag that carries one help file while no export runs.
    void AnswerDrag(QDragMoveEvent* event) const;
    // The components, built in this order by the constructor.
    void SetUpWindow();
    void CreateToolBar();
    void CreateLists();
    void CreateStatusBar();
    void CreateDialogs();
    // Buttons, shortcuts, keyboard order, the exception hook and drops.
    void ConnectCommands();
    void FormCreate();
    void FormDestroy();

    void AppendError(const QString& message);
    void Bind(QToolButton* button, void (TfrmMainForm::*handler)());
    void SetCommandsEnabled(bool enabled);
    // The index of the row the user selected, if any.
    std::optional<std::size_t> SelectedItemIndex() const;
    // Runs `work` on a worker thread with the progress window up and the
    // commands disabled; returns once it has ended, with what `work` threw
    // for the window's thread to rethrow.
    TExportOutcome RunExport(std::size_t items, std::uint64_t bytes, TCancelPoint cancelPoint,
                             const std::function<void(ExportObserver&)>& work);
    // Tells in the status line how an export ended, then rethrows its failure.
    void ShowExportOutcome(const TExportOutcome& outcome);
    // Asks whether to stop the running export and quit.
    bool ConfirmQuitDuringExport();

    TChmExtractor::StorageMaker makeStorage_;
    // This window's place among the program's windows, for where it opens.
    std::unique_ptr<TWindowSlot> slot_;
    TExportRun* activeExport_ = nullptr;  // set only while an export runs
    bool closeAfterExport_ = false;
};

}  // namespace vexmor
