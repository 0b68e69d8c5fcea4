// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractSpinBox>
#include <QLayout>
#include <QMetaMethod>
#include <QStringList>
#include <QTest>

// The items of a layout in order: widgets and nested layouts by object name,
// spacers as "spacer". Comparing these lists checks both the names and the
// order in which the form lays things out.
inline QStringList itemNames(const QLayout *layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget())
            names << item->widget()->objectName();
        else if (item->layout())
            names << item->layout()->objectName();
        else if (item->spacerItem())
            names << QStringLiteral("spacer");
    }
    return names;
}

// All spacers below a layout, nested layouts included.
inline QList<QSpacerItem *> spacersIn(QLayout *layout)
{
    QList<QSpacerItem *> spacers;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->spacerItem())
            spacers << item->spacerItem();
        else if (item->layout())
            spacers << spacersIn(item->layout());
    }
    return spacers;
}

// Replaces a spin box's contents the way a user does: select all, then type.
// Keyboard tracking is on, so every keystroke that forms a valid number
// changes the value.
inline void typeInto(QAbstractSpinBox *box, const QString &text)
{
    box->selectAll();
    QTest::keyClicks(box, text);
}

// The methods a class declares itself, in meta-object order: private slots
// by signature, anything else marked as such so that it cannot pass for one.
inline QStringList ownPrivateSlots(const QMetaObject &meta)
{
    QStringList signatures;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        const QString signature = QString::fromLatin1(method.methodSignature());
        const bool privateSlot =
            method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Private;
        signatures << (privateSlot ? signature
                                   : QStringLiteral("not a private slot: ") + signature);
    }
    return signatures;
}
