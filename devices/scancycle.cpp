#include "scancycle.h"
#include "enumeration.h"

#include <QSet>

#include <algorithm>

bool profileFlag(const QJsonObject &profiles, const QString &deviceId, const QString &key)
{
    const QJsonValue entry = profiles.value(deviceId);
    if (!entry.isObject())
        return false;
    const QJsonValue flag = entry.toObject().value(key);
    return flag.isBool() && flag.toBool();
}

QVector<ScanStep> reconcileScan(const QJsonArray &records, const QJsonObject &profiles,
                                QMap<QString, QDateTime> &lastSeen, const QDateTime &now,
                                const std::function<bool(const QString &)> &hasLiveLink,
                                KnownLevels &known, LinkBackoff &backoff)
{
    QVector<ScanStep> steps;
    QSet<QString> listed;
    QSet<QString> started; // links this cycle starts count as live at once
    for (const QJsonValue &value : records) {
        const QJsonObject record = value.toObject();
        const bool connected = record.value("Status").toBool(false);
        const QJsonArray services = record.value("Services").toArray();
        const QString id = record.value("Id").toString();
        const QString name = record.value("Name").toString();
        const QString heldBy = record.value("HandsFreeHeld").toString();

        if (!lastSeen.contains(id))
            steps.append({ScanStep::Register, record, id, name, {}, {}, false});
        lastSeen.insert(id, now);
        listed.insert(id);
        backoff.noteConnected(id, connected);

        // While a link of ours runs, its reports are the row's level.
        const bool live = hasLiveLink(id);
        const int level = live ? -1 : record.value("Battery").toInt(-1);
        if (live) {
            known.shown.remove(id);
        } else if (level != known.shown.value(id, -1)) {
            steps.append({ScanStep::Level, {}, id, name, {}, {}, false, level});
            if (level >= 0)
                known.shown.insert(id, level);
            else
                known.shown.remove(id);
        }
        const bool fromSystem = level >= 0 && profileFlag(profiles, id, "listen");
        if (fromSystem && !known.linked.contains(id)) {
            known.linked.insert(id);
            if (profileFlag(profiles, id, "tray"))
                steps.append({ScanStep::ShowTray, {}, id, name, {}, {}, false, level});
        } else if (!fromSystem) {
            known.linked.remove(id);
        }
        const auto handsFree = std::find_if(services.begin(), services.end(), [](const QJsonValue &s) {
            return s.toObject().value("ServiceId").toString() == QLatin1String(kHandsFreeServiceId);
        });
        const bool advise = !fromSystem && !heldBy.isEmpty() && handsFree != services.end()
            && profileFlag(profiles, id, "listen");
        if (advise != known.advised.contains(id)) {
            steps.append({ScanStep::Advice, {}, id, advise ? heldBy : QString(), {}, {}, false});
            if (advise)
                known.advised.insert(id);
            else
                known.advised.remove(id);
        }
        if (fromSystem)
            continue; // its level comes without taking the hands-free channel

        if ((!connected || !heldBy.isEmpty()) && live) {
            steps.append({ScanStep::StopLink, {}, id, name, {}, {}, false});
            continue;
        }
        if (!connected || !heldBy.isEmpty() || !profileFlag(profiles, id, "listen") || started.contains(id)
            || live || handsFree == services.end() || !backoff.mayStart(id, now))
            continue;
        const QJsonObject service = handsFree->toObject();
        steps.append({ScanStep::StartLink, {}, id, name, service.value("ConnectionHostName").toString(),
                      service.value("ConnectionServiceName").toString(), profileFlag(profiles, id, "tray")});
        started.insert(id);
        backoff.started(id, now);
    }

    // Keys come out in ascending order. A device reported gone is forgotten,
    // so that it is registered to the window again if it comes back.
    for (auto it = lastSeen.begin(); it != lastSeen.end();) {
        if (listed.contains(it.key())) {
            ++it;
            continue;
        }
        if (hasLiveLink(it.key()))
            steps.append({ScanStep::StopLink, {}, it.key(), {}, {}, {}, false});
        known.shown.remove(it.key());
        known.linked.remove(it.key());
        known.advised.remove(it.key());
        backoff.forget(it.key());
        steps.append({ScanStep::Unregister, {}, it.key(), {}, {}, {}, false});
        it = lastSeen.erase(it);
    }
    return steps;
}

QVector<ProfileAction> reconcileProfiles(const QJsonObject &before, const QJsonObject &after,
                                         const QStringList &linked)
{
    // The linked devices first, then every other device named in either map.
    QStringList ids = linked;
    for (const QJsonObject *map : {&before, &after})
        for (auto it = map->begin(); it != map->end(); ++it)
            if (!ids.contains(it.key()))
                ids << it.key();

    QVector<ProfileAction> actions;
    for (const QString &id : qAsConst(ids)) {
        const bool isLinked = linked.contains(id);
        if (!profileFlag(after, id, "listen") && (isLinked || profileFlag(before, id, "listen"))) {
            actions.append({ProfileAction::StopLink, id});
            continue;
        }
        const bool trayBefore = profileFlag(before, id, "tray");
        const bool trayAfter = profileFlag(after, id, "tray");
        if (trayBefore && !trayAfter)
            actions.append({ProfileAction::HideTray, id});
        else if (!trayBefore && trayAfter && isLinked)
            actions.append({ProfileAction::ShowTray, id});
    }
    return actions;
}
