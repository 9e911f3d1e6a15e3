"""The framework library through the plain-C driver, against stand-in peers."""
import dbus
import dbus.lowlevel
import pytest

import rig
from conftest import DRIVER

B = "zel.orb.broadcast"


@pytest.fixture
def receiver(driver):
    """A registered driver with the named callbacks, past the bus's own NameAcquired."""
    d = driver("testapp1")
    for interface in (B, "zel.orb.xtxtd", "zel.orb.xlinkd"):
        assert d.result(f"match type='signal',interface='{interface}'") == 0
    d.do("drain")
    d.do("callbacks named")
    return d


def events(d, count=None):
    """Drains until `count` events came (once when None); returns them and the last result."""
    got = []
    for _ in range(1 if count is None else 10):
        out = d.do("drain")
        got += [line[len("event "):] for line in out[:-1]]
        if len(got) >= (count or 0):
            break
    return got, int(out[-1].split()[1])


@pytest.mark.parametrize("reply,size,result,answer", [
    ("text:pong", 64, 0, "pong"), ("text:error is fine", 64, 0, "error is fine"),
    ("text:ERROR", 64, -8, "ERROR"), ("text:ERRATA is fine", 64, 0, "ERRATA is fine"),
    ("text:abcdef", 7, 0, "abcdef"), ("text:abcdef", 5, -6, "abcde"),
    ("text:abcdef", 6, -6, "abcdef"),  # exactly the size: refused, no terminator
    ("error:ERROR from an error reply", 64, -8, "ERROR from an error reply"),
    ("error:refused", 64, 0, "refused"),  # an error reply's text is an answer all the same
    ("noargs", 64, -9, ""), ("uint:3", 64, -9, "")])
def test_request_round_trip_and_result_codes(peers, driver, reply, size, result, answer):
    peer = peers("testapp2", {"Echo": reply})
    out = driver().do(f"request testapp2 Echo {size} ping%20with%20blanks")[-1].split(" answer ", 1)
    assert out[0] == f"result {result}" and (out[1] == answer or not answer)
    call = peer.wait("Echo")[0]
    assert rig.shape(call) == ("/zel/orb/testapp2/Object", "zel.orb.testapp2", "s",
                               ["ping with blanks"])


def test_notify_is_a_signal_from_the_named_peers_path(peers, driver):
    watcher = peers(matches=[rig.Peer.XLOCD])
    assert driver().result("notify xlocd Position 48.1,11.5") == 0
    sig = watcher.wait("Position")[0]
    assert rig.shape(sig) == ("/zel/orb/xlocd/Object", "zel.orb.xlocd", "s", ["48.1,11.5"])


def test_each_event_is_delivered_with_its_texts_to_its_callback(receiver, bus):
    bus.signal(B, "HELLO", "peerA", "v", "i", "d")
    bus.signal(B, "GOODBYE", "peerB", "v", "i", "d")
    bus.signal("zel.orb.xtxtd", "SMS", "s" * 19, "t" * 199, path="/zel/orb/xtxtd/Object")
    bus.signal("zel.orb.xlinkd", "Network_Notification", "a" * 9, "UP")
    bus.signal(B, "NetworkResponseTimeIndicator", "i" * 199)
    bus.signal(B, "WhoIsThere", "peerC")
    bus.signal(B, "WhoIsThere")
    bus.signal("zel.orb.other", "HELLO", "another interface")
    assert events(receiver, 7) == (["hello peerA", "goodbye peerB", f"sms {'s' * 19}|{'t' * 199}",
                                    f"network {'a' * 9}|UP", f"indicator {'i' * 199}",
                                    "whoisthere peerC", "whoisthere "], 0)


@pytest.mark.parametrize("callbacks,expected", [
    ("all", ["other signal WhoIsThere", "other method_call Do", "hello named"]),  # catch-all first
    ("other", ["other signal WhoIsThere", "other method_call Do", "other signal HELLO"]),
    ("none", [])])
def test_the_catch_all_takes_what_no_named_callback_does(receiver, bus, callbacks, expected):
    receiver.do(f"callbacks {callbacks}")
    bus.signal(B, "WhoIsThere", "peer")
    call = dbus.lowlevel.MethodCallMessage("zel.orb.testapp1", "/zel/orb/testapp1/Object",
                                           "zel.orb.testapp1", "Do")
    call.set_no_reply(True)
    bus.client().send_message(call)
    bus.signal(B, "HELLO", "named")
    assert events(receiver, len(expected) or None) == (expected, 0)


def test_unregistering_in_a_callback_ends_the_drain_and_the_connection(receiver, bus):
    receiver.do("callbacks unregister")
    bus.signal(B, "HELLO", "first")
    bus.signal(B, "HELLO", "second")
    assert events(receiver, 1) == (["hello first unregister 0"], 0)
    assert [receiver.result(c) for c in ("drain", "hello", "whoisthere")] == [-10, -1, -2]


@pytest.fixture
def closed(own_bus):
    """A registered driver whose bus has gone away."""
    bus = own_bus()
    d = rig.Driver(DRIVER, bus)
    assert d.result("register testapp1") == 0
    bus.stop()
    yield d
    d.stop()


def test_on_a_connection_the_bus_has_closed_each_operation_gives_its_code(closed):
    commands = {"hello": -1, "goodbye": -1, "whoisthere": -2, "trigger": -1, "cancel": -1,
                "ignition": -1, "gpsdata": -1, "stayalive 1": -1, "watchdog 10 x": -4,
                "notify a b c": -2, "request a b 8 c": -1}
    assert {c: closed.result(c) for c in commands} == commands


def test_a_closed_connection_is_told_to_the_catch_all_as_libdbus_says_it(closed):
    assert closed.result("callbacks other") == 0
    got, result = events(closed)  # what the bus sent before (NameAcquired), then the close
    assert (got[-1], result) == ("other signal Disconnected", 0)
    assert [closed.result(c) for c in ("drain", "unregister", "drain")] == [0, -10, -10]


@pytest.mark.parametrize("member,interface,args", [
    ("HELLO", B, ["x" * 200]), ("HELLO", B, []), ("GOODBYE", B, [dbus.UInt32(5)]),
    ("SMS", "zel.orb.xtxtd", ["x" * 20, "text"]), ("SMS", "zel.orb.xtxtd", ["+49170"]),
    ("Network_Notification", "zel.orb.xlinkd", ["1234567890", "UP"]),
    ("Network_Notification", "zel.orb.xlinkd", ["UP", "1234567890"]),
    ("NetworkResponseTimeIndicator", B, ["y" * 200]), ("WhoIsThere", B, [dbus.UInt32(1)])])
def test_a_malformed_event_ends_one_drain_only(receiver, bus, member, interface, args):
    d = receiver
    bus.signal(interface, member, *args)
    bus.signal(B, "HELLO", "after")
    assert events(d) == ([], -9)
    assert events(d) == (["hello after"], 0)


def test_registration_codes(driver):
    d, other = driver("testapp1"), driver(name=None)
    # Already the owner, the connection stays; held by d, no replacement; refused by the policy.
    assert [d.result(c) for c in ("register testapp1", "hello", "whoisthere", "goodbye")] == [
        -10, 0, 0, 0]
    assert [other.result(f"register testapp{n}") for n in (1, 9)] == [-10, -10]
    assert [d.result(c) for c in ("unregister", "unregister", "hello", "whoisthere")] == [
        0, -10, -1, -2]


# Texts libdbus would abort on. Each call gives its own code for a message that was
# not built or an argument that was not appended, and the caller lives on.
INVALID_TEXTS = [
    ("register testapp1 v%FC", 0), ("hello", -10), ("goodbye", -10), ("whoisthere", -10),
    ("watchdog 10 beep-gr%FC%DF", -9),
    *[(f"request {peer} Echo 64 x", -1) for peer in ("bad-peer", "a.b", "%00", "1abc", "p" * 240)],
    ("request testapp2 Get-Data 64 x", -1), ("request testapp2 %00 64 x", -1),
    ("request testapp2 Echo 64 gr%FC%DF", -1),
    *[(f"notify {peer} M x", -1) for peer in ("bad-peer", "a.b", "%00", "1abc")],
    ("notify testapp2 Get-Data x", -1), ("notify testapp2 M gr%FC", -1),
    ("register %00", -10),  # connected, but an empty name cannot be owned
    ("hello", -1), ("whoisthere", -1), ("trigger", -1), ("stayalive 1", -1), ("unregister", -10)]


def test_invalid_texts_are_refused_with_result_codes(driver):
    d = driver(name=None)
    assert [(c, d.result(c)) for c, _ in INVALID_TEXTS] == INVALID_TEXTS
