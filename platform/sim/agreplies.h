#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace platform::sim {

// How a hands-free unit reads the information lines of the audio gateway's
// replies during the service level connection. Each function returns nothing
// and says in *error what is wrong when the reply is not as the HF expects.
namespace agreplies {

// "+BRSF: <features>" -> the AG's supported features.
std::optional<int> features(const QStringList &info, QString *error);

// "+CIND: (\"service\",(0,1)),..." -> the highest value of each indicator.
std::optional<QVector<int>> indicatorRanges(const QStringList &info, QString *error);

// "+CIND: 0,0,..." -> true when there is one value per indicator, each in range.
bool indicatorValuesFit(const QStringList &info, const QVector<int> &maxima, QString *error);

// "+BIND: (2)" -> whether the AG supports the battery indicator (2).
std::optional<bool> supportsBattery(const QStringList &info, QString *error);

// "+BIND: 2, 1" lines -> whether the battery indicator is enabled.
std::optional<bool> batteryEnabled(const QStringList &info, QString *error);

} // namespace agreplies
} // namespace platform::sim
