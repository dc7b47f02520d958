#pragma once

#include "app/messagesink.h"

#include <QPair>
#include <QStringList>

// Records the information boxes the program would have shown.
class RecordingSink : public MessageSink
{
public:
    void information(const QString &title, const QString &text) override { boxes.append({title, text}); }
    QStringList titles() const
    {
        QStringList out;
        for (const auto &box : boxes)
            out << box.first;
        return out;
    }
    QList<QPair<QString, QString>> boxes;
};
