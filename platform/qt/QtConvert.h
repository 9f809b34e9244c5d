// Conversions between the toolkit-neutral types and Qt's.
#pragma once

#include "platform/vcl/Graphics.h"

#include <QColor>
#include <QFont>
#include <QKeyEvent>
#include <QString>

namespace torvoqt {

inline QColor ToQColor(vcl::TColor c)
{
    vcl::TColor rgb = vcl::ColorToRGB(c);
    return QColor(vcl::GetRValue(rgb), vcl::GetGValue(rgb), vcl::GetBValue(rgb));
}

inline QFont ToQFont(const vcl::TFont& f)
{
    QFont font(QString::fromStdString(f.Name));
    font.setPointSize(std::max(1, f.Size));
    font.setBold(f.Style & vcl::fsBold);
    font.setItalic(f.Style & vcl::fsItalic);
    font.setUnderline(f.Style & vcl::fsUnderline);
    font.setStrikeOut(f.Style & vcl::fsStrikeOut);
    return font;
}

inline QString ToQ(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
inline std::string FromQ(const QString& s)
{
    return s.toUtf8().toStdString();
}
// Qt marks accelerators with "&" too, so captions pass as they are.

inline vcl::TShiftState ShiftOf(Qt::KeyboardModifiers m)
{
    vcl::TShiftState s = 0;
    if (m & Qt::ShiftModifier)
        s |= vcl::ssShift;
    if (m & Qt::ControlModifier)
        s |= vcl::ssCtrl;
    if (m & Qt::AltModifier)
        s |= vcl::ssAlt;
    return s;
}

// The virtual key of a Qt key; 0 for keys the library does not know.
WORD VirtualKey(int qtKey);

}  // namespace torvoqt
