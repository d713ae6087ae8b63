#pragma once
// Small helpers for building forms: the window font and named controls.

#include <QFont>
#include <QString>
#include <QWidget>

// Tahoma with a character height in pixels; fontconfig substitutes where it is missing.
inline QFont TahomaPx(int pixels)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixels);
    return font;
}

// Gives a new control the objectName by which tests and the batches find it.
template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// What a screen reader calls a control that has no caption of its own: the
// caption of the label or group beside it, in the words the user sees.
template <typename T>
T* Spoken(T* widget, const QString& name)
{
    widget->setAccessibleName(name);
    return widget;
}
