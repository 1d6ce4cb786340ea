// SPDX-License-Identifier: Apache-2.0
#pragma once
// The application delegate's alerts and error presentation as Qt message boxes.
#include <QWidget>

#include "app/app_delegate.h"

namespace vortan {

class QtDelegateUi final : public DelegateUi {
 public:
  // `window` parents the alerts and is the window brought back on reopen.
  explicit QtDelegateUi(QWidget* window) : window_(window) {}

  // Store errors offer no recovery, so none is ever reported as resolved.
  bool PresentError(const StoreError& error) override;
  bool AskQuitAnyway(const std::string& message, const std::string& informativeText,
                     const std::string& quitButton, const std::string& cancelButton) override;
  void ShowWarning(const std::string& message, const std::string& informativeText) override;
  std::string Localized(const std::string& text) override;
  void BringWindowToFront() override;

 private:
  QWidget* window_;
};

}  // namespace vortan
