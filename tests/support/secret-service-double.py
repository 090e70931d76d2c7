# SPDX-License-Identifier: GPL-3.0-or-later
"""A Secret Service on the session bus under the name given, which fails the way KWallet's does.

Its first sessions can be refused outright ("Client public key size is invalid"), or opened but
hand out secrets the client cannot decode: every secret read on a garbled session names another
session, as a secret encrypted with the wrong key fails to decrypt. libsecret reaches it when
SECRET_SERVICE_BUS_NAME names it. Sessions are plain: this double offers no Diffie-Hellman, and
libsecret falls back to plain ones.

With --kwallet, it plays KWallet's daemon (org.kde.kwalletd5) as well, with one wallet,
"kdewallet", open or closed: the collection is reported locked, and Unlock always answers with a
prompt. Running that prompt completes at once when the wallet is open and would show KWallet's
password dialog when it is closed. "beside" has another connection own org.kde.kwalletd5, with
the wallet open, as a KWallet running beside another Secret Service.

Usage: secret-service-double.py NAME [--refuse N] [--garble N] [--item SERVICE ACCOUNT HEX]
                                [--kwallet open|closed|beside]

It prints "ready" once it owns its names, then a line for each session asked for ("refused",
"opened PATH" or "opened PATH garbled") and for each prompt run ("prompted", or "password dialog
shown" for a closed wallet) or dismissed ("dismissed").
"""
import sys

from gi.repository import Gio, GLib

SERVICE_PATH = "/org/freedesktop/secrets"
COLLECTION_PATH = SERVICE_PATH + "/collection/login"
PROMPT_PATH = SERVICE_PATH + "/prompt/p0"
SECRET = "org.freedesktop.Secret."

XML = """<node>
  <interface name="org.freedesktop.Secret.Service">
    <method name="OpenSession">
      <arg direction="in" type="s"/><arg direction="in" type="v"/>
      <arg direction="out" type="v"/><arg direction="out" type="o"/>
    </method>
    <method name="SearchItems">
      <arg direction="in" type="a{ss}"/>
      <arg direction="out" type="ao"/><arg direction="out" type="ao"/>
    </method>
    <method name="GetSecrets">
      <arg direction="in" type="ao"/><arg direction="in" type="o"/>
      <arg direction="out" type="a{o(oayays)}"/>
    </method>
    <method name="ReadAlias">
      <arg direction="in" type="s"/><arg direction="out" type="o"/>
    </method>
    <method name="Unlock">
      <arg direction="in" type="ao"/><arg direction="out" type="ao"/><arg direction="out" type="o"/>
    </method>
    <property name="Collections" type="ao" access="read"/>
  </interface>
  <interface name="org.freedesktop.Secret.Prompt">
    <method name="Prompt"><arg direction="in" type="s"/></method>
    <method name="Dismiss"/>
    <signal name="Completed"><arg type="b"/><arg type="v"/></signal>
  </interface>
  <interface name="org.kde.KWallet">
    <method name="isOpen"><arg direction="in" type="s"/><arg direction="out" type="b"/></method>
  </interface>
  <interface name="org.freedesktop.Secret.Collection">
    <method name="CreateItem">
      <arg direction="in" type="a{sv}"/><arg direction="in" type="(oayays)"/>
      <arg direction="in" type="b"/>
      <arg direction="out" type="o"/><arg direction="out" type="o"/>
    </method>
    <property name="Items" type="ao" access="read"/>
    <property name="Label" type="s" access="read"/>
    <property name="Locked" type="b" access="read"/>
    <property name="Created" type="t" access="read"/>
    <property name="Modified" type="t" access="read"/>
  </interface>
  <interface name="org.freedesktop.Secret.Item">
    <method name="Delete"><arg direction="out" type="o"/></method>
    <property name="Attributes" type="a{ss}" access="read"/>
    <property name="Label" type="s" access="read"/>
    <property name="Locked" type="b" access="read"/>
    <property name="Created" type="t" access="read"/>
    <property name="Modified" type="t" access="read"/>
  </interface>
</node>"""


class Double:
    def __init__(self, bus, refuse, garble, kwallet):
        self.bus = bus
        self.refuse = refuse
        self.garble = garble
        self.kwallet = kwallet
        self.locked = kwallet is not None
        self.sessions = {}  # path -> garbled
        self.items = {}  # path -> [attributes, label, secret]
        self.item_registrations = {}
        self.next_session = 0
        self.next_item = 0
        self.node = Gio.DBusNodeInfo.new_for_xml(XML)

    def interface(self, name):
        return self.node.lookup_interface(name if "." in name else SECRET + name)

    def say(self, line):
        print(line, flush=True)

    def add_item(self, attributes, label, secret):
        self.next_item += 1
        path = f"{COLLECTION_PATH}/{self.next_item}"
        self.items[path] = [attributes, label, secret]
        self.item_registrations[path] = self.bus.register_object(
            path, self.interface("Item"), self.item_call, self.item_property, None)
        return path

    def open_session(self, algorithm):
        if algorithm != "plain":
            if self.refuse > 0:
                self.refuse -= 1
                self.say("refused")
                return ("org.freedesktop.DBus.Error.InvalidArgs",
                        "Client public key size is invalid")
            return ("org.freedesktop.DBus.Error.NotSupported", "only plain sessions here")
        self.next_session += 1
        path = f"{SERVICE_PATH}/session/{self.next_session}"
        garbled = self.garble > 0
        if garbled:
            self.garble -= 1
        self.sessions[path] = garbled
        self.say(f"opened {path}" + (" garbled" if garbled else ""))
        return GLib.Variant("(vo)", (GLib.Variant("s", ""), path))

    def matching(self, wanted):
        return [path for path, (attributes, _, _) in self.items.items()
                if all(attributes.get(key) == value for key, value in wanted.items())]

    def service_call(self, connection, sender, path, interface, method, parameters, invocation):
        arguments = parameters.unpack()
        if method == "OpenSession":
            answer = self.open_session(arguments[0])
        elif method == "SearchItems":
            found = self.matching(arguments[0])
            answer = GLib.Variant("(aoao)", ([], found) if self.locked else (found, []))
        elif method == "GetSecrets":
            items, session = arguments
            if session not in self.sessions:
                answer = ("org.freedesktop.Secret.Error.NoSession", "Can't find session " + session)
            else:
                named = f"{SERVICE_PATH}/session/other" if self.sessions[session] else session
                answer = GLib.Variant("(a{o(oayays)})", ({
                    item: (named, b"", self.items[item][2], "application/octet-stream")
                    for item in items if item in self.items},))
        elif method == "ReadAlias":
            answer = GLib.Variant("(o)", (COLLECTION_PATH if arguments[0] == "default" else "/",))
        elif method == "Unlock" and self.kwallet:
            answer = GLib.Variant("(aoo)", ([], PROMPT_PATH))
        elif method == "Unlock":
            answer = GLib.Variant("(aoo)", (arguments[0], "/"))
        else:
            answer = ("org.freedesktop.DBus.Error.UnknownMethod", method)
        self.reply(invocation, answer)

    def collection_call(self, connection, sender, path, interface, method, parameters,
                        invocation):
        properties, (session, _, value, _), replace = parameters.unpack()
        if session not in self.sessions:
            answer = ("org.freedesktop.Secret.Error.NoSession", "Can't find session " + session)
        else:
            attributes = properties.get(SECRET + "Item.Attributes", {})
            label = properties.get(SECRET + "Item.Label", "")
            # One item for each service and account, whichever schema libsecret names.
            wanted = {key: value for key, value in attributes.items() if key != "xdg:schema"}
            same = self.matching(wanted) if replace else []
            if same:
                self.items[same[0]][1:] = [label, bytes(value)]
                item = same[0]
            else:
                item = self.add_item(attributes, label, bytes(value))
            answer = GLib.Variant("(oo)", (item, "/"))
        self.reply(invocation, answer)

    def item_call(self, connection, sender, path, interface, method, parameters, invocation):
        self.bus.unregister_object(self.item_registrations.pop(path))
        del self.items[path]
        self.reply(invocation, GLib.Variant("(o)", ("/",)))

    def prompt_call(self, connection, sender, path, interface, method, parameters, invocation):
        invocation.return_value(None)
        if method == "Dismiss":
            self.say("dismissed")
            self.complete(sender, True)
        elif self.kwallet == "closed":
            self.say("password dialog shown")
        else:
            self.say("prompted")
            self.locked = False
            self.complete(sender, False)

    # KWallet sends Completed to the prompt's caller only.
    def complete(self, caller, dismissed):
        self.bus.emit_signal(caller, PROMPT_PATH, SECRET + "Prompt", "Completed",
                             GLib.Variant("(bv)", (dismissed, GLib.Variant("ao", []))))

    def wallet_call(self, connection, sender, path, interface, method, parameters, invocation):
        wallet = parameters.unpack()[0]
        invocation.return_value(GLib.Variant(
            "(b)", (wallet == "kdewallet" and self.kwallet != "closed",)))

    def reply(self, invocation, answer):
        if isinstance(answer, tuple):
            invocation.return_dbus_error(*answer)
        else:
            invocation.return_value(answer)

    def service_property(self, connection, sender, path, interface, name):
        return GLib.Variant("ao", [COLLECTION_PATH])

    def collection_property(self, connection, sender, path, interface, name):
        label = "kdewallet" if self.kwallet else "login"
        return {"Items": GLib.Variant("ao", list(self.items)), "Label": GLib.Variant("s", label),
                "Locked": GLib.Variant("b", self.locked)}.get(name, GLib.Variant("t", 0))

    def item_property(self, connection, sender, path, interface, name):
        attributes, label, _ = self.items[path]
        return {"Attributes": GLib.Variant("a{ss}", attributes), "Label": GLib.Variant("s", label),
                "Locked": GLib.Variant("b", self.locked)}.get(name, GLib.Variant("t", 0))


def main():
    arguments = sys.argv[1:]
    name = arguments.pop(0)
    refuse = garble = 0
    kwallet = None
    items = []
    while arguments:
        option = arguments.pop(0)
        if option == "--refuse":
            refuse = int(arguments.pop(0))
        elif option == "--garble":
            garble = int(arguments.pop(0))
        elif option == "--kwallet":
            kwallet = arguments.pop(0)
        elif option == "--item":
            service, account, secret = arguments[:3]
            del arguments[:3]
            items.append(({"service": service, "account": account}, bytes.fromhex(secret)))
        else:
            sys.exit(f"unknown option {option}")
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    double = Double(bus, refuse, garble, kwallet)
    bus.register_object(SERVICE_PATH, double.interface("Service"), double.service_call,
                        double.service_property, None)
    # libsecret stores into the default collection through its alias's path.
    for path in (COLLECTION_PATH, SERVICE_PATH + "/aliases/default"):
        bus.register_object(path, double.interface("Collection"), double.collection_call,
                            double.collection_property, None)
    for attributes, secret in items:
        double.add_item(attributes, "preloaded", secret)
    names = [(bus, name)]
    if kwallet:
        bus.register_object(PROMPT_PATH, double.interface("Prompt"), double.prompt_call, None, None)
        wallet_bus = bus
        if kwallet == "beside":
            wallet_bus = Gio.DBusConnection.new_for_address_sync(
                Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None),
                Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        wallet_bus.register_object("/modules/kwalletd5", double.interface("org.kde.KWallet"),
                                   double.wallet_call, None, None)
        names.append((wallet_bus, "org.kde.kwalletd5"))
    loop = GLib.MainLoop()
    owned = []

    def acquired(*_):
        owned.append(True)
        if len(owned) == len(names):
            double.say("ready")

    for connection, owned_name in names:
        Gio.bus_own_name_on_connection(connection, owned_name,
                                       Gio.BusNameOwnerFlags.DO_NOT_QUEUE, acquired,
                                       lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
