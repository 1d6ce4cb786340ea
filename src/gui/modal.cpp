// SPDX-License-Identifier: Apache-2.0
#include "gui/modal.h"

namespace vortan {
namespace {
ModalHook& Hook() {
  static ModalHook hook;
  return hook;
}
}  // namespace

int ExecModal(QDialog& dialog) {
  return Hook() ? Hook()(dialog) : dialog.exec();
}

ModalHook SetModalHookForTesting(ModalHook hook) {
  ModalHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

}  // namespace vortan
