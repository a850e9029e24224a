// The save dialog and the message boxes as Qt makes them, for the interfaces and their tests.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace kestrova::platform::qt {

// "Flash File|*.swf|All|*.*;*" -> {"Flash File (*.swf)", "All (*.* *)"}. A description without
// a pattern is dropped.
QStringList NameFilters(const std::string& filter);

// The save dialog of the options, not yet shown: it asks before nothing (a file picked that
// exists is replaced, as the recorder expects), adds the default extension to a name typed
// without one, and is Qt's own dialog so it looks the same on every desktop.
std::unique_ptr<QFileDialog> MakeSaveDialog(const TSaveDialogOptions& options);

// The message box of the flags (kMb... buttons and icon), not yet shown.
std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption,
                                            std::uint32_t flags);
// The kId... value of the button a message box was closed with.
int MessageBoxResult(const QMessageBox& box);

}  // namespace kestrova::platform::qt
