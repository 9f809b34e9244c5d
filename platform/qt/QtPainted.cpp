#include "platform/qt/QtPainted.h"

#include "platform/qt/QtConvert.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace torvoqt {

using namespace vcl;

namespace {

// Draws on a QImage whose pixels are the device's pixels: coordinates are logical, so owner
// drawing is the same at any scale, and pixels read back are those of the logical point.
class QtDevice : public TCanvasDevice {
public:
    explicit QtDevice(QImage& image) : image_(image), ratio_(image.devicePixelRatio()), painter_(&image_) {}
    int DeviceWidth() const override { return int(image_.width() / ratio_); }
    int DeviceHeight() const override { return int(image_.height() / ratio_); }
    void FillRect(const TRect& r, TColor rgb) override
    {
        painter_.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(rgb));
    }
    void DrawText(int x, int y, const std::string& text, const TFont& font, TColor rgb, const TRect& clip) override
    {
        painter_.save();
        painter_.setClipRect(QRect(clip.Left, clip.Top, clip.Width(), clip.Height()));
        painter_.setFont(ToQFont(font));
        painter_.setPen(ToQColor(rgb));
        painter_.drawText(QPoint(x, y + painter_.fontMetrics().ascent()), ToQ(text));
        painter_.restore();
    }
    TSize TextExtent(const std::string& text, const TFont& font) override
    {
        QFontMetrics metrics(ToQFont(font));
        return TSize{metrics.horizontalAdvance(ToQ(text)), metrics.height()};
    }
    TColor GetPixel(int x, int y) override
    {
        QPoint p = Physical(x, y);
        if (!image_.rect().contains(p))
            return clNone;
        QRgb c = image_.pixel(p);
        return RGB(qRed(c), qGreen(c), qBlue(c));
    }
    void SetPixel(int x, int y, TColor rgb) override
    {
        // One logical pixel covers the device pixels up to the next logical one.
        QPoint from = Physical(x, y), to = Physical(x + 1, y + 1);
        QRgb c = qRgb(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
        for (int py = std::max(0, from.y()); py < std::min(to.y(), image_.height()); ++py)
            for (int px = std::max(0, from.x()); px < std::min(to.x(), image_.width()); ++px)
                image_.setPixel(px, py, c);
    }

private:
    QPoint Physical(int x, int y) const { return QPoint(int(std::floor(x * ratio_)), int(std::floor(y * ratio_))); }
    QImage& image_;
    qreal ratio_;
    QPainter painter_;
};

TMouseButton Button(QMouseEvent* e)
{
    return e->button() == Qt::RightButton ? mbRight : e->button() == Qt::MiddleButton ? mbMiddle : mbLeft;
}

}  // namespace

PaintedWidget::PaintedWidget(TControl* ownerControl, QWidget* parent) : QWidget(parent), control(ownerControl)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PaintedWidget::paintEvent(QPaintEvent*)
{
    if (!control)
        return;
    const qreal ratio = devicePixelRatioF();
    QImage image(QSize(int(std::ceil(width() * ratio)), int(std::ceil(height() * ratio))), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(ToQColor(control->Color));
    {
        QtDevice device(image);
        SafeCall([&] { control->PaintOn(&device, {0, 0}, Rect(0, 0, width(), height())); });
    }
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), image);
    // Buttons mark their own focus; every other focused control gets a frame in the highlight
    // colour, strong enough to be found at a glance after Tab.
    if (hasFocus() && !dynamic_cast<TButton*>(control) && control->Kind() != ckForm) {
        QPen pen(palette().color(QPalette::Highlight), 2, Qt::SolidLine);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

void PaintedWidget::mousePressEvent(QMouseEvent* e)
{
    if (control)
        SafeCall([&] { control->MouseDown(Button(e), ShiftOf(e->modifiers()), e->position().x(), e->position().y()); });
}

void PaintedWidget::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (control)
        SafeCall([&] {
            control->MouseDown(Button(e), ShiftOf(e->modifiers()) | ssDouble, e->position().x(), e->position().y());
        });
}

void PaintedWidget::mouseReleaseEvent(QMouseEvent* e)
{
    if (control)
        SafeCall([&] { control->MouseUp(Button(e), ShiftOf(e->modifiers()), e->position().x(), e->position().y()); });
}

void PaintedWidget::mouseMoveEvent(QMouseEvent* e)
{
    if (control)
        SafeCall([&] { control->MouseMove(ShiftOf(e->modifiers()), e->position().x(), e->position().y()); });
}

}  // namespace torvoqt
