// Starting the real main window and working it as a user would.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

#include "app/uMainFrm.h"
#include "TracedStorage.h"

// The window on screen, with its storage traced into `trace`.
std::unique_ptr<vexmor::TfrmMainForm> ShowMainForm(std::shared_ptr<StorageTrace> trace);

// The path as the bytes the file system takes.
std::string PathBytes(const QString& path);

// Opens `path` as the Open command does once its dialog is answered. False
// when the file is not open or a failure row was added.
bool OpenDirectly(vexmor::TfrmMainForm& form, const QString& path);

// Clicks Open and types `path` into the dialog. False when the dialog did
// not run as expected.
bool OpenThroughDialog(vexmor::TfrmMainForm& form, const QString& path);

// Rows of the item list as "item<TAB>size".
QStringList ItemRows(const vexmor::TfrmMainForm& form);
QStringList ErrorRows(const vexmor::TfrmMainForm& form);
QString StatusText(const vexmor::TfrmMainForm& form);
