#pragma once
// A read-only text field that never hides what matters: it takes focus by Tab (so keyboard and
// screen-reader users reach it), and its accessible name is its whole text, so a change is
// announced as a name change (the label that names it is its buddy). Either wraps its text onto
// as many lines as it needs, or shows a path on one line elided in the middle, keeping the file
// name (the accessible name keeps the whole path).
#include <QLabel>
#include <QString>

class QFontMetrics;

namespace vortan {

class ReadOnlyField final : public QLabel {
 public:
  enum class Shape { kWrapped, kPath };
  ReadOnlyField(Shape shape, QWidget* parent);

  // Shows `text` whole (wrapped) or elided to the width (path); an empty text shows
  // `placeholder`.
  void SetFullText(const QString& text);
  const QString& FullText() const { return full_; }
  void SetPlaceholder(const QString& placeholder);

  // `path` fitted into `width` pixels: whole when it fits, else its folder elided in the middle
  // before the whole file name, else the file name elided in the middle (keeping ".dat").
  static QString ElidePath(const QString& path, const QFontMetrics& metrics, int width);

  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowText();

  Shape shape_;
  QString full_;
  QString placeholder_;
};

}  // namespace vortan
