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

void setProfileEntry(QJsonObject &profiles, const QString &deviceId, const QString &key, const QVariant &value)
{
    const QJsonValue entry = profiles.value(deviceId);
    QJsonObject profile = (entry.isNull() || entry.isUndefined()) ? QJsonObject() : entry.toObject();
    profile.insert(key, value.toJsonValue());
    profiles.insert(deviceId, profile);
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
        known.names.insert(id, name);
        const bool fromSystem = level >= 0;
        if (fromSystem && !known.fromSystem.contains(id)) {
            known.fromSystem.insert(id);
            if (profileFlag(profiles, id, "tray"))
                steps.append({ScanStep::ShowTray, {}, id, name, {}, {}, false, level});
        } else if (!fromSystem) {
            known.fromSystem.remove(id);
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
        // Its level goes with it: a later icon or warning must not show it.
        if (known.shown.remove(it.key()))
            steps.append({ScanStep::Level, {}, it.key(), {}, {}, {}, false, -1});
        known.fromSystem.remove(it.key());
        known.advised.remove(it.key());
        known.names.remove(it.key());
        backoff.forget(it.key());
        steps.append({ScanStep::Unregister, {}, it.key(), {}, {}, {}, false});
        it = lastSeen.erase(it);
    }
    return steps;
}

QVector<ProfileAction> reconcileProfiles(const QJsonObject &before, const QJsonObject &after,
                                         const QStringList &linked, const QSet<QString> &fromSystem)
{
    // The linked devices first, then every other device named in either map.
    const QSet<QString> isLinked(linked.cbegin(), linked.cend());
    QStringList ids = linked;
    QSet<QString> seen = isLinked;
    for (const QJsonObject *map : {&before, &after})
        for (auto it = map->begin(); it != map->end(); ++it)
            if (!seen.contains(it.key())) {
                seen.insert(it.key());
                ids << it.key();
            }

    QVector<ProfileAction> actions;
    for (const QString &id : qAsConst(ids)) {
        const bool linkedNow = isLinked.contains(id);
        const bool levelKnown = fromSystem.contains(id);
        const bool trayBefore = profileFlag(before, id, "tray");
        const bool trayAfter = profileFlag(after, id, "tray");
        const bool stop = !profileFlag(after, id, "listen") && (linkedNow || profileFlag(before, id, "listen"));
        if (stop)
            actions.append({ProfileAction::StopLink, id});
        // An icon that came with a link goes with it; the system's level keeps one.
        if (trayBefore && (!trayAfter || (stop && !levelKnown)))
            actions.append({ProfileAction::HideTray, id});
        else if (!trayBefore && trayAfter && ((linkedNow && !stop) || levelKnown))
            actions.append({ProfileAction::ShowTray, id});
    }
    return actions;
}
