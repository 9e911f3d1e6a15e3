"""The framework library's generic requests, notifications and broadcast receiver,
driven from the plain-C driver against stand-in peers on the private bus."""
import dbus
import dbus.lowlevel
import pytest

import rig

RULES = ["type='signal',interface='zel.orb.broadcast'", "type='signal',interface='zel.orb.xtxtd'",
         "type='signal',interface='zel.orb.xlinkd'"]


@pytest.fixture
def receiver(driver):
    def start(callbacks="all"):
        d = driver("testapp1")
        for rule in RULES:
            assert d.result(f"match {rule}") == 0
        d.do("callbacks none")
        d.do("drain")  # the bus's own NameAcquired
        d.do(f"callbacks {callbacks}")
        return d
    return start


def events(d):
    out = d.do("drain")
    return [l[len("event "):] for l in out[:-1]], int(out[-1].split()[1])


# ---- requests and notifications ---------------------------------------------

@pytest.mark.parametrize("reply,size,result,answer", [
    ("text:pong", 64, 0, "pong"),
    ("text:ERROR: no such thing", 64, -8, "ERROR: no such thing"),
    ("text:ERROR", 64, -8, "ERROR"),
    ("text:error is fine", 64, 0, "error is fine"),
    ("text:abcdef", 7, 0, "abcdef"),
    ("text:abcdef", 6, -6, "abcdef"),   # exactly the size: refused, no terminator
    ("text:abcdef", 5, -6, "abcde"),
    ("error:ERROR from an error reply", 64, -8, "ERROR from an error reply"),
    ("noargs", 64, -9, ""),
    ("uint:3", 64, -9, ""),
])
def test_request_round_trip_and_result_codes(peers, driver, reply, size, result, answer):
    peer = peers("testapp2", {"Echo": reply})
    d = driver()
    out = d.do(f"request testapp2 Echo {size} ping with blanks")[-1]
    assert out.split(" answer ")[0] == f"result {result}"
    if answer:
        assert out.split(" answer ", 1)[1] == answer
    call = peer.wait("Echo")[0]
    assert (call["path"], call["interface"], rig.types_of(call), rig.args_of(call)) == (
        "/zel/orb/testapp2/Object", "zel.orb.testapp2", "s", ["ping with blanks"])


def test_request_to_an_unknown_peer_delivers_the_bus_error_text(driver):
    d = driver()
    out = d.do("request nosuchpeer Echo 200 x")[-1]
    assert out.startswith("result 0 answer ") and "zel.orb.nosuchpeer" in out
    assert d.do("request nosuchpeer Echo 10 x")[-1].startswith("result -6 answer ")
    assert d.result("request nosuchpeer Echo -1 x") == -5


def test_notify_comes_from_the_peers_path_on_its_interface(peers, driver):
    watcher = peers(matches=["type='signal',interface='zel.orb.xlocd'"])
    d = driver()
    assert d.result("notify xlocd Position 48.1,11.5") == 0
    sig = watcher.wait("Position")[0]
    assert (sig["type"], sig["path"], sig["interface"], rig.args_of(sig)) == (
        "signal", "/zel/orb/xlocd/Object", "zel.orb.xlocd", ["48.1,11.5"])


# ---- the receiver -------------------------------------------------------------

B = "zel.orb.broadcast"


def test_each_event_is_delivered_with_its_texts(receiver, bus):
    d = receiver("named")
    bus.signal(B, "HELLO", "peerA", "v", "i", "d")
    bus.signal(B, "GOODBYE", "peerB", "v", "i", "d")
    bus.signal("zel.orb.xtxtd", "SMS", "+491701234567", "hello there", path="/zel/orb/xtxtd/Object")
    bus.signal("zel.orb.xlinkd", "Network_Notification", "123456789", "UP")
    bus.signal(B, "NetworkResponseTimeIndicator", "350ms")
    bus.signal(B, "WhoIsThere", "peerC")
    bus.signal(B, "WhoIsThere")
    bus.signal("zel.orb.other", "HELLO", "wrong interface")
    got = []
    rig.wait_for(lambda: got.extend(events(d)[0]) or len(got) >= 7, what="seven events")
    assert got == ["hello peerA", "goodbye peerB", "sms +491701234567|hello there",
                   "network 123456789|UP", "indicator 350ms", "whoisthere peerC", "whoisthere "]


@pytest.mark.parametrize("member,interface,args", [
    ("HELLO", B, ["x" * 200]),
    ("HELLO", B, []),
    ("GOODBYE", B, [dbus.UInt32(5)]),
    ("SMS", "zel.orb.xtxtd", ["x" * 20, "text"]),
    ("SMS", "zel.orb.xtxtd", ["+49170"]),
    ("Network_Notification", "zel.orb.xlinkd", ["1234567890", "UP"]),
    ("Network_Notification", "zel.orb.xlinkd", ["UP", "1234567890"]),
    ("NetworkResponseTimeIndicator", B, ["y" * 200]),
    ("WhoIsThere", B, [dbus.UInt32(1)]),
])
def test_malformed_event_stops_the_drain_and_the_queue_goes_on(receiver, bus, member, interface, args):
    d = receiver("named")
    bus.signal(interface, member, *args)
    bus.signal(B, "HELLO", "after")
    assert events(d) == ([], -9)
    assert events(d) == (["hello after"], 0)


def test_texts_at_their_limits_are_delivered(receiver, bus):
    d = receiver("named")
    bus.signal("zel.orb.xtxtd", "SMS", "s" * 19, "t" * 199)
    bus.signal("zel.orb.xlinkd", "Network_Notification", "a" * 9, "b" * 9)
    bus.signal(B, "HELLO", "h" * 199)
    got = []
    rig.wait_for(lambda: got.extend(events(d)[0]) or len(got) >= 3, what="three events")
    assert got == [f"sms {'s' * 19}|{'t' * 199}", f"network {'a' * 9}|{'b' * 9}", f"hello {'h' * 199}"]


def test_other_message_callback_takes_whoisthere_and_method_calls(receiver, bus):
    d = receiver("all")
    bus.signal(B, "WhoIsThere", "peer")
    call = dbus.lowlevel.MethodCallMessage("zel.orb.testapp1", "/zel/orb/testapp1/Object",
                                           "zel.orb.testapp1", "DoSomething")
    call.set_no_reply(True)
    bus.client().send_message(call)
    bus.signal(B, "HELLO", "named still wins")
    got = []
    rig.wait_for(lambda: got.extend(events(d)[0]) or len(got) >= 3, what="three events")
    assert got == ["other signal WhoIsThere", "other method_call DoSomething",
                   "hello named still wins"]


def test_other_message_callback_takes_named_signals_without_their_own(receiver, bus):
    d = receiver("other")
    bus.signal(B, "HELLO", "peer")
    got = []
    rig.wait_for(lambda: got.extend(events(d)[0]) or got, what="an event")
    assert got == ["other signal HELLO"]


def test_without_callbacks_messages_are_released(receiver, bus):
    d = receiver("none")
    bus.signal(B, "HELLO", "dropped")
    assert events(d) == ([], 0)
    d.do("callbacks named")
    bus.signal(B, "HELLO", "kept")
    assert events(d) == (["hello kept"], 0)


def test_the_daemons_hello_reaches_on_hello(receiver, xlocd):
    d = receiver("named")
    xlocd()
    got = []
    rig.wait_for(lambda: got.extend(events(d)[0]) or "hello xlocd" in got, what="daemon HELLO")


def test_registration_codes(driver, bus):
    d = driver("testapp1")
    assert d.result("register testapp1") == -10  # already the owner
    assert d.result("hello") == 0 and d.result("whoisthere") == 0 and d.result("goodbye") == 0
    other = driver(name=None)
    assert other.result("register testapp1") == -10  # held by d, no replacement allowed
    assert other.result("register testapp9") == -10  # the policy refuses it
    assert d.result("unregister") == 0
    assert d.result("unregister") == -10
    assert d.result("hello") == -1 and d.result("whoisthere") == -2


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
    ("hello", -1), ("whoisthere", -1), ("trigger", -1), ("stayalive 1", -1), ("unregister", -10),
]


def test_invalid_texts_are_refused_with_result_codes(driver):
    d = driver(name=None)
    assert [(c, d.result(c)) for c, _ in INVALID_TEXTS] == INVALID_TEXTS
