#include "gui/accessible_roles.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMessageBox>

#include "gui/qt_main_window_view.h"

namespace vortan {
namespace {

// A message box as an alert, marked modal when it is.
class AlertAccessible final : public QAccessibleWidget {
 public:
  explicit AlertAccessible(QMessageBox* box) : QAccessibleWidget(box, QAccessible::AlertMessage) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.modal = widget()->isModal() || widget()->windowModality() != Qt::NonModal;
    return state;
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
