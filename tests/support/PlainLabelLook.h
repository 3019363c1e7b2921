#pragma once
// Compares a label that draws its caption itself with what a plain QLabel of the same style
// sheet rule, geometry and alignment shows for the same captions, enabled and disabled.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QString>

#include "app/Controls.h"

namespace trimora::test {

inline void ExpectLooksLikeAPlainLabel(SkinLabel& label) {
    QLabel plain(label.parentWidget());
    plain.setObjectName(label.objectName());  // the same style sheet rule
    plain.setGeometry(label.geometry());
    plain.setAlignment(label.alignment());
    plain.show();
    QCoreApplication::processEvents();
    const bool wasEnabled = label.isEnabled();
    const QString caption = label.Caption();
    for (const bool enabled : {true, false}) {
        for (const QString& text : {QString("Mark 1#: 101\rMark 2#: 600\rActive mark ~2"), QString("one line"),
                                    QString("a\r\rthird line after an empty one"), QString()}) {
            SCOPED_TRACE(text.toStdString() + (enabled ? "" : ", disabled"));
            label.setEnabled(enabled);
            plain.setEnabled(enabled);
            label.SetCaption(text);
            plain.setText(label.text());
            const QImage ours = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QImage theirs = plain.grab().toImage().convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(ours, theirs);
        }
    }
    label.setEnabled(wasEnabled);
    label.SetCaption(caption);
}

}  // namespace trimora::test
