#include "agreplies.h"

#include <QRegularExpression>

namespace platform::sim::agreplies {

namespace {
QString listed(const QStringList &info)
{
    return QStringLiteral("[%1]").arg(info.join(QStringLiteral(", ")));
}
} // namespace

std::optional<int> features(const QStringList &info, QString *error)
{
    static const QRegularExpression line(QStringLiteral("^\\+BRSF: ?(\\d+)$"));
    const auto m = info.size() == 1 ? line.match(info.first()) : QRegularExpressionMatch();
    if (!m.hasMatch()) {
        *error = QStringLiteral("AT+BRSF: expected one \"+BRSF: <features>\" line, got %1").arg(listed(info));
        return std::nullopt;
    }
    return m.captured(1).toInt();
}

std::optional<QVector<int>> indicatorRanges(const QStringList &info, QString *error)
{
    static const QRegularExpression group(QStringLiteral("\\(\"([a-z]+)\",\\((\\d+)[-,](\\d+)\\)\\)"));
    QVector<int> maxima;
    QStringList names;
    if (info.size() == 1 && info.first().startsWith(QLatin1String("+CIND:"))) {
        auto it = group.globalMatch(info.first());
        while (it.hasNext()) {
            const auto m = it.next();
            names << m.captured(1);
            maxima << m.captured(3).toInt();
        }
    }
    if (!names.contains(QLatin1String("service")) || !names.contains(QLatin1String("call"))) {
        *error = QStringLiteral("AT+CIND=?: malformed indicator list %1").arg(listed(info));
        return std::nullopt;
    }
    return maxima;
}

bool indicatorValuesFit(const QStringList &info, const QVector<int> &maxima, QString *error)
{
    static const QRegularExpression line(QStringLiteral("^\\+CIND: ?(\\d+(,\\d+)*)$"));
    const auto m = info.size() == 1 ? line.match(info.first()) : QRegularExpressionMatch();
    const QStringList values = m.hasMatch() ? m.captured(1).split(QLatin1Char(',')) : QStringList();
    bool fit = values.size() == maxima.size();
    for (int i = 0; fit && i < values.size(); ++i)
        fit = values[i].toInt() <= maxima[i];
    if (!fit)
        *error = QStringLiteral("AT+CIND?: values %1 do not match the %2 indicators listed")
                     .arg(listed(info)).arg(maxima.size());
    return fit;
}

std::optional<bool> supportsBattery(const QStringList &info, QString *error)
{
    static const QRegularExpression line(QStringLiteral("^\\+BIND: ?\\(([\\d,]+)\\)$"));
    const auto m = info.size() == 1 ? line.match(info.first()) : QRegularExpressionMatch();
    if (!m.hasMatch()) {
        *error = QStringLiteral("AT+BIND=?: expected \"+BIND: (<indicators>)\", got %1").arg(listed(info));
        return std::nullopt;
    }
    return m.captured(1).split(QLatin1Char(',')).contains(QLatin1String("2"));
}

std::optional<bool> batteryEnabled(const QStringList &info, QString *error)
{
    static const QRegularExpression line(QStringLiteral("^\\+BIND: ?(\\d+), ?([01])$"));
    bool enabled = false;
    for (const QString &text : info) {
        const auto m = line.match(text);
        if (!m.hasMatch()) {
            *error = QStringLiteral("AT+BIND?: malformed line \"%1\"").arg(text);
            return std::nullopt;
        }
        if (m.captured(1) == QLatin1String("2"))
            enabled = m.captured(2) == QLatin1String("1");
    }
    return enabled;
}

} // namespace platform::sim::agreplies
