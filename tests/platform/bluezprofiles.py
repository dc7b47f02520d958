'''A mocked BlueZ with the profile interface, for Kestrolune's tests.

python3-dbusmock's bluez5 template, plus:
- RegisterProfile and UnregisterProfile that remember who holds which UUID
  and refuse a second holder ("UUID already registered"), as BlueZ does; a
  holder that is not only a client has a service record, whose UUID the
  adapters then list; ProfileCalls tells who called them, in order, and
  RemoveProfileManager takes them away, as an old BlueZ lacks them;
- Device1.ConnectProfile, which makes a socket pair, keeps one end for a
  simulated headset and hands the other to the holder's NewConnection;
- org.bluez.Mock methods to take the headset's end (TakeHeadsetEnd), to make
  a device's ConnectProfile fail or hand nothing over (SetConnectBehaviour), to
  offer a connection that nobody asked for (OfferConnection) and to read how
  the holder answered the last hand-over (HandOverReply);
- battery levels: SetBattery and RemoveBattery put org.bluez.Battery1 on a
  device or take it away, AddBatteryProviderManager gives an adapter
  org.bluez.BatteryProviderManager1, and ReadBackProviders reads the
  registered providers' objects through their object manager, as BlueZ
  does, and mirrors them onto the devices' Battery1.
'''

import socket
import time

import dbus
import dbus.service

from dbusmock import mockobject
from dbusmock.templates import bluez5
# The template's own names and Mock methods, which dbusmock takes from this module.
from dbusmock.templates.bluez5 import (  # noqa: F401
    BUS_NAME, MAIN_OBJ, SYSTEM_BUS, IS_OBJECT_MANAGER, AddAdapter, RemoveAdapter,
    RemoveAdapterWithDevices, PairDevice, BlockDevice, ConnectDevice, DisconnectDevice)

MOCK = 'org.bluez.Mock'
PROFILE_MANAGER = 'org.bluez.ProfileManager1'
DEVICE = 'org.bluez.Device1'
PROFILE = 'org.bluez.Profile1'
REMOTE_OF = {  # the remote UUID that ConnectProfile names -> the local profile's UUID
    '0000111e-0000-1000-8000-00805f9b34fb': '0000111f-0000-1000-8000-00805f9b34fb',
}

holders = {}     # local UUID -> (bus name, object path)
ends = {}        # device path -> [headset ends not yet taken]
behaviour = {}   # device path -> 'answer' | 'silent' | 'fail <error name> <message>'
replies = {}     # device path -> '' (accepted) or the error name of the last hand-over
kept = {}        # device path -> [BlueZ's own copies of the ends it handed over]
providers = []   # (bus name, root) of each registered battery provider
mirrored = set() # devices whose Battery1 mirrors a provider's object
removed = set()  # interfaces that RemoveProfileManager took away
calls = []       # 'Register <sender> <uuid> <outcome>' and 'Unregister <sender>', in order
connects = {}    # device path -> the CLOCK_MONOTONIC time of each ConnectProfile call
BATTERY = 'org.bluez.Battery1'
BATTERY_MANAGER = 'org.bluez.BatteryProviderManager1'
OBJECT_MANAGER = 'org.freedesktop.DBus.ObjectManager'


def install(obj, interface, name, function):
    '''A method that needs the caller's name, which dbusmock's do not get.'''
    obj.methods.setdefault(interface, {})[name] = (function._dbus_in_signature, '', None, function)


def holder(uuid):
    '''The live holder of a UUID: BlueZ forgets a program that left the bus.'''
    entry = holders.get(uuid)
    if entry and not mockobject.objects['/'].connection.name_has_owner(entry[0]):
        del holders[uuid]
        entry = None
    return entry


def list_record(uuid, listed):
    '''A registered service record shows in every adapter's UUIDs.'''
    for obj in mockobject.objects.values():
        adapter = obj.props.get('org.bluez.Adapter1')
        if adapter is None:
            continue
        uuids = [u for u in adapter['UUIDs'] if str(u) != uuid] + ([uuid] if listed else [])
        adapter['UUIDs'] = dbus.Array(uuids, signature='s', variant_level=1)


@dbus.service.method(PROFILE_MANAGER, in_signature='osa{sv}', sender_keyword='sender')
def RegisterProfile(_self, path, uuid, options, sender=None):
    unknown_method(PROFILE_MANAGER)
    uuid = str(uuid).lower()
    entry = holder(uuid)
    outcome = 'AlreadyExists' if entry == (sender, str(path)) else 'NotPermitted' if entry else 'ok'
    calls.append(f'Register {sender} {uuid} {outcome}')
    if outcome == 'AlreadyExists':
        raise dbus.exceptions.DBusException('Already Exists', name='org.bluez.Error.AlreadyExists')
    if outcome == 'NotPermitted':
        raise dbus.exceptions.DBusException('UUID already registered', name='org.bluez.Error.NotPermitted')
    holders[uuid] = (sender, str(path))
    if str(options.get('Role', '')) != 'client':
        list_record(uuid, True)


@dbus.service.method(PROFILE_MANAGER, in_signature='o', sender_keyword='sender')
def UnregisterProfile(_self, path, sender=None):
    unknown_method(PROFILE_MANAGER)
    calls.append(f'Unregister {sender}')
    for uuid, entry in list(holders.items()):
        if entry == (sender, str(path)):
            del holders[uuid]
            list_record(uuid, False)
            return
    raise dbus.exceptions.DBusException('Does Not Exist', name='org.bluez.Error.DoesNotExist')


@dbus.service.method(MOCK, in_signature='', out_signature='')
def RemoveProfileManager(_self):
    '''As an old BlueZ has it: no RegisterProfile.'''
    removed.add(PROFILE_MANAGER)


def unknown_method(interface):
    if interface in removed:
        raise dbus.exceptions.DBusException(f'No such interface {interface}',
                                            name='org.freedesktop.DBus.Error.UnknownMethod')


@dbus.service.method(MOCK, in_signature='', out_signature='as')
def ProfileCalls(_self):
    return dbus.Array(calls, signature='s')


@dbus.service.method(MOCK, in_signature='s', out_signature='ad')
def ConnectTimes(_self, device_path):
    """When each ConnectProfile on the device came, in CLOCK_MONOTONIC seconds."""
    return dbus.Array(connects.get(str(device_path), []), signature='d')


def hand_over(device_path, uuid):
    entry = holder(uuid)
    if not entry:
        raise dbus.exceptions.DBusException('Profile Unavailable', name='org.bluez.Error.NotAvailable')
    ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
    ends.setdefault(device_path, []).append(ours)

    def answered(*_):
        replies[device_path] = ''

    def refused(error):
        replies[device_path] = error.get_dbus_name()
        theirs.close()
        kept[device_path].remove(theirs)

    replies.pop(device_path, None)
    bus = mockobject.objects['/'].connection
    bus.call_async(entry[0], entry[1], PROFILE, 'NewConnection', 'oha{sv}',
                   (dbus.ObjectPath(device_path), dbus.types.UnixFd(theirs.fileno()), {}),
                   answered, refused)
    # As bluetoothd does, keep a copy of the end handed over until the
    # connection ends: the program's close() alone does not end it.
    kept.setdefault(device_path, []).append(theirs)


def ConnectProfile(device, uuid):
    path = device.__dbus_object_path__
    connects.setdefault(path, []).append(time.monotonic())
    how = behaviour.get(path, 'answer')
    if how.startswith('fail '):
        _, name, message = how.split(' ', 2)
        raise dbus.exceptions.DBusException(message, name=name)
    if how == 'answer':
        hand_over(path, REMOTE_OF.get(str(uuid).lower(), str(uuid).lower()))


def DisconnectProfile(device, uuid):
    path = device.__dbus_object_path__
    for end in kept.pop(path, []):
        end.close()
    entry = holder(REMOTE_OF.get(str(uuid).lower(), str(uuid).lower()))
    if entry:
        mockobject.objects['/'].connection.call_async(
            entry[0], entry[1], PROFILE, 'RequestDisconnection', 'o', (dbus.ObjectPath(path),),
            None, None)


@dbus.service.method(MOCK, in_signature='s', out_signature='h')
def TakeHeadsetEnd(_self, device_path):
    waiting = ends.get(device_path)
    if not waiting:
        raise dbus.exceptions.DBusException('No connection for ' + device_path, name=MOCK + '.NoConnection')
    end = waiting.pop(0)
    fd = dbus.types.UnixFd(end.fileno())
    end.close()
    return fd


@dbus.service.method(MOCK, in_signature='ss', out_signature='')
def SetConnectBehaviour(_self, device_path, how):
    behaviour[str(device_path)] = str(how)


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def OfferConnection(_self, device_path):
    hand_over(str(device_path), '0000111f-0000-1000-8000-00805f9b34fb')


@dbus.service.method(MOCK, in_signature='s', out_signature='s')
def HandOverReply(_self, device_path):
    return replies.get(str(device_path), 'pending')


@dbus.service.method(MOCK, in_signature='sss', out_signature='s')
def AddDevice(self, adapter_device_name, device_address, alias):
    path = bluez5.AddDevice(self, adapter_device_name, device_address, alias)
    device = mockobject.objects[path]
    device.AddMethods(DEVICE, [
        ('ConnectProfile', 's', '', ConnectProfile),
        ('DisconnectProfile', 's', '', DisconnectProfile),
    ])
    return path


def set_battery(device_path, percentage, source, signal=False):
    """Battery1 on a device; with signal, announced as bluetoothd does: the
    interface added, or its Percentage changed."""
    device = mockobject.objects[device_path]
    props = {'Percentage': dbus.Byte(percentage)}
    if source:
        props['Source'] = dbus.String(source)
    new = BATTERY not in device.props
    device.props[BATTERY] = props
    if not signal:
        return
    if new:
        mockobject.objects['/'].EmitSignal(OBJECT_MANAGER, 'InterfacesAdded', 'oa{sa{sv}}',
                                           [dbus.ObjectPath(device_path), {BATTERY: props}])
    else:
        device.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                          [BATTERY, {'Percentage': props['Percentage']}, []])


@dbus.service.method(MOCK, in_signature='sys', out_signature='')
def SetBattery(_self, device_path, percentage, source):
    set_battery(str(device_path), int(percentage), str(source), signal=True)


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def RemoveBattery(_self, device_path):
    if mockobject.objects[str(device_path)].props.pop(BATTERY, None) is not None:
        mockobject.objects['/'].EmitSignal(OBJECT_MANAGER, 'InterfacesRemoved', 'oas',
                                           [dbus.ObjectPath(device_path), [BATTERY]])


@dbus.service.method(BATTERY_MANAGER, in_signature='o', sender_keyword='sender')
def RegisterBatteryProvider(_self, root, sender=None):
    if (sender, str(root)) in providers:
        raise dbus.exceptions.DBusException('Already Exists', name='org.bluez.Error.AlreadyExists')
    providers.append((sender, str(root)))


@dbus.service.method(MOCK, in_signature='s', out_signature='')
def AddBatteryProviderManager(_self, adapter_path):
    adapter = mockobject.objects[str(adapter_path)]
    install(adapter, BATTERY_MANAGER, 'RegisterBatteryProvider', RegisterBatteryProvider)
    adapter.props[BATTERY_MANAGER] = {}


@dbus.service.method(MOCK, in_signature='', out_signature='a{sv}')
def ReadBackProviders(_self):
    bus = mockobject.objects['/'].connection
    levels = {}
    for sender, root in list(providers):
        if not bus.name_has_owner(sender):
            providers.remove((sender, root))
            continue
        manager = dbus.Interface(bus.get_object(sender, root, introspect=False),
                                 'org.freedesktop.DBus.ObjectManager')
        for path, interfaces in manager.GetManagedObjects().items():
            props = interfaces.get('org.bluez.BatteryProvider1')
            if props and str(path).startswith(root + '/'):
                levels[str(props['Device'])] = (int(props['Percentage']), str(props.get('Source', '')))
    for device in mirrored - set(levels):
        mockobject.objects[device].props.pop(BATTERY, None)
    for device, (percentage, source) in levels.items():
        if device in mockobject.objects:
            set_battery(device, percentage, source)
    mirrored.clear()
    mirrored.update(levels)
    return {device: dbus.Byte(percentage, variant_level=1) for device, (percentage, _) in levels.items()}


def load(mock, parameters):
    bluez5.load(mock, parameters)
    manager = mockobject.objects['/org/bluez']
    install(manager, PROFILE_MANAGER, 'RegisterProfile', RegisterProfile)
    install(manager, PROFILE_MANAGER, 'UnregisterProfile', UnregisterProfile)
