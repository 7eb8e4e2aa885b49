// The window as it comes up: its settings as Qt lays them out, the in-place
// editing of the item list, and the splitter's limits.
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QListWidget>
#include <QRubberBand>
#include <QHelpEvent>
#include <QTest>
#include <QToolBar>
#include <QToolTip>
#include <QToolButton>
#include <QTreeWidget>

#include "app/Splitter.h"
#include "app/StatusBar.h"
#include "app/WindowPlacement.h"
#include "Fixture.h"
#include "TestSuites.h"
#include "WindowDriver.h"

using vexmor::PlaceWindow;
using vexmor::SnapLowerPaneHeight;
using vexmor::TfrmMainForm;

class WindowLayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMainForm> form_;

    QSplitterHandle* Handle() const { return form_->Splitter1->handle(1); }

    // Drags the splitter handle by `dy` pixels, pressing `cancelKey` (if any)
    // before the release.
    void DragHandle(int dy, Qt::Key cancelKey = Qt::Key_unknown) {
        QSplitterHandle* handle = Handle();
        const QPoint start = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, start);
        QTest::mouseMove(handle, start + QPoint(0, dy));
        QPointer<QRubberBand> line = form_->Splitter1->findChild<QRubberBand*>();
        QVERIFY2(line && line->isVisible(), "no line follows the mouse");
        if (cancelKey != Qt::Key_unknown)
            QTest::keyClick(handle, cancelKey);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, start + QPoint(0, dy));
        QTRY_VERIFY(!line || !line->isVisible());
    }

private slots:
    void init() { form_ = ShowMainForm(std::make_shared<StorageTrace>()); }
    void cleanup() { form_.reset(); }

    void windowHasItsSettings() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("VexmorChm文件抽取器"));
        // A display name set for the application is appended by the desktop
        // to every window's title ("… — CHM 抽取器"); it must stay unset.
        QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
        QCOMPARE(form_->size(), QSize(450, 316));
        QCOMPARE(form_->minimumSize(), form_->maximumSize());
        QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form_->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form_->pos(), QPoint(266, 188));
        QCOMPARE(form_->font().family(), QStringLiteral("宋体"));
        QCOMPARE(form_->font().pixelSize(), 12);
    }

    // Frames of 450 x 348 (the window and a title bar) that would like to be
    // at 266,188: kept there where they fit, moved inside the free area where
    // they do not, a step on for each further window.
    void windowIsPlacedInsideTheScreen_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QPoint>("place");
        QTest::newRow("fits") << QRect(0, 0, 1280, 800) << 0 << QPoint(266, 188);
        QTest::newRow("2x on 1280x800 with a panel") << QRect(0, 0, 640, 372) << 0 << QPoint(190, 24);
        QTest::newRow("2x, second window") << QRect(0, 0, 640, 372) << 1 << QPoint(23, 23);
        QTest::newRow("panel on the left and top") << QRect(100, 30, 540, 370) << 0 << QPoint(190, 52);
        QTest::newRow("second screen") << QRect(1280, 0, 1024, 768) << 0 << QPoint(1280, 188);
        QTest::newRow("smaller than the frame") << QRect(0, 0, 400, 300) << 0 << QPoint(0, 0);
        QTest::newRow("second window") << QRect(0, 0, 1280, 800) << 1 << QPoint(290, 212);
        QTest::newRow("third window") << QRect(0, 0, 1280, 800) << 2 << QPoint(314, 236);
    }
    void windowIsPlacedInsideTheScreen() {
        QFETCH(QRect, available);
        QFETCH(int, slot);
        QFETCH(QPoint, place);
        const QSize frame(450, 348);
        const QPoint at = PlaceWindow(QPoint(266, 188), frame, available, slot);
        QCOMPARE(at, place);
        if (available.width() >= frame.width() && available.height() >= frame.height())
            QVERIFY(available.contains(QRect(at, frame)));
    }

    // A second window (another file opened from the file manager) does not
    // lie exactly on the first; it gets the first one's place once that is gone.
    void secondWindowOpensBesideTheFirst() {
        QCOMPARE(form_->pos(), QPoint(266, 188));
        auto second = ShowMainForm(std::make_shared<StorageTrace>());
        QCOMPARE(second->pos(), QPoint(266 + vexmor::kCascadeStep, 188 + vexmor::kCascadeStep));
        QVERIFY(second->screen()->availableGeometry().contains(second->frameGeometry()));
        form_.reset();
        auto third = ShowMainForm(std::make_shared<StorageTrace>());
        QCOMPARE(third->pos(), QPoint(266, 188));
    }

    void toolbarShowsImagesOnly() {
        QCOMPARE(form_->ToolBar1->height(), 38);
        for (QToolButton* button : {form_->tbOpen, form_->tbExportThis, form_->tbExportAll, form_->tbAbout}) {
            QCOMPARE(button->size(), QSize(39, 38));
            QVERIFY(button->autoRaise());
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
            QVERIFY(button->text().isEmpty());
            QVERIFY(!button->icon().isNull());
            QVERIFY(!button->icon().pixmap(32, 32).isNull());
        }
        QCOMPARE(form_->ToolButton2->width(), 8);
        const QList<QWidget*> order{form_->tbOpen, form_->tbExportThis, form_->tbExportAll,
                                    form_->ToolButton2, form_->tbAbout};
        for (qsizetype i = 1; i < order.size(); ++i)
            QVERIFY(order[i - 1]->x() < order[i]->x());
    }

    void listsAndStatusLineAreInPlace() {
        QCOMPARE(form_->lvItems->headerItem()->text(0), QStringLiteral("项目"));
        QCOMPARE(form_->lvItems->headerItem()->text(1), QStringLiteral("大小"));
        QCOMPARE(form_->lvItems->columnWidth(0), 240);
        QCOMPARE(form_->lvItems->columnWidth(1), 96);
        QVERIFY(!form_->lvItems->isSortingEnabled());
        QCOMPARE(form_->lbError->height(), 65);
        QCOMPARE(form_->sbStatus->height(), 19);
        QCOMPARE(form_->sbStatus->y() + form_->sbStatus->height(), 316);
        const QPoint errorListBottom = form_->lbError->mapTo(form_.get(), QPoint(0, form_->lbError->height()));
        QCOMPARE(errorListBottom.y(), form_->sbStatus->y());
    }

    void onlyFirstColumnIsEditedInPlace() {
        vexmor::TChmItems items;
        vexmor::TChmItem& item = items.Add();
        item.Name = "a.htm";
        item.Size = 12;
        form_->FillItemList(items);
        QTreeWidgetItem* row = form_->lvItems->topLevelItem(0);
        QVERIFY(row != nullptr);

        form_->lvItems->editItem(row, 1);
        QVERIFY(form_->lvItems->viewport()->findChild<QLineEdit*>() == nullptr);

        form_->lvItems->editItem(row, 0);
        auto* editor = form_->lvItems->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor != nullptr);
        editor->setText(QStringLiteral("b.htm"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(row->text(0), QStringLiteral("b.htm"));
    }

    // Only a row whose text the item column cuts shows its full inner path.
    void cutRowShowsFullInnerPath_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("tip");
        QTest::newRow("cut") << "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable" << true;
        QTest::newRow("fits") << "index.html" << false;
    }
    void cutRowShowsFullInnerPath() {
        QFETCH(QString, row);
        QFETCH(bool, tip);
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        const QList<QTreeWidgetItem*> found = form_->lvItems->findItems(row, Qt::MatchExactly, 0);
        QCOMPARE(found.size(), 1);
        form_->lvItems->scrollToItem(found.first());
        QApplication::processEvents();
        QWidget* viewport = form_->lvItems->viewport();
        const QPoint where = form_->lvItems->visualItemRect(found.first()).center();
        QHelpEvent help(QEvent::ToolTip, where, viewport->mapToGlobal(where));
        QApplication::sendEvent(viewport, &help);
        QCOMPARE(QToolTip::isVisible(), tip);
        if (tip)
            QCOMPARE(QToolTip::text(), row);
        QToolTip::hideText();
    }

    void lowerPaneSnaps_data() {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("available");
        QTest::addColumn<int>("height");
        QTest::newRow("kept") << 65 << 256 << 65;
        QTest::newRow("smallest kept") << 31 << 256 << 31;
        QTest::newRow("collapses at 30") << 30 << 256 << 0;
        QTest::newRow("collapses below") << 1 << 256 << 0;
        QTest::newRow("dragged past the edge") << -20 << 256 << 0;
        QTest::newRow("upper pane keeps 30") << 250 << 256 << 226;
        QTest::newRow("no room for both") << 40 << 50 << 0;
    }
    void lowerPaneSnaps() {
        QFETCH(int, requested);
        QFETCH(int, available);
        QFETCH(int, height);
        QCOMPARE(SnapLowerPaneHeight(requested, available), height);
    }

    void draggingTheSplitter() {
        const int available = form_->Splitter1->AvailableHeight();
        QCOMPARE(form_->Splitter1->LowerPaneHeight(), 65);

        DragHandle(25);  // to 40
        QCOMPARE(form_->lbError->height(), 40);
        DragHandle(10);  // to 30: collapses
        QCOMPARE(form_->Splitter1->LowerPaneHeight(), 0);
        DragHandle(-31);  // out again at its smallest kept height
        QCOMPARE(form_->lbError->height(), 31);
        DragHandle(-1000);  // the item list keeps 30
        QCOMPARE(form_->lvItems->height(), 30);
        QCOMPARE(form_->Splitter1->LowerPaneHeight(), available - 30);
        DragHandle(100, Qt::Key_Escape);
        QCOMPARE(form_->lvItems->height(), 30);
    }
};

std::unique_ptr<QObject> MakeWindowLayoutTest() {
    return std::make_unique<WindowLayoutTest>();
}

#include "WindowLayoutTest.moc"
