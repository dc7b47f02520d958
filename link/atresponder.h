#pragma once

#include "atreply.h"

#include <QByteArray>

// The noise-reduction notice written to standard output when a headset
// sends AT+NREC.
extern const char kNoiseReductionNotice[];

// Decides the audio gateway's reply to the whole text of one read. Pure: the
// same text always gives the same reply.
AtReply answerCommand(const QByteArray &received);
