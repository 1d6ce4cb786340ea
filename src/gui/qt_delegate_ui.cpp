// SPDX-License-Identifier: Apache-2.0
#include "gui/qt_delegate_ui.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "gui/modal.h"
#include "gui/qt_main_window_view.h"

namespace vortan {
namespace {
QString ToQ(const std::string& text) {
  return QString::fromStdString(text);
}
}  // namespace

bool QtDelegateUi::PresentError(const StoreError& error) {
  QMessageBox box(window_);
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(window_ ? window_->windowTitle() : QString());
  box.setText(ToQ(error.description));
  box.setInformativeText(ToQ(error.failureReason));
  box.setDetailedText(QStringLiteral("%1 %2").arg(ToQ(error.domain)).arg(error.code));
  box.setStandardButtons(QMessageBox::Ok);
  ExecModal(box);
  return false;
}

bool QtDelegateUi::AskQuitAnyway(const std::string& message, const std::string& informativeText,
                                 const std::string& quitButton, const std::string& cancelButton) {
  QMessageBox box(window_);
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(window_ ? window_->windowTitle() : QString());
  box.setText(ToQ(message));
  box.setInformativeText(ToQ(informativeText));
  QPushButton* quit = box.addButton(ToQ(quitButton), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(ToQ(cancelButton), QMessageBox::RejectRole);
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  ExecModal(box);
  return box.clickedButton() == quit;
}

void QtDelegateUi::ShowWarning(const std::string& message, const std::string& informativeText) {
  QMessageBox box(window_);
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(window_ ? window_->windowTitle() : QString());
  box.setText(ToQ(message));
  box.setInformativeText(ToQ(informativeText));
  box.setStandardButtons(QMessageBox::Ok);
  // Every warning of the delegate says that an update is running; it goes when the run ends.
  if (auto* view = dynamic_cast<QtMainWindowView*>(window_)) view->CloseWhenRunEnds(&box);
  ExecModal(box);
}

std::string QtDelegateUi::Localized(const std::string& text) {
  return QCoreApplication::translate("AppDelegate", text.c_str()).toStdString();
}

void QtDelegateUi::BringWindowToFront() {
  if (!window_) return;
  // Restored from the task bar but left maximized if it was.
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace vortan
