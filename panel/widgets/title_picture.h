// The picture beside the title edit: how five characters of a title appear on
// the camera's screen. Drawn here, 97 x 166, black on grey 191: one line per
// character, the character in single quotes, "==>" and its shape.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

namespace zp {

class TTitlePicture : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 97;
    static constexpr int kHeight = 166;
    static constexpr int kLines = 5;

    explicit TTitlePicture(QWidget* parent = nullptr);

    // The picture itself, at its own size.
    static QImage Picture();
    // Where the shape of line 0 ... 4 is drawn.
    static QRect ShapeRect(int line);

    QSize sizeHint() const override { return {kWidth, kHeight}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace zp
