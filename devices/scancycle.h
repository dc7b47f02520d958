#pragma once

#include "linkbackoff.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QVariant>
#include <QVector>
#include <functional>

// What one scan cycle decides, in the order it has to happen.
struct ScanStep
{
    enum Kind {
        Register,   // a device listed for the first time: record
        StartLink,  // start a hands-free link: deviceId, name, host, service, tray
        Unregister, // a device seen before is no longer listed: deviceId
        StopLink,   // a device with a link is not connected or no longer listed: deviceId
        Level,      // the level the system knows changed: deviceId, level (-1: no longer known)
        ShowTray,   // a listened device's level now comes from the system: deviceId, name
        Advice,     // the row's error marker: deviceId, name (text; empty clears the marker)
    };
    Kind kind;
    QJsonObject record;
    QString deviceId;
    QString name;
    QString hostName;
    QString serviceName;
    bool tray = false;
    int level = -1;
};

// What the scan cycles remember of the levels the system already knows
// (a record's "Battery") and of the rows that say why no link of ours runs.
struct KnownLevels
{
    QMap<QString, int> shown;      // the level last put on each device's row
    QSet<QString> fromSystem;      // devices whose level comes from the system, not a link of ours
    QSet<QString> advised;         // listened devices whose row says who holds the hands-free channel
    QHash<QString, QString> names; // each listed device's name, as last listed
};

// The reconciliation of one scan cycle, free of threads and Bluetooth:
// compares the enumerated records with the devices seen before and the
// profile map. Updates lastSeen: listed devices get the cycle's time stamp,
// devices reported gone are dropped so that they are registered again when
// they come back. hasLiveLink tells whether a device's link still runs
// (an idle one too, after the headset ended its stream): it is stopped once
// the device is found not connected or not listed, so that the device is
// linked afresh when it comes back.
// A level the system already knows goes on the row (changes only) while no
// link of ours runs for the device; a device with such a level gets its
// tray icon when 托盘 is ticked, and a listened one gets no link, until the
// system forgets the level. A device that goes takes its level with it.
// Where another program holds the hands-free audio gateway (a record's
// "HandsFreeHeld", the words for the row) no link of ours is started and a
// running one is stopped: the desktop's audio comes first. A listened
// device without a known level then gets those words on its row.
// backoff spaces out the links of a device whose links keep failing.
QVector<ScanStep> reconcileScan(const QJsonArray &records, const QJsonObject &profiles,
                                QMap<QString, QDateTime> &lastSeen, const QDateTime &now,
                                const std::function<bool(const QString &)> &hasLiveLink,
                                KnownLevels &known, LinkBackoff &backoff);

// Whether a profile entry switches "listen" or "tray" on: only the JSON value
// true in an object profile does.
bool profileFlag(const QJsonObject &profiles, const QString &deviceId, const QString &key);

// Sets one entry of a device's profile: the device's profile object (a new
// one where there is none or it is null; an empty one where it is no
// object) gets Key set to value, and replaces the old one.
void setProfileEntry(QJsonObject &profiles, const QString &deviceId, const QString &key, const QVariant &value);

// What a change of the profile map does at once.
struct ProfileAction
{
    enum Kind {
        StopLink, // "listen" turned off: the link (if one runs) and its row's marker go
        ShowTray, // "tray" turned on while the device's link runs or its level comes from the system
        HideTray, // "tray" turned off, or the link that brought the icon is no longer asked for
    };
    Kind kind;
    QString deviceId;
};

// The actions, linked devices first, when the profile map goes from before
// to after; linked lists the devices whose link runs, fromSystem those
// whose level the system knows. A listen turned off stops the link, and its
// icon goes unless the system's level keeps it. Linear in the map's size.
QVector<ProfileAction> reconcileProfiles(const QJsonObject &before, const QJsonObject &after,
                                         const QStringList &linked, const QSet<QString> &fromSystem = {});
