// The window's test suites; the test program runs the one named on its
// command line.
#pragma once

#include <QObject>

#include <memory>

std::unique_ptr<QObject> MakeWindowLayoutTest();
std::unique_ptr<QObject> MakeOpenCommandTest();
std::unique_ptr<QObject> MakeExportCommandTest();
std::unique_ptr<QObject> MakeApplicationHandlerTest();
std::unique_ptr<QObject> MakeFolderPickerTest();
std::unique_ptr<QObject> MakeKeyboardTest();
