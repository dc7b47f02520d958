#pragma once

#include "atreply.h"

#include <QByteArray>
#include <QVector>

// The noise-reduction notice written to standard output when a headset
// sends AT+NREC.
extern const char kNoiseReductionNotice[];

// Decides the audio gateway's reply to one text. Pure: the same text always
// gives the same reply.
AtReply answerCommand(const QByteArray &received);

// The texts of one read that get a reply each, in order. A headset may
// write its next command before the previous answer has arrived, so one read
// can hold several commands: each piece ended by CR (and an unterminated
// rest) is one, pieces of only white space are left out. A read holding
// fewer than two commands is answered whole, as one text.
QVector<QByteArray> splitCommands(const QByteArray &received);
