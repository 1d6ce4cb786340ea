#include "gui/accessible_roles.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMessageBox>

#include "gui/qt_main_window_view.h"

namespace vortan {
namespace {

// A message box as an alert: modal while shown, named by its message.
class AlertAccessible final : public QAccessibleWidget {
 public:
  explicit AlertAccessible(QMessageBox* box) : QAccessibleWidget(box, QAccessible::AlertMessage) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.modal = widget()->isModal() || widget()->windowModality() != Qt::NonModal;
    return state;
  }
  QString text(QAccessible::Text kind) const override {
    const auto* box = static_cast<const QMessageBox*>(widget());
    if (kind == QAccessible::Name && box->accessibleName().isEmpty()) return box->text();
    if (kind == QAccessible::Description && box->accessibleDescription().isEmpty()) {
      return box->informativeText();
    }
    return QAccessibleWidget::text(kind);
  }
};

QAccessibleInterface* MakeAccessible(const QString& /*className*/, QObject* object) {
  if (auto* view = dynamic_cast<QtMainWindowView*>(object)) {
    return new QAccessibleWidget(view, QAccessible::Window);
  }
  if (auto* box = qobject_cast<QMessageBox*>(object)) return new AlertAccessible(box);
  return nullptr;
}

}  // namespace

void InstallAccessibleRoles() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(MakeAccessible);
}

}  // namespace vortan
