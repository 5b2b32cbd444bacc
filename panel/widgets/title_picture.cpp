#include "panel/widgets/title_picture.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace zp {

namespace {

enum class Shape { Circle, Square, TriangleLeft, TriangleRight, Star };

struct Line {
    char character;
    Shape shape;
};

// Left brace, right brace, less-than, greater-than, vertical bar.
constexpr Line kLineTable[TTitlePicture::kLines] = {
    {'{', Shape::Circle},        {'}', Shape::Square}, {'<', Shape::TriangleLeft},
    {'>', Shape::TriangleRight}, {'|', Shape::Star},
};

constexpr int kLineHeight = TTitlePicture::kHeight / TTitlePicture::kLines;  // 33
constexpr int kShapeSize = 17;
constexpr int kShapeLeft = 72;
constexpr double kPi = 3.14159265358979323846;

QPolygonF StarPolygon(const QRectF& box) {
    // As tall as the box: the top arm touches its top, the lower two its bottom.
    const double outer = box.height() / (1.0 + std::cos(kPi / 5.0));
    const QPointF centre(box.center().x(), box.top() + outer);
    // The inner radius that puts opposite arms' edges on one straight line.
    const double inner = outer * 0.381966;
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double angle = -kPi / 2.0 + i * kPi / 5.0;
        const double r = i % 2 == 0 ? outer : inner;
        star << QPointF(centre.x() + r * std::cos(angle), centre.y() + r * std::sin(angle));
    }
    return star;
}

void DrawShape(QPainter& p, Shape shape, const QRectF& box) {
    const double top = box.top();
    const double bottom = box.bottom();
    const double midY = box.center().y();
    switch (shape) {
        case Shape::Circle:
            p.drawEllipse(box);
            break;
        case Shape::Square:
            p.drawRect(box);
            break;
        case Shape::TriangleLeft:
            p.drawPolygon(QPolygonF({QPointF(box.left(), midY), QPointF(box.right(), top),
                                     QPointF(box.right(), bottom)}));
            break;
        case Shape::TriangleRight:
            p.drawPolygon(QPolygonF({QPointF(box.right(), midY), QPointF(box.left(), top),
                                     QPointF(box.left(), bottom)}));
            break;
        case Shape::Star:
            p.drawPolygon(StarPolygon(box));
            break;
    }
}

}  // namespace

TTitlePicture::TTitlePicture(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, kHeight);
    setAccessibleName(tr("Special characters"));
    setAccessibleDescription(
        tr("'{' shows as a filled circle, '}' as a filled square, '<' as a triangle pointing "
           "left, '>' as a triangle pointing right, '|' as a five-pointed star."));
}

QRect TTitlePicture::ShapeRect(int line) {
    const int top = line * kLineHeight + (kLineHeight - kShapeSize) / 2 + 1;
    return {kShapeLeft, top, kShapeSize, kShapeSize};
}

QImage TTitlePicture::Picture() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(QColor(191, 191, 191));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(14);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::black);
    for (int i = 0; i < kLines; ++i) {
        // The arrows line up however wide the character is.
        const QRect textBox(4, i * kLineHeight + 1, kShapeLeft - 10, kLineHeight);
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("'%1'").arg(QLatin1Char(kLineTable[i].character)));
        p.drawText(textBox, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("==>"));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        DrawShape(p, kLineTable[i].shape, QRectF(ShapeRect(i)));
    }
    return image;
}

void TTitlePicture::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.drawImage(0, 0, Picture());
}

}  // namespace zp
