#include "messagesink.h"

#include <QMessageBox>

void MessageBoxSink::information(const QString &title, const QString &text)
{
    QMessageBox::information(nullptr, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}
