// SPDX-License-Identifier: Apache-2.0
#pragma once
// Roles assistive technology needs beyond Qt's defaults: the main window is a frame (a plain
// top-level widget is exposed as a filler), a wrapped field is a read-only text field (named by
// its label or its given name, never by its text), and every message box is an alert marked
// modal while it is, named by its title (the caption) as Qt names it.
namespace vortan {

// Installs the accessibility factory once; call it after the QApplication exists.
void InstallAccessibleRoles();

}  // namespace vortan
