#pragma once

#include <QString>

// Where the program's information boxes go. The program shows a real modal
// box; tests record which box would have appeared.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void information(const QString &title, const QString &text) = 0;
};

// QMessageBox::information with no parent, one OK button and no default button.
class MessageBoxSink : public MessageSink
{
public:
    void information(const QString &title, const QString &text) override;
};
