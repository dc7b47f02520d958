#pragma once

#include <QByteArray>
#include <QVector>

// Joins a headset's reads into whole commands. A headset may send one
// command in two RFCOMM frames ("AT+BIEV=2," and then "57\r"): the text after
// a read's last CR is kept and put in front of the next read. A rest as long
// as a whole read is not kept but answered as it is, so a headset that never
// ends its commands is still answered, read by read. Pure: no threads.
class CommandAssembler
{
public:
    static constexpr int kReadSize = 1024;

    // The texts of this read to answer, in order (see splitCommands); none
    // while the read only began a command.
    QVector<QByteArray> feed(const QByteArray &read);
    // The unterminated text kept for the next read.
    const QByteArray &rest() const { return m_rest; }

private:
    QByteArray m_rest;
};
