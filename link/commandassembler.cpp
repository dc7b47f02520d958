#include "commandassembler.h"
#include "atresponder.h"

#include <algorithm>
#include <cctype>

QVector<QByteArray> CommandAssembler::feed(const QByteArray &read)
{
    const QByteArray text = m_rest + read;
    m_rest.clear();
    const int end = text.lastIndexOf('\r') + 1;
    const QByteArray rest = text.mid(end);
    const bool blank = std::all_of(rest.cbegin(), rest.cend(), [](char c) { return std::isspace(uchar(c)) != 0; });
    if (rest.size() >= kReadSize || (end == 0 && blank))
        return splitCommands(text); // as it is, with its rest
    if (!blank)
        m_rest = rest;
    if (end == 0)
        return {};
    return splitCommands(text.left(end));
}
