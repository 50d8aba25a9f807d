#!/usr/bin/python3
"""A scripted LDAP server on 127.0.0.1 that misbehaves on purpose, for the robustness tests.

It speaks just enough LDAPv3 for the directory stand-in to get to the point of each test: the root
DSE and the subschema entry, StartTLS (with the certificate it is given), a simple bind, and a
subtree search under its one naming context, paged when the client asks. Every message is encoded
and decoded by pyasn1 with the LDAP definitions that python3-ldap3 ships; nothing here writes BER
by hand.

Then, depending on --mode, it
  normal          answers everything properly;
  never-bind      reads bind requests and never answers them;
  slow            waits --delay-ms before every entry of the search and before its end;
  drop            closes the connection after --drop-after entries of the search;
  bad-syntax      publishes a schema in which `description` is a Generalized Time and `initials`
                  an INTEGER, and sends entries whose values break those syntaxes;
  endless-cookie  ends every page with a cookie, so that the paged search never ends: the same
                  cookie every time with --same-cookie (then only the first page brings
                  entries), else a new one; a page brings --page-entries entries.

What the clients asked for is appended to --log as JSON lines (bind names and whether the
password matched, never the password; search bases, filters and page requests). The port it
listens on is written to --port-file once it accepts connections.
"""
import argparse
import json
import os
import socket
import ssl
import sys
import threading
import time

from pyasn1.codec.ber import decoder, encoder
from pyasn1.error import PyAsn1Error, SubstrateUnderrunError
from pyasn1.type import univ

from ldap3.operation.search import filter_to_string
from ldap3.protocol.rfc2696 import RealSearchControlValue
from ldap3.protocol.rfc4511 import (AttributeValue, BindResponse, Control, Controls, ExtendedResponse,
                                    LDAPMessage, PartialAttribute, PartialAttributeList, ProtocolOp,
                                    ResultCode, SearchResultDone, SearchResultEntry, Vals)

STARTTLS = "1.3.6.1.4.1.1466.20037"
PAGED = "1.2.840.113556.1.4.319"
BASE = "dc=misbehaving,dc=test"
SUBSCHEMA = "cn=Subschema"
DIRECTORY_STRING = "1.3.6.1.4.1.1466.115.121.1.15"
GENERALIZED_TIME = "1.3.6.1.4.1.1466.115.121.1.24"
INTEGER = "1.3.6.1.4.1.1466.115.121.1.27"
LARGEST_PAGE = 1000


def _complete_filter_definition():
    """ldap3 defines Filter for encoding: the AND and OR alternatives it holds were made before
    their element type was set, so they decode as opaque values. Point them at Filter. (NOT stays
    unreadable: such a request is answered with a protocol error.)"""
    import ldap3.protocol.rfc4511 as rfc4511
    element = rfc4511.Filter()
    for named in rfc4511.Filter.componentType.namedTypes:
        if named.name in ("and", "or"):
            named.asn1Object.__dict__["componentType"] = element
            named.asn1Object._readOnly["componentType"] = element


_complete_filter_definition()


class Closed(Exception):
    pass


class Log:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def write(self, **record):
        with self.lock, open(self.path, "a", encoding="utf-8") as f:
            f.write(json.dumps(record) + "\n")


def result(cls, code, diagnostic=""):
    r = cls()
    r["resultCode"] = ResultCode(code)
    r["matchedDN"] = ""
    r["diagnosticMessage"] = diagnostic
    return r


def message(msgid, name, op, controls=None):
    m = LDAPMessage()
    m["messageID"] = msgid
    p = ProtocolOp()
    p.setComponentByName(name, op)
    m["protocolOp"] = p
    if controls:
        m["controls"] = controls
    return encoder.encode(m)


def entry(dn, attributes):
    e = SearchResultEntry()
    e["object"] = dn
    attrs = PartialAttributeList()
    for i, (name, values) in enumerate(attributes):
        a = PartialAttribute()
        a["type"] = name
        vals = Vals()
        for j, v in enumerate(values):
            vals.setComponentByPosition(j, AttributeValue(v if isinstance(v, bytes) else v.encode()))
        a["vals"] = vals
        attrs.setComponentByPosition(i, a)
    e["attributes"] = attrs
    return e


def page_control(cookie):
    value = RealSearchControlValue()
    value["size"] = 0
    value["cookie"] = cookie
    c = Control()
    c["controlType"] = PAGED
    c["criticality"] = False
    c["controlValue"] = encoder.encode(value)
    controls = Controls()
    controls.setComponentByPosition(0, c)
    return controls


def user(n, mode):
    attrs = [
        ("objectClass", ["top", "person", "user"]),
        ("objectCategory", ["user"]),
        ("cn", ["User %05d" % n]),
        ("givenName", ["Given%05d" % n]),
        ("sn", ["Surname%05d" % n]),
        ("displayName", ["User %05d, shown" % n]),
    ]
    if mode == "bad-syntax":
        # `description` is a Generalized Time and `initials` an INTEGER in this server's schema.
        if n == 0:
            attrs += [("description", ["20090305140709Z"]), ("initials", ["7"])]
        elif n == 1:
            attrs += [("description", ["99999999999999Z"]), ("initials", ["123456789012345678901234567890"])]
        else:
            attrs += [("description", ["20090305140709Z", "Sales, North"]), ("initials", ["J"])]
    else:
        attrs += [("description", ["Description %d" % n]), ("initials", ["I"])]
    return "cn=User %05d,ou=Users,%s" % (n, BASE), attrs


def schema(mode):
    def at(oid, name, syntax):
        return "( %s NAME '%s' SYNTAX %s )" % (oid, name, syntax)

    description = GENERALIZED_TIME if mode == "bad-syntax" else DIRECTORY_STRING
    initials = INTEGER if mode == "bad-syntax" else DIRECTORY_STRING
    return [
        at("2.5.4.0", "objectClass", "1.3.6.1.4.1.1466.115.121.1.38"),
        at("2.5.4.3", "cn", DIRECTORY_STRING),
        at("2.5.4.42", "givenName", DIRECTORY_STRING),
        at("2.5.4.4", "sn", DIRECTORY_STRING),
        at("2.16.840.1.113730.3.1.241", "displayName", DIRECTORY_STRING),
        at("2.5.4.13", "description", description),
        at("2.5.4.43", "initials", initials),
        at("1.2.840.113556.1.4.782", "objectCategory", DIRECTORY_STRING),
    ]


class Connection:
    def __init__(self, sock, number, args, log, tls_context):
        self.sock = sock
        self.number = number
        self.args = args
        self.log = log
        self.tls_context = tls_context
        self.tls = False
        self.buffer = b""
        self.unreadable_id = 0
        self.next_user = 0  # endless-cookie with new cookies: users continue across pages
        self.pages = 0

    # ---- wire ----------------------------------------------------------------------------------
    def read_message(self):
        """The next request, decoded; None for one that is whole but not understood (its message
        ID is in self.unreadable_id)."""
        while True:
            if self.buffer:
                try:
                    # ANY takes a whole TLV as it stands: this says whether the message is complete.
                    whole, rest = decoder.decode(self.buffer, asn1Spec=univ.Any())
                except (SubstrateUnderrunError, PyAsn1Error):
                    whole = None
                if whole is not None:
                    whole = bytes(whole)
                    self.buffer = rest
                    try:
                        msg, _ = decoder.decode(whole, asn1Spec=LDAPMessage())
                        return msg
                    except (PyAsn1Error, RecursionError):
                        parts, _ = decoder.decode(whole, asn1Spec=univ.SequenceOf(componentType=univ.Any()))
                        self.unreadable_id = int(decoder.decode(bytes(parts[0]), asn1Spec=univ.Integer())[0])
                        return None
            data = self.sock.recv(65536)
            if not data:
                raise Closed()
            self.buffer += data

    def send(self, data):
        try:
            self.sock.sendall(data)
        except (OSError, ssl.SSLError):
            raise Closed()

    def pause(self, seconds):
        time.sleep(seconds)

    # ---- operations ----------------------------------------------------------------------------
    def run(self):
        self.log.write(event="connect", connection=self.number)
        try:
            while True:
                msg = self.read_message()
                if msg is None:
                    self.log.write(event="unreadable", connection=self.number, id=self.unreadable_id)
                    r = result(SearchResultDone, 2, "this test server cannot read that request")
                    self.send(message(self.unreadable_id, "searchResDone", r))
                    continue
                msgid = int(msg["messageID"])
                op = msg["protocolOp"]
                name = op.getName()
                body = op.getComponent()
                if name == "unbindRequest":
                    self.log.write(event="unbind", connection=self.number)
                    return
                if name == "abandonRequest":
                    self.log.write(event="abandon", connection=self.number, id=int(body))
                elif name == "extendedReq":
                    self.extended(msgid, body)
                elif name == "bindRequest":
                    self.bind(msgid, body)
                elif name == "searchRequest":
                    self.search(msgid, body, msg)
                else:
                    self.log.write(event="unsupported", connection=self.number, op=name)
        except Closed:
            self.log.write(event="closed", connection=self.number)
        except (OSError, ssl.SSLError) as e:
            self.log.write(event="error", connection=self.number, error=str(e))
        finally:
            try:
                self.sock.close()
            except OSError:
                pass

    def extended(self, msgid, req):
        oid = str(req["requestName"])
        if oid != STARTTLS or self.tls:
            self.log.write(event="extended", connection=self.number, oid=oid, answered=False)
            r = result(ExtendedResponse, 2, "unsupported extended operation")
            self.send(message(msgid, "extendedResp", r))
            return
        r = result(ExtendedResponse, 0)
        r["responseName"] = STARTTLS
        self.send(message(msgid, "extendedResp", r))
        self.sock = self.tls_context.wrap_socket(self.sock, server_side=True)
        self.tls = True
        self.log.write(event="starttls", connection=self.number)

    def bind(self, msgid, req):
        name = str(req["name"])
        auth = req["authentication"]
        kind = auth.getName()
        password = bytes(auth.getComponent()) if kind == "simple" else b""
        matches = kind == "simple" and name == self.args.bind_dn and password == self.args.password.encode()
        self.log.write(event="bind", connection=self.number, name=name, kind=kind, tls=self.tls,
                       password_matches=matches, password_length=len(password))
        if self.args.mode == "never-bind":
            return  # the client waits for an answer that never comes
        if matches:
            self.send(message(msgid, "bindResponse", result(BindResponse, 0)))
        else:
            self.send(message(msgid, "bindResponse", result(BindResponse, 49, "invalid credentials")))

    def paging(self, msg):
        if not msg["controls"].hasValue():
            return None
        for c in msg["controls"]:
            if str(c["controlType"]) == PAGED:
                value, _ = decoder.decode(bytes(c["controlValue"]), asn1Spec=RealSearchControlValue())
                return int(value["size"]), bytes(value["cookie"])
        return None

    def search(self, msgid, req, msg):
        base = str(req["baseObject"])
        scope = int(req["scope"])
        page = self.paging(msg)
        self.log.write(event="search", connection=self.number, base=base, scope=scope,
                       filter=filter_to_string(req["filter"]), time_limit=int(req["timeLimit"]),
                       page_size=page[0] if page else None,
                       cookie=page[1].decode("latin-1") if page else None)
        if base == "" and scope == 0:
            root = [
                ("namingContexts", [BASE]),
                ("defaultNamingContext", [BASE]),
                ("subschemaSubentry", [SUBSCHEMA]),
                ("supportedControl", [PAGED]),
                ("supportedExtension", [STARTTLS]),
                ("supportedLDAPVersion", ["3"]),
            ]
            self.send(message(msgid, "searchResEntry", entry("", root)))
            self.send(message(msgid, "searchResDone", result(SearchResultDone, 0)))
            return
        if base.lower() == SUBSCHEMA.lower():
            self.send(message(msgid, "searchResEntry",
                              entry(SUBSCHEMA, [("attributeTypes", schema(self.args.mode))])))
            self.send(message(msgid, "searchResDone", result(SearchResultDone, 0)))
            return
        if base.lower() != BASE:
            self.send(message(msgid, "searchResDone", result(SearchResultDone, 32, "no such object")))
            return
        self.subtree(msgid, page)

    def subtree(self, msgid, page):
        mode = self.args.mode
        if mode == "endless-cookie":
            self.pages += 1
            cookie = b"again" if self.args.same_cookie else ("page-%d" % self.pages).encode()
            # Stuck for good: after a first page, nothing but the same cookie again.
            entries = self.args.page_entries if not self.args.same_cookie or self.pages == 1 else 0
            for _ in range(entries):
                dn, attrs = user(self.next_user, mode)
                self.next_user += 1
                self.send(message(msgid, "searchResEntry", entry(dn, attrs)))
            self.send(message(msgid, "searchResDone", result(SearchResultDone, 0), page_control(cookie)))
            return

        # Paged like AD: at most LARGEST_PAGE per page, whatever size was asked for.
        start = 0
        if page and page[1]:
            start = int(page[1].decode())
        size = min(page[0], LARGEST_PAGE) if page and page[0] > 0 else self.args.entries
        end = min(start + size, self.args.entries)
        for n in range(start, end):
            if mode == "drop" and n == self.args.drop_after:
                self.log.write(event="dropping", connection=self.number, after=n)
                self.sock.close()
                raise Closed()
            if mode == "slow":
                self.pause(self.args.delay_ms / 1000.0)
            dn, attrs = user(n, mode)
            self.send(message(msgid, "searchResEntry", entry(dn, attrs)))
        if mode == "drop" and end == self.args.drop_after and end < self.args.entries:
            self.log.write(event="dropping", connection=self.number, after=end)
            self.sock.close()
            raise Closed()
        if mode == "slow":
            self.pause(self.args.delay_ms / 1000.0)
        controls = None
        if page is not None:
            controls = page_control(str(end).encode() if end < self.args.entries else b"")
        self.send(message(msgid, "searchResDone", result(SearchResultDone, 0), controls))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--mode", default="normal",
                   choices=["normal", "never-bind", "slow", "drop", "bad-syntax", "endless-cookie"])
    p.add_argument("--bind-dn", default="cn=Reader,ou=Users," + BASE)
    p.add_argument("--password", required=True)
    p.add_argument("--entries", type=int, default=50)
    p.add_argument("--delay-ms", type=int, default=0)
    p.add_argument("--drop-after", type=int, default=100)
    p.add_argument("--page-entries", type=int, default=10)
    p.add_argument("--same-cookie", action="store_true")
    args = p.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    log = Log(args.log)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(tmp, args.port_file)

    number = 0
    while True:
        sock, _ = listener.accept()
        number += 1
        c = Connection(sock, number, args, log, context)
        threading.Thread(target=c.run, daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
