// SPDX-License-Identifier: Apache-2.0
#pragma once
// Every modal dialog of the program runs through ExecModal, so a test of the real window can
// answer alerts and the file panel in place of a user. Production never sets the hook.
#include <QDialog>
#include <functional>

namespace vortan {

using ModalHook = std::function<int(QDialog& dialog)>;

// dialog.exec(), or the hook's answer (a QDialog::DialogCode or a QMessageBox button) when set.
int ExecModal(QDialog& dialog);
// Installs `hook` (empty restores exec) and returns the previous one. Main thread only.
ModalHook SetModalHookForTesting(ModalHook hook);

}  // namespace vortan
