#include "app/uMainFrm.h"

#include <QByteArray>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QListWidget>
#include <QMessageBox>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "app/ChmApplication.h"
#include "app/DirSel.h"
#include "app/Splitter.h"
#include "app/StatusBar.h"
#include "app/WaitCursor.h"
#include "catalogue/inner_name.h"

#include <initializer_list>
#include <memory>
#include <vector>

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

const char* const kCaption = "VexmorChm文件抽取器";
const char* const kApplicationTitle = "CHM 抽取器";
const char* const kNoFileOpen = "当前未打开文件";
const char* const kFolderPrompt = "请选择一个文件夹";
const char* const kAboutText = "问题与建议请提交到 VexmorChm 项目的问题跟踪系统\n";

// The size column is display only; its cells never open an editor.
class TNoEditorDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override {
        return nullptr;
    }
};

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
    const std::size_t delim = path.rfind(vexmor::kPathDelim);
    return delim == std::string::npos ? path : path.substr(delim + 1);
}

QString ItemText(const vexmor::TChmItem& item) {
    return FromBytes(vexmor::InnerPathAndName(item.Path, item.Name));
}

}  // namespace

TfrmMainForm::TfrmMainForm(vexmor::TChmExtractor::StorageFactory storageFactory)
    : storageFactory_(std::move(storageFactory)) {
    CreateComponents();
    FormCreate();
}

TfrmMainForm::~TfrmMainForm() {
    FormDestroy();
}

void TfrmMainForm::CreateComponents() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(kClientWidth, kClientHeight);
    move(kLeft, kTop);
    QFont font(QString::fromUtf8("宋体"));
    font.setPixelSize(kFontPixels);
    setFont(font);
    setContextMenuPolicy(Qt::NoContextMenu);  // no menu to hide the toolbar

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

    auto makeButton = [this](TToolbarImage image) {
        auto* button = new QToolButton(ToolBar1);
        button->setIcon(ImageList1.at(image));
        button->setIconSize(QSize(kImageSize, kImageSize));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setAutoRaise(true);
        button->setFixedSize(kButtonWidth, kButtonHeight);
        button->setFocusPolicy(Qt::NoFocus);
        ToolBar1->addWidget(button);
        return button;
    };
    tbOpen = makeButton(kImageOpen);
    tbExportThis = makeButton(kImageExportThis);
    tbExportAll = makeButton(kImageExportAll);
    ToolButton2 = new QFrame(ToolBar1);
    ToolButton2->setFrameShape(QFrame::VLine);
    ToolButton2->setFrameShadow(QFrame::Sunken);
    ToolButton2->setFixedSize(kSeparatorWidth, kButtonHeight);
    ToolBar1->addWidget(ToolButton2);
    tbAbout = makeButton(kImageAbout);

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
    lvItems->setItemDelegateForColumn(1, new TNoEditorDelegate(lvItems));
    lvItems->setMinimumHeight(kUpperPaneMinHeight);

    lbError = new QListWidget(Splitter1);
    lbError->setUniformItemSizes(true);
    lbError->setMinimumHeight(kErrorListMinHeight);

    Splitter1->addWidget(lvItems);
    Splitter1->addWidget(lbError);
    Splitter1->setCollapsible(0, false);
    Splitter1->setCollapsible(1, true);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);

    sbStatus = new TStatusBar(this);
    sbStatus->setFixedHeight(kStatusHeight);
    setStatusBar(sbStatus);

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

    ApplicationEvents = new TApplicationEvents(this);
    ApplicationEvents->OnException = [this](const std::exception& E) { ApplicationEventsException(E); };

    // The error list starts at its own height; the item list takes the rest.
    const int splitterHeight = kClientHeight - kButtonHeight - kStatusHeight - Splitter1->handleWidth();
    Splitter1->setSizes({splitterHeight - kErrorListHeight, kErrorListHeight});

    Bind(tbOpen, &TfrmMainForm::tbOpenClick);
    Bind(tbExportThis, &TfrmMainForm::tbExportThisClick);
    Bind(tbExportAll, &TfrmMainForm::tbExportAllClick);
    Bind(tbAbout, &TfrmMainForm::tbAboutClick);
}

void TfrmMainForm::Bind(QToolButton* button, void (TfrmMainForm::*handler)()) {
    // A command's exception must not unwind through Qt's frames.
    connect(button, &QToolButton::clicked, this, [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
}

void TfrmMainForm::FormCreate() {
    Extractor = std::make_unique<vexmor::TChmExtractor>(storageFactory_);
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
    sbStatus->SetSimpleText(QString::fromUtf8(kNoFileOpen));
}

void TfrmMainForm::FormDestroy() {
    Extractor.reset();
}

void TfrmMainForm::AppendError(const QString& message) {
    // Appending neither selects the new row nor scrolls to it.
    lbError->addItem(message);
}

void TfrmMainForm::ApplicationEventsException(const std::exception& E) {
    AppendError(QString::fromUtf8(E.what()));
}

void TfrmMainForm::tbOpenClick() {
    repaint();
    if (dlgOpen->exec() != QDialog::Accepted)
        return;
    TWaitCursor waitCursor;
    // The dialog offers the chosen path again next time.
    const QString chosen = dlgOpen->selectedFiles().value(0);
    dlgOpen->selectFile(chosen);
    lvItems->clear();
    try {
        Extractor->Open(PathBytes(chosen));
        const vexmor::TChmItems& items = Extractor->Items();
        // Built first and handed over in one go: much faster for large files.
        std::vector<std::unique_ptr<QTreeWidgetItem>> built;
        built.reserve(items.Count());
        for (std::size_t i = 0; i < items.Count(); ++i) {
            auto row = std::make_unique<QTreeWidgetItem>(
                QStringList{ItemText(items[i]), QString::number(items[i].Size)});
            row->setFlags(row->flags() | Qt::ItemIsEditable);
            built.push_back(std::move(row));
        }
        QList<QTreeWidgetItem*> rows;
        rows.reserve(static_cast<qsizetype>(built.size()));
        for (auto& row : built)
            rows.append(row.release());
        lvItems->addTopLevelItems(rows);
        sbStatus->SetSimpleText(QString::fromUtf8("文件:%1, 总共%2项")
                                    .arg(FromBytes(ExtractFileName(Extractor->FileName())))
                                    .arg(items.Count()));
    } catch (const std::exception& e) {
        AppendError(QString::fromUtf8(e.what()));
    }
}

void TfrmMainForm::tbExportThisClick() {
    const QModelIndex focused = lvItems->currentIndex();
    if (!focused.isValid())
        return;
    // Rows and items correspond by index: the list is never sorted.
    const vexmor::TChmItem& item = Extractor->Items()[static_cast<std::size_t>(focused.row())];
    dlgSave->selectFile(FromBytes(item.Name));
    if (dlgSave->exec() != QDialog::Accepted)
        return;
    item.SaveToFile(PathBytes(dlgSave->selectedFiles().value(0)));
}

void TfrmMainForm::tbExportAllClick() {
    if (Extractor->FileName().empty())
        return;
    if (!BrowseForFolder(this, kFolderPrompt, LastExportDir, LastExportDir))
        return;
    TWaitCursor waitCursor;
    Extractor->Items().ExtractAll(LastExportDir);
}

void TfrmMainForm::tbAboutClick() {
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
                    QString::fromUtf8(kAboutText), QMessageBox::Ok, this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}
