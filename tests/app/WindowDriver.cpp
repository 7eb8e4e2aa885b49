#include "WindowDriver.h"

#include <QFile>
#include <QListWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "app/StatusBar.h"
#include "ModalScript.h"

using vexmor::TfrmMainForm;

std::unique_ptr<TfrmMainForm> ShowMainForm(std::shared_ptr<StorageTrace> trace) {
    auto form = std::make_unique<TfrmMainForm>(TracingFactory(std::move(trace)));
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        QTest::qFail("the main window was not shown", __FILE__, __LINE__);
    return form;
}

std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool OpenDirectly(TfrmMainForm& form, const QString& path) {
    const int errors = form.lbError->count();
    form.OpenFile(PathBytes(path));
    return !form.Extractor->FileName().empty() && form.lbError->count() == errors;
}

bool OpenThroughDialog(TfrmMainForm& form, const QString& path) {
    ModalScript script({[&](QWidget* modal) { TypeAndAccept(modal, path); }});
    form.tbOpen->click();
    return script.AllStepsRan() && script.Unexpected() == 0;
}

QStringList ItemRows(const TfrmMainForm& form) {
    QStringList rows;
    for (int i = 0; i < form.lvItems->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = form.lvItems->topLevelItem(i);
        rows.append(row->text(0) + u'\t' + row->text(1));
    }
    return rows;
}

QStringList ErrorRows(const TfrmMainForm& form) {
    QStringList rows;
    for (int i = 0; i < form.lbError->count(); ++i)
        rows.append(form.lbError->item(i)->text());
    return rows;
}

QString StatusText(const TfrmMainForm& form) {
    return form.sbStatus->SimpleText();
}
