#include "gui/read_only_field.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QResizeEvent>
#include <algorithm>

namespace vortan {

ReadOnlyField::ReadOnlyField(Shape shape, QWidget* parent) : QLabel(parent), shape_(shape) {
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  setMargin(3);
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setFocusPolicy(Qt::StrongFocus);
  setWordWrap(shape == Shape::kWrapped);
  setSizePolicy(QSizePolicy::Expanding,
                shape == Shape::kWrapped ? QSizePolicy::Minimum : QSizePolicy::Fixed);
}

void ReadOnlyField::SetFullText(const QString& text) {
  full_ = text;
  setToolTip(text);
  // A wrapped text is shown whole, and QLabel names itself by it; an elided path is not.
  if (shape_ == Shape::kPath) setAccessibleName(text);
  ShowText();
}

void ReadOnlyField::SetPlaceholder(const QString& placeholder) {
  placeholder_ = placeholder;
  ShowText();
}

QString ReadOnlyField::ElidePath(const QString& path, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(path) <= width) return path;
  const QString name = QFileInfo(path).fileName();
  const int nameWidth = metrics.horizontalAdvance(name);
  if (name.isEmpty() || nameWidth >= width) return metrics.elidedText(path, Qt::ElideMiddle, width);
  const QString folder = path.left(path.size() - name.size());
  return metrics.elidedText(folder, Qt::ElideMiddle, width - nameWidth) + name;
}

QSize ReadOnlyField::minimumSizeHint() const {
  // A path may shrink to its elided form; wrapped text grows in height instead.
  if (shape_ == Shape::kWrapped) return QLabel::minimumSizeHint();
  const QSize hint = QLabel::minimumSizeHint();
  return {fontMetrics().averageCharWidth() * 12, hint.height()};
}

void ReadOnlyField::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  if (shape_ == Shape::kPath) ShowText();
}

void ReadOnlyField::ShowText() {
  if (full_.isEmpty()) {
    setText(placeholder_);
    return;
  }
  if (shape_ == Shape::kWrapped) {
    setText(full_);
    return;
  }
  const int width = contentsRect().width() - 2 * margin();
  setText(ElidePath(full_, fontMetrics(), std::max(width, 1)));
}

}  // namespace vortan
