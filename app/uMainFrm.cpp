#include "app/uMainFrm.h"

#include <QByteArray>
#include <QCloseEvent>
#include <QCompleter>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QListWidget>
#include <QMenu>
#include <QKeySequence>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include "app/ChmApplication.h"
#include "app/DirSel.h"
#include "app/EAbort.h"
#include "app/ErrorRows.h"
#include "app/ExportRun.h"
#include "app/ItemListDelegates.h"
#include "app/Splitter.h"
#include "app/StatusBar.h"
#include "app/WaitCursor.h"
#include "app/WindowPlacement.h"
#include "catalogue/inner_name.h"
#include "epub/epub_export.h"
#include "site/site_export.h"

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vexmor {

namespace {

constexpr int kClientWidth = 450;
constexpr int kClientHeight = 316;
constexpr int kLeft = 266;
constexpr int kTop = 188;
constexpr int kFontPixels = 12;
constexpr int kButtonWidth = 39;
constexpr int kButtonHeight = 38;
constexpr int kSeparatorWidth = 8;
constexpr int kImageSize = 32;
constexpr int kStatusHeight = 19;
constexpr int kErrorListHeight = 65;
constexpr int kErrorListMinHeight = kLowerPaneCollapseHeight + 1;
constexpr int kItemColumnWidth = 240;
constexpr int kSizeColumnWidth = 96;
// The desktop's frame is known only once the window is on screen; until
// then its title bar is allowed for with this height.
constexpr int kTitleBarAllowance = 32;

const char* const kCaption = "VexmorChm文件抽取器";
const char* const kApplicationTitle = "CHM 抽取器";
const char* const kNoFileOpen = "当前未打开文件";
const char* const kFolderPrompt = "请选择一个文件夹";
const char* const kAboutText = "问题与建议请提交到 VexmorChm 项目的问题跟踪系统\n";
const char* const kOpenStatus = "文件:%1, 总共%2项";
const char* const kExportedStatus = "文件:%1, 总共%2项, 已导出%3项";
const char* const kCancelledSuffix = ", 已取消";
const char* const kFailedSuffix = ", 导出失败";
const char* const kQuitDuringExport = "导出尚未完成，要取消并退出吗？";
const char* const kCancelAndQuit = "取消导出并退出";
const char* const kGoOnExporting = "继续导出";
// A note, not a failure: the stream was written in full under this name.
const char* const kRenamedNote = "已改名保存-%1 → %2 (目标不接受原名中的字符)";

struct TCommand {
    const char* name;
    QKeySequence keys;
};
const TCommand kOpenCommand{"打开", QKeySequence(Qt::CTRL | Qt::Key_O)};
const TCommand kExportThisCommand{"导出选中项", QKeySequence(Qt::CTRL | Qt::Key_S)};
const TCommand kExportAllCommand{"全部导出", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)};
const TCommand kExportSiteCommand{"导出为网页…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W)};
const TCommand kExportBookCommand{"导出为电子书…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)};
const TCommand kAboutCommand{"关于", QKeySequence(Qt::Key_F1)};
const char* const kOpenSiteQuestion = "网页已导出到 %1。\n要在浏览器中打开吗？";
const QKeySequence kQuitKeys(Qt::CTRL | Qt::Key_Q);

struct TImageSource {
    const char* themeName;
    const char* ownImage;
};

// The desktop theme's images when it has all of them, otherwise our own
// throughout, so that the toolbar never mixes two styles.
QList<QIcon> LoadToolbarImages(std::initializer_list<TImageSource> sources) {
    bool themeHasAll = true;
    for (const TImageSource& source : sources)
        themeHasAll = themeHasAll && QIcon::hasThemeIcon(QString::fromLatin1(source.themeName));
    QList<QIcon> images;
    for (const TImageSource& source : sources)
        images.append(themeHasAll ? QIcon::fromTheme(QString::fromLatin1(source.themeName))
                                  : QIcon(QString::fromLatin1(source.ownImage)));
    return images;
}

QString FromBytes(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Paths reach the file system as the bytes the dialog got from it.
std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The text after the last separator.
std::string ExtractFileName(const std::string& path) {
    const std::size_t delim = path.rfind(kPathDelim);
    return delim == std::string::npos ? path : path.substr(delim + 1);
}

QString ItemText(const TChmItem& item) {
    return FromBytes(InnerPathAndName(item.Path, item.Name));
}

// The one local help file that a drag carries, or an empty text.
QString DroppedHelpFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls())
        return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return {};
    const QString path = urls.first().toLocalFile();
    if (!path.endsWith(QStringLiteral(".chm"), Qt::CaseInsensitive))
        return {};
    return path;
}

// A file dialog's completion list is a window of its own; closing the
// dialog by Return in the name box leaves it up, where it would take the
// next click.
void HideCompletionPopups(QWidget* dialog) {
    for (QCompleter* completer : dialog->findChildren<QCompleter*>())
        if (QWidget* popup = completer->popup())
            popup->hide();
}

int RunFileDialog(QFileDialog* dialog) {
    const int result = dialog->exec();
    HideCompletionPopups(dialog);
    return result;
}

}  // namespace

TfrmMainForm::TfrmMainForm(TChmExtractor::StorageMaker makeStorage)
    : makeStorage_(std::move(makeStorage)) {
    SetUpWindow();
    CreateToolBar();
    CreateLists();
    CreateStatusBar();
    CreateDialogs();
    ConnectCommands();
    FormCreate();
}

TfrmMainForm::~TfrmMainForm() {
    FormDestroy();
}

void TfrmMainForm::SetUpWindow() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(kClientWidth, kClientHeight);
    // The usual place where the window fits the screen (not so at high
    // scaling on a small one), a step on for each other window of the
    // program, so that a second file's window does not hide the first.
    slot_ = std::make_unique<TWindowSlot>(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    QSize frame = frameGeometry().size();
    if (frame == size())
        frame.rheight() += kTitleBarAllowance;
    const QScreen* onScreen = screen();
    const QRect available = onScreen != nullptr ? onScreen->availableGeometry() : QRect(QPoint(kLeft, kTop), frame);
    move(PlaceWindow(QPoint(kLeft, kTop), frame, available, slot_->Number()));
    QFont font(QString::fromUtf8("宋体"));
    font.setPixelSize(kFontPixels);
    setFont(font);
    setContextMenuPolicy(Qt::NoContextMenu);  // no menu to hide the toolbar
}

void TfrmMainForm::CreateToolBar() {
    // In the order of TToolbarImage.
    ImageList1 = LoadToolbarImages({
        {"document-open", ":/icons/open.png"},
        {"document-save", ":/icons/export-this.png"},
        {"document-save-all", ":/icons/export-all.png"},
        {"help-about", ":/icons/about.png"},
    });

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(kImageSize, kImageSize));
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { border: none; padding: 0px; spacing: 0px; }"));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    auto makeButton = [this](TToolbarImage image, const TCommand& command) {
        auto* button = new QToolButton(ToolBar1);
        const QString name = QString::fromUtf8(command.name);
        button->setToolTip(QStringLiteral("%1 (%2)").arg(name, command.keys.toString(QKeySequence::NativeText)));
        button->setAccessibleName(name);
        button->setIcon(ImageList1.at(image));
        button->setIconSize(QSize(kImageSize, kImageSize));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setAutoRaise(true);
        button->setFixedSize(kButtonWidth, kButtonHeight);
        // Reached with Tab; a click leaves the focus where it was.
        button->setFocusPolicy(Qt::TabFocus);
        ToolBar1->addWidget(button);
        return button;
    };
    tbOpen = makeButton(kImageOpen, kOpenCommand);
    tbExportThis = makeButton(kImageExportThis, kExportThisCommand);
    tbExportAll = makeButton(kImageExportAll, kExportAllCommand);
    // The site export sits in the button's menu (press and hold, or its
    // shortcut), so the toolbar keeps its four commands.
    auto* exportMenu = new QMenu(tbExportAll);
    acExportSite = exportMenu->addAction(QString::fromUtf8(kExportSiteCommand.name));
    acExportSite->setShortcut(kExportSiteCommand.keys);
    acExportBook = exportMenu->addAction(QString::fromUtf8(kExportBookCommand.name));
    acExportBook->setShortcut(kExportBookCommand.keys);
    tbExportAll->setMenu(exportMenu);
    tbExportAll->setPopupMode(QToolButton::DelayedPopup);
    tbExportAll->setToolTip(tbExportAll->toolTip() + QStringLiteral("\n") +
                            QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kExportSiteCommand.name),
                                                          kExportSiteCommand.keys.toString(QKeySequence::NativeText)) +
                            QStringLiteral("\n") +
                            QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kExportBookCommand.name),
                                                          kExportBookCommand.keys.toString(QKeySequence::NativeText)));
    ToolButton2 = new QFrame(ToolBar1);
    ToolButton2->setFrameShape(QFrame::VLine);
    ToolButton2->setFrameShadow(QFrame::Sunken);
    ToolButton2->setFixedSize(kSeparatorWidth, kButtonHeight);
    ToolBar1->addWidget(ToolButton2);
    tbAbout = makeButton(kImageAbout, kAboutCommand);
}

void TfrmMainForm::CreateLists() {
    Splitter1 = new TSplitter(this);
    Splitter1->setHandleWidth(3);
    setCentralWidget(Splitter1);

    lvItems = new QTreeWidget(Splitter1);
    lvItems->setColumnCount(2);
    lvItems->setHeaderLabels({QString::fromUtf8("项目"), QString::fromUtf8("大小")});
    lvItems->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lvItems->header()->setStretchLastSection(false);
    lvItems->header()->setSectionsMovable(false);
    lvItems->setColumnWidth(0, kItemColumnWidth);
    lvItems->setColumnWidth(1, kSizeColumnWidth);
    lvItems->setRootIsDecorated(false);
    lvItems->setItemsExpandable(false);
    lvItems->setUniformRowHeights(true);
    lvItems->setSortingEnabled(false);
    lvItems->setSelectionMode(QAbstractItemView::SingleSelection);
    lvItems->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    lvItems->setItemDelegateForColumn(0, new TCutTextTipDelegate(
                                             [this](int row) {
                                                 const TChmItems& items = Extractor->Items();
                                                 return row >= 0 && static_cast<std::size_t>(row) < items.Count()
                                                            ? ItemText(items[static_cast<std::size_t>(row)])
                                                            : QString();
                                             },
                                             lvItems));
    lvItems->setItemDelegateForColumn(1, new TNoEditorDelegate(lvItems));
    lvItems->setMinimumHeight(kUpperPaneMinHeight);

    lbError = new QListWidget(Splitter1);
    lbError->setUniformItemSizes(true);
    lbError->setItemDelegate(new TCutTextTipDelegate(
        [this](int row) {
            const QListWidgetItem* item = lbError->item(row);
            return item != nullptr ? item->text() : QString();
        },
        lbError));
    lbError->setMinimumHeight(kErrorListMinHeight);

    Splitter1->addWidget(lvItems);
    Splitter1->addWidget(lbError);
    Splitter1->setCollapsible(0, false);
    Splitter1->setCollapsible(1, true);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    // The error list starts at its own height; the item list takes the rest.
    const int splitterHeight = kClientHeight - kButtonHeight - kStatusHeight - Splitter1->handleWidth();
    Splitter1->setSizes({splitterHeight - kErrorListHeight, kErrorListHeight});
}

void TfrmMainForm::CreateStatusBar() {
    sbStatus = new TStatusBar(this);
    sbStatus->setFixedHeight(kStatusHeight);
    setStatusBar(sbStatus);
}

void TfrmMainForm::CreateDialogs() {
    dlgOpen = new QFileDialog(this);
    dlgOpen->setOptions(QFileDialog::DontUseNativeDialog);
    dlgOpen->setAcceptMode(QFileDialog::AcceptOpen);
    dlgOpen->setFileMode(QFileDialog::AnyFile);  // the name need not exist
    dlgOpen->setNameFilter(QStringLiteral("Chm Files (*.chm);;All Files (*)"));
    dlgOpen->setDefaultSuffix(QStringLiteral("chm"));

    dlgSave = new QFileDialog(this);
    dlgSave->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    dlgSave->setAcceptMode(QFileDialog::AcceptSave);
    dlgSave->setFileMode(QFileDialog::AnyFile);

    dlgSaveBook = new QFileDialog(this);
    dlgSaveBook->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    dlgSaveBook->setAcceptMode(QFileDialog::AcceptSave);
    dlgSaveBook->setFileMode(QFileDialog::AnyFile);
    dlgSaveBook->setNameFilter(QStringLiteral("EPUB (*.epub);;All Files (*)"));
    dlgSaveBook->setDefaultSuffix(QStringLiteral("epub"));
}

void TfrmMainForm::ConnectCommands() {
    ApplicationEvents = new TApplicationEvents(this);
    ApplicationEvents->OnException = [this](const std::exception& E) { ApplicationEventsException(E); };

    Bind(tbOpen, &TfrmMainForm::tbOpenClick);
    Bind(tbExportThis, &TfrmMainForm::tbExportThisClick);
    Bind(tbExportAll, &TfrmMainForm::tbExportAllClick);
    Bind(tbAbout, &TfrmMainForm::tbAboutClick);

    QWidget::setTabOrder(tbOpen, tbExportThis);
    QWidget::setTabOrder(tbExportThis, tbExportAll);
    QWidget::setTabOrder(tbExportAll, tbAbout);
    QWidget::setTabOrder(tbAbout, lvItems);
    QWidget::setTabOrder(lvItems, lbError);

    auto clicks = [this](const QKeySequence& keys, QToolButton* button) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, button, &QToolButton::click);
        return shortcut;
    };
    scOpen = clicks(kOpenCommand.keys, tbOpen);
    scExportThis = clicks(kExportThisCommand.keys, tbExportThis);
    scExportAll = clicks(kExportAllCommand.keys, tbExportAll);
    scAbout = clicks(kAboutCommand.keys, tbAbout);
    connect(acExportSite, &QAction::triggered, this, [this] { tbExportSiteClick(); });
    scExportSite = new QShortcut(kExportSiteCommand.keys, this);
    connect(scExportSite, &QShortcut::activated, acExportSite, &QAction::trigger);
    connect(acExportBook, &QAction::triggered, this, [this] { tbExportBookClick(); });
    scExportBook = new QShortcut(kExportBookCommand.keys, this);
    connect(scExportBook, &QShortcut::activated, acExportBook, &QAction::trigger);
    scQuit = new QShortcut(kQuitKeys, this);
    connect(scQuit, &QShortcut::activated, this, &QWidget::close);

    setAcceptDrops(true);
}

void TfrmMainForm::SetCommandsEnabled(bool enabled) {
    for (QToolButton* button : {tbOpen, tbExportThis, tbExportAll, tbAbout})
        button->setEnabled(enabled);
    // Quit stays: closing during an export stops it first.
    for (QShortcut* shortcut : {scOpen, scExportThis, scExportAll, scExportSite, scExportBook, scAbout})
        shortcut->setEnabled(enabled);
    acExportSite->setEnabled(enabled);
    acExportBook->setEnabled(enabled);
}

void TfrmMainForm::Bind(QToolButton* button, void (TfrmMainForm::*handler)()) {
    // A command's exception must not unwind through Qt's frames.
    connect(button, &QToolButton::clicked, this, [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
}

void TfrmMainForm::FormCreate() {
    Extractor = std::make_unique<TChmExtractor>(makeStorage_);
    // The application title captions the message boxes only: set as Qt's
    // display name, the desktop would append it to every window's title.
    sbStatus->SetSimpleText(QString::fromUtf8(kNoFileOpen));
}

void TfrmMainForm::FormDestroy() {
    Extractor.reset();
}

void TfrmMainForm::AppendError(const QString& message) {
    // No dialog ever reports a failure, so the new row must be seen: it is
    // scrolled into view (not selected), and a collapsed list comes back.
    lbError->addItem(message);
    if (Splitter1->LowerPaneHeight() == 0)
        Splitter1->SetLowerPaneHeight(kErrorListMinHeight);
    lbError->scrollToItem(lbError->item(lbError->count() - 1));
}

void TfrmMainForm::ApplicationEventsException(const std::exception& E) {
    AppendError(QString::fromUtf8(E.what()));
}

void TfrmMainForm::tbOpenClick() {
    repaint();
    if (RunFileDialog(dlgOpen) != QDialog::Accepted)
        return;
    OpenFile(PathBytes(dlgOpen->selectedFiles().value(0)));
}

void TfrmMainForm::OpenFile(const std::string& path) {
    if (ExportRunning())
        return;
    TWaitCursor waitCursor;
    // The dialog offers the file opened last next time, however it came.
    dlgOpen->selectFile(QFile::decodeName(QByteArray::fromStdString(path)));
    // The rows go first: they stand for the catalogue that Open replaces.
    lvItems->clear();
    try {
        Extractor->Open(path);
        FillItemList(Extractor->Items());
        // One arg() call: a name holding "%1" or "%2" stays as it is.
        sbStatus->SetSimpleText(QString::fromUtf8(kOpenStatus)
                                    .arg(FromBytes(ExtractFileName(Extractor->FileName())),
                                         QString::number(Extractor->Items().Count())));
    } catch (const std::exception& e) {
        sbStatus->SetSimpleText(QString::fromUtf8(kNoFileOpen));
        AppendError(QString::fromStdString(OpenFailureRow(path, e.what())));
    }
}

void TfrmMainForm::FillItemList(const TChmItems& items) {
    lvItems->clear();
    // Built first and handed over in one go: much faster for large files.
    std::vector<std::unique_ptr<QTreeWidgetItem>> built;
    built.reserve(items.Count());
    for (std::size_t i = 0; i < items.Count(); ++i) {
        auto row = std::make_unique<QTreeWidgetItem>(QStringList{ItemText(items[i]), QString::number(items[i].Size)});
        row->setFlags(row->flags() | Qt::ItemIsEditable);
        built.push_back(std::move(row));
    }
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(built.size()));
    for (auto& row : built)
        rows.append(row.release());
    lvItems->addTopLevelItems(rows);
    lvItems->scrollToTop();
}

std::optional<std::size_t> TfrmMainForm::SelectedItemIndex() const {
    // The row the user selected, not the current one, which Qt moves to the
    // first row when the list takes the focus.
    const QList<QTreeWidgetItem*> selected = lvItems->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return static_cast<std::size_t>(lvItems->indexOfTopLevelItem(selected.first()));
}

void TfrmMainForm::tbExportThisClick() {
    const std::optional<std::size_t> index = SelectedItemIndex();
    if (!index)
        return;
    // Rows and items correspond by index: the list is never sorted.
    dlgSave->selectFile(FromBytes(Extractor->Items()[*index].Name));
    if (RunFileDialog(dlgSave) != QDialog::Accepted)
        return;
    ExportItem(*index, PathBytes(dlgSave->selectedFiles().value(0)));
}

void TfrmMainForm::ExportItem(std::size_t index, const std::string& target) {
    if (ExportRunning())
        return;
    const TChmItem& item = Extractor->Items()[index];
    // The file is written aside and put in place only when complete, so a
    // cancel need not wait for the end of a large stream.
    const TExportOutcome outcome =
        RunExport(1, item.Size, TCancelPoint::WithinCopy, [&](ExportObserver& observer) {
            if (observer.BeforeItem(item))
                item.SaveToFile(target, &observer);
        });
    ShowExportOutcome(outcome);
}

void TfrmMainForm::tbExportAllClick() {
    if (Extractor->FileName().empty())
        return;
    if (!BrowseForFolder(this, kFolderPrompt, LastExportDir, LastExportDir))
        return;
    ExportAll(LastExportDir);
}

void TfrmMainForm::tbExportSiteClick() {
    if (ExportRunning() || Extractor->FileName().empty())
        return;
    if (!BrowseForFolder(this, kFolderPrompt, LastExportDir, LastExportDir))
        return;
    const std::string entry = ExportSite(LastExportDir);
    if (entry.empty())
        return;
    const QString question = QString::fromUtf8(kOpenSiteQuestion).arg(FromBytes(entry));
    if (QMessageBox::question(this, QString::fromUtf8(kCaption), question) == QMessageBox::Yes)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(entry))));
}

std::string TfrmMainForm::ExportSite(std::string folder) {
    if (ExportRunning() || Extractor->FileName().empty())
        return {};
    const TChmItems& items = Extractor->Items();
    const std::string helpFile = Extractor->FileName();
    std::string entry;
    std::size_t count = 0;
    std::uint64_t bytes = 0;
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    for (std::size_t i = 0; i < items.Count(); ++i) {
        if (site::IsBookkeeping(items[i]))
            continue;
        ++count;
        bytes = items[i].Size > kMost - bytes ? kMost : bytes + items[i].Size;
    }
    // As Export all: every file written is complete, the run stops between
    // two of them, and at the first failure.
    const TExportOutcome outcome =
        RunExport(count, bytes, TCancelPoint::BeforeNextItem, [&](ExportObserver& observer) {
            site::SiteExport run(items, helpFile, folder);
            for (const std::size_t index : run.Order()) {
                if (!observer.BeforeItem(items[index]))
                    return;
                run.Write(items[index], &observer);
            }
            entry = run.Finish();
        });
    ShowExportOutcome(outcome);
    return outcome.cancelled ? std::string() : entry;
}

void TfrmMainForm::tbExportBookClick() {
    if (ExportRunning() || Extractor->FileName().empty())
        return;
    if (!LastExportDir.empty())
        dlgSaveBook->setDirectory(FromBytes(LastExportDir));
    dlgSaveBook->selectFile(FromBytes(epub::BookNameOf(Extractor->FileName())));
    if (RunFileDialog(dlgSaveBook) != QDialog::Accepted)
        return;
    ExportBook(PathBytes(dlgSaveBook->selectedFiles().value(0)));
}

void TfrmMainForm::ExportBook(const std::string& target) {
    if (ExportRunning() || Extractor->FileName().empty())
        return;
    const TChmItems& items = Extractor->Items();
    const std::string helpFile = Extractor->FileName();
    std::unique_ptr<epub::EpubExport> run;
    {
        TWaitCursor waitCursor;
        run = std::make_unique<epub::EpubExport>(items, helpFile);
    }
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t bytes = 0;
    for (const std::size_t index : run->Order())
        bytes = items[index].Size > kMost - bytes ? kMost : bytes + items[index].Size;
    // One file: a cancel discards it, and nothing is left at the target.
    const TExportOutcome outcome =
        RunExport(run->Order().size(), bytes, TCancelPoint::WithinCopy, [&](ExportObserver& observer) {
            try {
                run->Write(target, &observer);
            } catch (const epub::EEpubStopped&) {
            }
        });
    ShowExportOutcome(outcome);
}

void TfrmMainForm::ExportAll(std::string folder) {
    if (ExportRunning() || Extractor->FileName().empty())
        return;
    const TChmItems& items = Extractor->Items();
    // Sizes come from the file: the sum saturates rather than wraps.
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < items.Count(); ++i)
        bytes = items[i].Size > kMost - bytes ? kMost : bytes + items[i].Size;
    // Every file written is complete, and the run stops between two of them.
    const TExportOutcome outcome =
        RunExport(items.Count(), bytes, TCancelPoint::BeforeNextItem, [&](ExportObserver& observer) {
            items.ExtractAll(folder, &observer);
        });
    ShowExportOutcome(outcome);
}

void TfrmMainForm::ShowExportOutcome(const TExportOutcome& outcome) {
    QString status = QString::fromUtf8(kExportedStatus)
                         .arg(FromBytes(ExtractFileName(Extractor->FileName())),
                              QString::number(Extractor->Items().Count()), QString::number(outcome.written));
    if (outcome.failure)
        status += QString::fromUtf8(kFailedSuffix);
    else if (outcome.cancelled)
        status += QString::fromUtf8(kCancelledSuffix);
    sbStatus->SetSimpleText(status);
    for (const auto& [inner, writtenAs] : outcome.renamed)
        AppendError(QString::fromUtf8(kRenamedNote).arg(FromBytes(inner), FromBytes(writtenAs)));
    if (!outcome.failure)
        return;
    try {
        std::rethrow_exception(outcome.failure);
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        // The row names the stream and starts with our own words.
        throw std::runtime_error(ExportFailureRow(outcome.lastItem, e.what()));
    }
}

TExportOutcome TfrmMainForm::RunExport(std::size_t items, std::uint64_t bytes, TCancelPoint cancelPoint,
                                       const std::function<void(ExportObserver&)>& work) {
    TExportRun run(this, TExportTotals{items, bytes}, cancelPoint);
    TExportOutcome outcome;
    {
        // Undone on every way out, also when starting the worker fails.
        struct TExportScope {
            TfrmMainForm& form;
            TExportScope(TfrmMainForm& f, TExportRun& r) : form(f) {
                form.SetCommandsEnabled(false);
                form.activeExport_ = &r;
            }
            ~TExportScope() {
                form.activeExport_ = nullptr;
                form.SetCommandsEnabled(true);
            }
        } scope(*this, run);
        TBusyCursor busyCursor;
        outcome = run.Run(work);
    }
    if (closeAfterExport_) {
        // Asked while the export ran; the export is over, so the window may go.
        closeAfterExport_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
    return outcome;
}

void TfrmMainForm::closeEvent(QCloseEvent* event) {
    if (activeExport_ != nullptr) {
        // The window goes only once the export has stopped: the file being
        // written is finished (Export all) or discarded (Export this).
        event->ignore();
        if (!closeAfterExport_ && ConfirmQuitDuringExport() && activeExport_ != nullptr) {
            activeExport_->RequestCancel();
            closeAfterExport_ = true;
        }
        return;
    }
    QMainWindow::closeEvent(event);
}

bool TfrmMainForm::ConfirmQuitDuringExport() {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kApplicationTitle),
                    QString::fromUtf8(kQuitDuringExport), QMessageBox::NoButton, this);
    QPushButton* quit = box.addButton(QString::fromUtf8(kCancelAndQuit), QMessageBox::DestructiveRole);
    QPushButton* goOn = box.addButton(QString::fromUtf8(kGoOnExporting), QMessageBox::RejectRole);
    // Return, Space and Esc keep the export going: quitting takes a choice.
    box.setDefaultButton(goOn);
    box.setEscapeButton(goOn);
    box.exec();
    return box.clickedButton() == quit;
}

void TfrmMainForm::dragEnterEvent(QDragEnterEvent* event) {
    AnswerDrag(event);
}

void TfrmMainForm::dragMoveEvent(QDragMoveEvent* event) {
    AnswerDrag(event);
}

void TfrmMainForm::AnswerDrag(QDragMoveEvent* event) const {
    if (!ExportRunning() && !DroppedHelpFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmMainForm::dropEvent(QDropEvent* event) {
    const QString path = DroppedHelpFile(event->mimeData());
    if (ExportRunning() || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Opened once the drop is over, so that the program the file came from
    // is not kept waiting while the catalogue is built.
    QTimer::singleShot(0, this, [this, bytes = PathBytes(path)] { OpenFile(bytes); });
}

void TfrmMainForm::tbAboutClick() {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle),
                    QString::fromUtf8(kAboutText), QMessageBox::Ok, this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

}  // namespace vexmor
