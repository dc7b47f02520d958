#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <algorithm>

// Items of a window by object name, through the visual tree (list delegates
// have no QObject parent).
inline void collectItems(QQuickItem *item, const QString &name, QList<QQuickItem *> &out)
{
    for (QQuickItem *child : item->childItems()) {
        if (child->objectName() == name)
            out << child;
        collectItems(child, name, out);
    }
}

inline QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> out;
    collectItems(root, name, out);
    return out.value(0);
}

// The device cards from top to bottom.
inline QList<QQuickItem *> deviceCards(QQuickWindow *window)
{
    QList<QQuickItem *> out;
    collectItems(window->contentItem(), "deviceItem", out);
    std::sort(out.begin(), out.end(), [](QQuickItem *a, QQuickItem *b) { return a->mapToScene({}).y() < b->mapToScene({}).y(); });
    return out;
}

inline void clickItem(QQuickWindow *window, QQuickItem *item)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}
