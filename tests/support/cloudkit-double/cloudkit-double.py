#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A local stand-in for CloudKit Web Services, for tests.

It speaks the REST wire format the desktop client uses (database and device endpoints, web auth
token rotation, the sign-in redirect and the web courier long-poll) on 127.0.0.1 only, keeps one
user's private default zone in memory, and offers a control API under /_double/ so that tests can
inject faults and look at what the client did. Standard library only: it must run wherever
python3 does and never download anything.

Run with --help for the options. Once listening it prints its base URL on one line of stdout.
"""

import argparse
import base64
import binascii
import collections
import json
import os
import secrets
import select
import signal
import socket
import sys
import tempfile
import threading
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, quote, urlsplit

DEFAULT_ZONE = "_defaultZone"
AUTH_HEADER = "X-Apple-CloudKit-Web-Auth-Token"
FIRES_ON = {"create": 1, "update": 2, "delete": 3}
RECORD_OPS = {"create", "update", "forceUpdate", "replace", "forceReplace", "delete", "forceDelete"}
HISTORY_LENGTH = 500
# Whom /signin signs in unless asked for another account (/signin?account=…).
DEFAULT_ACCOUNT = "user@example.com"

# The code a fault rule gets when it names only an HTTP status.
CODE_FOR_STATUS = {
    400: "BAD_REQUEST", 401: "AUTHENTICATION_FAILED", 403: "ACCESS_DENIED", 404: "NOT_FOUND",
    409: "CONFLICT", 412: "VALIDATING_REFERENCE_ERROR", 413: "QUOTA_EXCEEDED",
    421: "AUTHENTICATION_REQUIRED", 429: "THROTTLED", 500: "INTERNAL_ERROR", 503: "TRY_AGAIN_LATER",
}

# Named faults: (status, serverErrorCode, reason, default retryAfter or None).
FAULT_SHORTCUTS = {
    "421": (421, "AUTHENTICATION_REQUIRED", "request needs authorization", None),
    "401": (401, "AUTHENTICATION_FAILED", "authentication failed", None),
    "403-adp": (403, "ACCESS_DENIED", "private db access disabled for this account", None),
    "429": (429, "THROTTLED", "request throttled", 2),
    "503": (503, "TRY_AGAIN_LATER", "service temporarily unavailable", None),
    "500": (500, "INTERNAL_ERROR", "internal error", None),
}

FAULT_ENDPOINTS = {
    "users/caller", "records/lookup", "records/modify", "subscriptions/modify",
    "subscriptions/lookup", "subscriptions/list", "tokens/create", "tokens/register",
    "courier", "signin", "*",
}

# (database, operation) -> (endpoint name, allowed methods). Apple documents users/caller on the
# public database only and the client keeps its data in the private one, so anything else is a
# client bug and gets a 404 rather than a quiet success.
DATABASE_ROUTES = {
    ("public", "users/caller"): ("users/caller", {"GET"}),
    ("private", "records/lookup"): ("records/lookup", {"POST"}),
    ("private", "records/modify"): ("records/modify", {"POST"}),
    ("private", "subscriptions/modify"): ("subscriptions/modify", {"POST"}),
    ("private", "subscriptions/lookup"): ("subscriptions/lookup", {"POST"}),
    ("private", "subscriptions/list"): ("subscriptions/list", {"GET", "POST"}),
}

NON_JSON_BODY = b"<html><body>Service Unavailable</body></html>"


class BadRequest(Exception):
    """The request as a whole is malformed: answered with 400 BAD_REQUEST."""


class Reply:
    def __init__(self, status, body=b"", content_type=None, headers=None):
        self.status = status
        self.body = body
        self.content_type = content_type
        self.headers = list(headers or [])


def json_reply(status, obj, headers=None):
    body = json.dumps(obj, separators=(",", ":")).encode()
    return Reply(status, body, "application/json; charset=UTF-8", headers)


def error_reply(status, code, reason, **extra):
    """A request-level error in CloudKit's shape; extra keys (retryAfter, redirectURL) follow."""
    obj = {"uuid": str(uuid.uuid4()), "serverErrorCode": code, "reason": reason}
    obj.update({k: v for k, v in extra.items() if v is not None})
    return json_reply(status, obj)


def item_error(key, name, code, reason):
    """A per-record or per-subscription error, which travels inside an HTTP 200 answer."""
    obj = {key: name} if name is not None else {}
    obj.update({"reason": reason, "serverErrorCode": code})
    return obj


def now_ms():
    return int(time.time() * 1000)


def field_problem(fields):
    """Checks the few field types the client relies on, so that encoding bugs show up here."""
    if not isinstance(fields, dict):
        return "fields must be an object"
    for key, field in fields.items():
        if not isinstance(field, dict) or "value" not in field:
            return "field %s needs a value" % key
        kind, value = field.get("type"), field["value"]
        if kind == "BYTES":
            try:
                base64.b64decode(value, validate=True)
            except (binascii.Error, TypeError, ValueError):
                return "field %s is not standard base64" % key
        elif kind == "TIMESTAMP" and (isinstance(value, bool) or not isinstance(value, (int, float))):
            return "field %s must be milliseconds since 1970 as a number" % key
    return None


def subscription_problem(sub):
    kind = sub.get("subscriptionType")
    if kind == "zone":
        return None
    if kind != "query":
        return "subscriptionType must be query or zone"
    query = sub.get("query")
    if not isinstance(query, dict) or not isinstance(query.get("recordType"), str):
        return "a query subscription needs query.recordType"
    fires = sub.get("firesOn")
    if not isinstance(fires, list) or not fires or any(f not in FIRES_ON for f in fires):
        return "firesOn must be a non-empty subset of create, update, delete"
    return None


def zone_is_default(body):
    zone = body.get("zoneID")
    if zone is None:
        return True
    if not isinstance(zone, dict):
        raise BadRequest("zoneID must be an object")
    return zone.get("zoneName", DEFAULT_ZONE) == DEFAULT_ZONE


def list_of_objects(body, key):
    items = body.get(key)
    if not isinstance(items, list) or not all(isinstance(i, dict) for i in items):
        raise BadRequest("%s must be a list of objects" % key)
    return items


class Cloud:
    """All server state. One lock guards everything; the condition wakes courier long-polls."""

    def __init__(self, opts):
        self.opts = opts
        self.base_url = ""
        self.lock = threading.Lock()
        self.changed = threading.Condition(self.lock)
        self.user = "_" + secrets.token_hex(16)
        self.records = {}
        self.subscriptions = {}
        # Each valid token -> the email of the account it signs in (its successors keep it).
        self.web_tokens = {}
        self.couriers = {}
        # When each record was last stored, on the host's monotonic clock: a benchmark times what
        # follows a write from the moment the record exists rather than from its request leaving.
        self.written_at = {}
        self.faults = []
        self.next_fault_id = 1
        self.history = collections.deque(maxlen=HISTORY_LENGTH)
        self.stopping = False

    # --- web auth tokens -------------------------------------------------------------------

    def mint_token(self, account=DEFAULT_ACCOUNT):
        # Every token carries '+', '/' and '=' so that a client that forgets to URL-encode it
        # fails at once instead of one time in three.
        while True:
            token = base64.b64encode(secrets.token_bytes(25)).decode()
            if "+" in token and "/" in token:
                break
        with self.lock:
            self.web_tokens[token] = account
        return token

    def token_state(self, token):
        if not token:
            return "none"
        with self.lock:
            return "fresh" if token in self.web_tokens else "used"

    def claim_token(self, token):
        """Takes the token out of the valid set, so that two concurrent uses cannot both pass;
        gives the account it signed in, or None."""
        with self.lock:
            if token and token in self.web_tokens:
                return self.web_tokens.pop(token)
            return None

    def signin_redirect(self):
        return self.base_url + "/signin"

    # --- faults ----------------------------------------------------------------------------

    def add_fault(self, asked):
        rule = normalize_fault(asked)
        with self.lock:
            rule["id"] = self.next_fault_id
            self.next_fault_id += 1
            self.faults.append(rule)
        return rule["id"]

    def take_fault(self, endpoint):
        """The oldest rule that matches, with one use of a counted rule spent."""
        with self.lock:
            for rule in self.faults:
                if rule["endpoint"] in ("*", endpoint):
                    if "count" in rule:
                        rule["count"] -= 1
                        if rule["count"] <= 0:
                            self.faults.remove(rule)
                    return dict(rule)
        return None

    def clear_faults(self):
        with self.lock:
            cleared = len(self.faults)
            self.faults.clear()
        return cleared

    # --- records ---------------------------------------------------------------------------

    def stamp(self):
        return {"timestamp": now_ms(), "userRecordName": self.user, "deviceID": "2"}

    @staticmethod
    def present(record, desired=None):
        out = dict(record)
        fields = record["fields"]
        if desired is not None:
            fields = {k: v for k, v in fields.items() if k in desired}
        out["fields"] = fields
        out["pluginFields"] = {}
        out["deleted"] = False
        return out

    def lookup_records(self, body):
        items = list_of_objects(body, "records")
        in_zone = zone_is_default(body)
        desired = body.get("desiredKeys")
        if desired is not None and not (isinstance(desired, list)
                                        and all(isinstance(k, str) for k in desired)):
            raise BadRequest("desiredKeys must be a list of strings")
        out = []
        with self.lock:
            for item in items:
                name = item.get("recordName")
                if not isinstance(name, str) or not name:
                    out.append(item_error("recordName", None, "BAD_REQUEST", "recordName missing"))
                elif not in_zone:
                    out.append(item_error("recordName", name, "ZONE_NOT_FOUND", "Zone not found"))
                elif name not in self.records:
                    out.append(item_error("recordName", name, "NOT_FOUND", "Record not found"))
                else:
                    out.append(self.present(self.records[name], desired))
        return {"records": out}

    def modify_records(self, body):
        operations = list_of_objects(body, "operations")
        in_zone = zone_is_default(body)
        with self.lock:
            results = [self._apply_record_op(op, in_zone) for op in operations]
            self.changed.notify_all()
        return {"records": results}

    def _apply_record_op(self, op, in_zone):
        kind, record = op.get("operationType"), op.get("record")
        if kind not in RECORD_OPS or not isinstance(record, dict):
            return item_error("recordName", None, "BAD_REQUEST", "bad operationType or record")
        name = record.get("recordName")
        if name is None and kind == "create":
            name = str(uuid.uuid4()).upper()  # the server names records the client left unnamed
        if not isinstance(name, str) or not name:
            return item_error("recordName", None, "BAD_REQUEST", "recordName missing")
        if not in_zone:
            return item_error("recordName", name, "ZONE_NOT_FOUND", "Zone not found")
        old = self.records.get(name)
        # update and delete are the conditional operations: they must name the change tag the
        # server holds. The force* variants and replace overwrite whatever is there.
        conditional = kind in ("update", "delete")
        if old is None and kind in ("update", "delete", "forceDelete"):
            return item_error("recordName", name, "NOT_FOUND", "Record not found")
        if conditional and record.get("recordChangeTag") != old["recordChangeTag"]:
            return item_error("recordName", name, "CONFLICT",
                              "recordChangeTag missing or out of date")
        if kind in ("delete", "forceDelete"):
            del self.records[name]
            self._push(old["recordType"], name, "delete")
            return {"recordName": name, "deleted": True}
        if kind == "create" and old is not None:
            return item_error("recordName", name, "EXISTS", "record already exists")
        fields = record.get("fields", {})
        problem = field_problem(fields)
        record_type = record.get("recordType") or (old["recordType"] if old else None)
        if problem is None and not isinstance(record_type, str):
            problem = "recordType missing"
        if problem:
            return item_error("recordName", name, "BAD_REQUEST", problem)
        if old is not None and kind in ("update", "forceUpdate"):
            fields = {**old["fields"], **fields}  # update changes only the fields it names
        stamp = self.stamp()
        saved = {
            "recordName": name, "recordType": record_type, "fields": fields,
            "recordChangeTag": secrets.token_hex(4),
            "created": old["created"] if old else stamp, "modified": stamp,
        }
        self.records[name] = saved
        self.written_at[name] = time.monotonic()
        self._push(record_type, name, "update" if old else "create")
        return self.present(saved)

    # --- subscriptions ---------------------------------------------------------------------

    def modify_subscriptions(self, body):
        operations = list_of_objects(body, "operations")
        with self.lock:
            return {"subscriptions": [self._apply_subscription_op(op) for op in operations]}

    def _apply_subscription_op(self, op):
        kind, sub = op.get("operationType"), op.get("subscription")
        if kind not in ("create", "update", "delete") or not isinstance(sub, dict):
            return item_error("subscriptionID", None, "BAD_REQUEST",
                              "bad operationType or subscription")
        sid = sub.get("subscriptionID")
        if sid is None and kind == "create":
            sid = str(uuid.uuid4()).upper()
        if not isinstance(sid, str) or not sid:
            return item_error("subscriptionID", None, "BAD_REQUEST", "subscriptionID missing")
        if kind == "delete":
            if self.subscriptions.pop(sid, None) is None:
                return item_error("subscriptionID", sid, "NOT_FOUND", "subscription not found")
            return {"subscriptionID": sid, "deleted": True}
        if kind == "create" and sid in self.subscriptions:
            return item_error("subscriptionID", sid, "EXISTS", "subscription already exists")
        if kind == "update" and sid not in self.subscriptions:
            return item_error("subscriptionID", sid, "NOT_FOUND", "subscription not found")
        zone = sub.get("zoneID")
        if isinstance(zone, dict) and zone.get("zoneName", DEFAULT_ZONE) != DEFAULT_ZONE:
            return item_error("subscriptionID", sid, "ZONE_NOT_FOUND", "Zone not found")
        problem = subscription_problem(sub)
        if problem:
            return item_error("subscriptionID", sid, "BAD_REQUEST", problem)
        saved = dict(sub, subscriptionID=sid)
        self.subscriptions[sid] = saved
        return saved

    def lookup_subscriptions(self, body):
        items = list_of_objects(body, "subscriptions")
        out = []
        with self.lock:
            for item in items:
                sid = item.get("subscriptionID")
                if sid in self.subscriptions:
                    out.append(self.subscriptions[sid])
                else:
                    out.append(item_error("subscriptionID", sid if isinstance(sid, str) else None,
                                          "NOT_FOUND", "subscription not found"))
        return {"subscriptions": out}

    def list_subscriptions(self):
        with self.lock:
            return {"subscriptions": list(self.subscriptions.values())}

    # --- push: tokens and the courier ------------------------------------------------------

    def create_courier_token(self, container, body):
        environment = body.get("apnsEnvironment")
        if environment not in ("development", "production"):
            raise BadRequest("apnsEnvironment must be development or production")
        token = secrets.token_hex(32)
        with self.lock:
            self.couriers[token] = {
                "container": container, "environment": environment, "registered": False,
                "created": time.monotonic(), "expired": False, "queue": collections.deque(),
                "polling": 0,
            }
        url = "%s/aps?tok=%s&ttl=%d" % (self.base_url, token, self.opts.courier_ttl)
        return {"apnsEnvironment": environment, "apnsToken": token, "webcourierURL": url}

    def register_courier_token(self, body):
        token, environment = body.get("apnsToken"), body.get("apnsEnvironment")
        if not isinstance(token, str) or not isinstance(environment, str):
            raise BadRequest("apnsEnvironment and apnsToken are required")
        with self.lock:
            courier = self.couriers.get(token)
            if courier is None or self._expired(courier):
                raise BadRequest("unknown or expired apnsToken")
            if courier["environment"] != environment:
                raise BadRequest("apnsEnvironment does not match the token")
            courier["registered"] = True
        return {}

    def _expired(self, courier):
        return courier["expired"] or time.monotonic() - courier["created"] > self.opts.courier_ttl

    def _push(self, record_type, record_name, event):
        """Queues one frame per matching subscription and registered courier token (lock held).

        Every frame of one change shares its nid, as the real service does for a change that
        matches several subscriptions. Zone subscriptions and query filters are not modelled.
        """
        nid = str(uuid.uuid4())
        for sid, sub in list(self.subscriptions.items()):
            if sub.get("subscriptionType") != "query":
                continue
            if sub["query"].get("recordType") != record_type or event not in sub["firesOn"]:
                continue
            for courier in self.couriers.values():
                if not courier["registered"] or self._expired(courier):
                    continue
                frame = {"aps": {"content-available": 1},
                         "ck": {"ce": 2, "cid": courier["container"], "ckuserid": self.user,
                                "nid": nid,
                                "qry": {"dbs": 1, "fo": FIRES_ON[event], "rid": record_name,
                                        "sid": sid, "zid": DEFAULT_ZONE, "zoid": self.user}}}
                courier["queue"].append(json.dumps(frame, separators=(",", ":")).encode())
            if sub.get("firesOnce"):
                del self.subscriptions[sid]

    def poll(self, token, peer_closed):
        """One long-poll: a frame, b"" after the hold time, or None for an unknown/expired token.

        A frame is only taken off the queue while the poller is still connected, so a client
        that gave up on a poll does not silently lose the next notification.
        """
        deadline = time.monotonic() + self.opts.courier_hold
        with self.lock:
            courier = self.couriers.get(token)
            if courier is None or self._expired(courier):
                return None
            courier["polling"] += 1
            try:
                while True:
                    if self._expired(courier):
                        return None
                    if self.stopping or peer_closed():
                        return b""
                    if courier["queue"]:
                        return courier["queue"].popleft()
                    remaining = deadline - time.monotonic()
                    if remaining <= 0:
                        return b""
                    # Wake now and then even without news, to notice a poller that went away.
                    self.changed.wait(min(remaining, 0.5))
            finally:
                courier["polling"] -= 1

    def expire_couriers(self):
        with self.lock:
            for courier in self.couriers.values():
                courier["expired"] = True
            self.changed.notify_all()  # open polls answer 404 now rather than after the hold
            return len(self.couriers)

    def revoke_tokens(self):
        with self.lock:
            revoked = len(self.web_tokens)
            self.web_tokens.clear()
            return revoked

    def stop(self):
        with self.lock:
            self.stopping = True
            self.changed.notify_all()

    def snapshot(self):
        with self.lock:
            return {
                "userRecordName": self.user,
                "records": {n: self.present(r) for n, r in self.records.items()},
                "subscriptions": dict(self.subscriptions),
                "validTokens": len(self.web_tokens),
                "courierTokens": {
                    t: {"registered": c["registered"], "queued": len(c["queue"]),
                        "expired": self._expired(c), "polling": c["polling"]}
                    for t, c in self.couriers.items()},
                "writtenAt": dict(self.written_at),
                "faults": [dict(r) for r in self.faults],
                "requests": list(self.history),
            }

    def remember(self, method, path, status, token):
        with self.lock:
            self.history.append({"method": method, "path": path, "status": status, "token": token})


def normalize_fault(asked):
    """Turns a fault request into a rule of one of four kinds: error, drop, slow, non-json."""
    if not isinstance(asked, dict):
        raise BadRequest("a fault must be a JSON object")
    endpoint = asked.get("endpoint")
    if endpoint not in FAULT_ENDPOINTS:
        raise BadRequest("endpoint must be one of " + ", ".join(sorted(FAULT_ENDPOINTS)))
    rule = {"endpoint": endpoint}
    count = asked.get("count")
    if count is not None:
        if isinstance(count, bool) or not isinstance(count, int) or count < 1:
            raise BadRequest("count must be a positive integer")
        rule["count"] = count
    fault = asked.get("fault")
    fault = str(fault) if isinstance(fault, int) and not isinstance(fault, bool) else fault
    retry_after = asked.get("retryAfter")
    if retry_after is not None and (isinstance(retry_after, bool)
                                    or not isinstance(retry_after, (int, float))):
        raise BadRequest("retryAfter must be a number")
    if fault == "drop":
        rule["kind"] = "drop"
    elif fault == "slow":
        delay = asked.get("delay")
        if isinstance(delay, bool) or not isinstance(delay, (int, float)) or delay < 0:
            raise BadRequest("a slow fault needs a delay in seconds")
        rule.update(kind="slow", delay=delay)
    elif fault == "non-json":
        rule.update(kind="non-json", status=checked_status(asked.get("status", 200)))
    elif fault in FAULT_SHORTCUTS:
        status, code, reason, default_retry = FAULT_SHORTCUTS[fault]
        rule.update(kind="error", status=status, serverErrorCode=code,
                    reason=asked.get("reason", reason))
        retry = retry_after if retry_after is not None else default_retry
        if retry is not None:
            rule["retryAfter"] = retry
    elif fault is None and "status" in asked:
        status = checked_status(asked["status"])
        rule.update(kind="error", status=status,
                    serverErrorCode=asked.get("serverErrorCode",
                                             CODE_FOR_STATUS.get(status, "INTERNAL_ERROR")),
                    reason=asked.get("reason", "injected fault"))
        if retry_after is not None:
            rule["retryAfter"] = retry_after
    else:
        raise BadRequest("unknown fault; use status, or fault drop, slow, non-json, "
                         + ", ".join(sorted(FAULT_SHORTCUTS)))
    return rule


def checked_status(status):
    if isinstance(status, bool) or not isinstance(status, int) or not 100 <= status <= 599:
        raise BadRequest("status must be an HTTP status code")
    return status


class Route:
    def __init__(self, endpoint, authenticated, container=None):
        self.endpoint = endpoint
        self.authenticated = authenticated  # needs ckAPIToken and a web auth token
        self.container = container


def resolve(method, path):
    """Maps a request to a Route, or to the Reply that a wrong path or method deserves."""
    not_found = error_reply(404, "NOT_FOUND", "no such endpoint")
    if path == "/signin":
        return Route("signin", False) if method == "GET" else not_found
    if path == "/aps":
        return Route("courier", False) if method == "GET" else not_found
    parts = path.split("/")[1:]
    if len(parts) < 5 or parts[1] != "1" or "" in parts:
        return not_found
    root, container, environment = parts[0], parts[2], parts[3]
    if root == "device" and len(parts) == 6 and parts[4] == "tokens" \
            and parts[5] in ("create", "register"):
        if method != "POST":
            return error_reply(405, "BAD_REQUEST", "method not allowed")
        return Route("tokens/" + parts[5], True, container)
    if root != "database":
        return not_found
    if parts[4] == "tokens" and "/".join(parts[5:]) in ("create", "register"):
        # Apple's pages put the token calls here, but the live service answers 405 and no JSON.
        return Reply(405, b"Method Not Allowed", "text/plain")
    found = DATABASE_ROUTES.get((parts[4], "/".join(parts[5:])))
    if found is None:
        return not_found
    endpoint, methods = found
    if method not in methods:
        return error_reply(405, "BAD_REQUEST", "method not allowed")
    return Route(endpoint, True, container)


class Handler(BaseHTTPRequestHandler):
    # HTTP/1.1 with a Content-Length on every answer keeps the client's connections alive.
    protocol_version = "HTTP/1.1"
    # Headers and body leave in separate writes; without this, Nagle's algorithm holds the body
    # back until the client's delayed acknowledgement, 40 ms later on Linux.
    disable_nagle_algorithm = True
    server_version = "cloudkit-double/1"

    def do_GET(self):
        self.dispatch("GET")

    def do_POST(self):
        self.dispatch("POST")

    def do_DELETE(self):
        self.dispatch("DELETE")

    def do_PUT(self):
        self.dispatch("PUT")

    def log_message(self, fmt, *args):
        # The stock log line quotes the request line, query string and tokens included; we log
        # our own line per request instead.
        pass

    @property
    def cloud(self):
        return self.server.cloud

    def dispatch(self, method):
        url = urlsplit(self.path)
        path = url.path
        query = parse_qs(url.query, keep_blank_values=True)
        try:
            raw = self.read_body()
        except (ValueError, OSError):
            self.send(error_reply(400, "BAD_REQUEST", "unreadable body"), method, path)
            self.close_connection = True
            return
        if path.startswith("/_double/"):
            self.send(self.control(method, path, raw), method, path, remember=False)
            return
        route = resolve(method, path)
        if isinstance(route, Reply):
            self.send(route, method, path)
            return
        token = first(query, "ckWebAuthToken") or first(query, "ckSession")
        token_state = self.cloud.token_state(token) if route.authenticated else None
        rule = self.cloud.take_fault(route.endpoint)
        if rule is not None:
            if rule["kind"] == "drop":
                self.drop(method, path, token_state)
                return
            if rule["kind"] != "slow":
                self.send(self.fault_reply(rule), method, path, token_state)
                return
            time.sleep(rule["delay"])  # then answer as usual
        if route.authenticated:
            reply, token_state = self.authenticated(route, query, token, raw)
        elif route.endpoint == "signin":
            reply = self.signin(query)
        else:
            reply = self.courier(query)
        self.send(reply, method, path, token_state)

    def authenticated(self, route, query, token, raw):
        if first(query, "ckAPIToken") != self.server.opts.api_token:
            return error_reply(401, "AUTHENTICATION_FAILED", "invalid API token"), \
                self.cloud.token_state(token)
        account = self.cloud.claim_token(token)
        if account is None:
            return error_reply(421, "AUTHENTICATION_REQUIRED", "request needs authorization",
                               redirectURL=self.cloud.signin_redirect()), \
                "used" if token else "none"
        # The token is spent from here on, so every answer below carries its successor, even a
        # 400: a client that keeps its old token when the header is missing stays in step.
        try:
            bodiless = route.endpoint in ("users/caller", "subscriptions/list")
            body = {} if bodiless else parse_json(raw)
            reply = json_reply(200, self.perform(route, body, account))
        except BadRequest as bad:
            reply = error_reply(400, "BAD_REQUEST", str(bad))
        except Exception as exc:  # a bug in the double must not leave the client tokenless
            self.server.log("internal error: %r" % exc)
            reply = error_reply(500, "INTERNAL_ERROR", "internal error")
        reply.headers.append((AUTH_HEADER, self.cloud.mint_token(account)))
        return reply, "fresh"

    def perform(self, route, body, account):
        cloud, endpoint = self.cloud, route.endpoint
        if endpoint == "users/caller":
            # Every account shares the one database; only who it says is calling differs.
            user = cloud.user if account == DEFAULT_ACCOUNT else "_" + account.split("@")[0]
            return {"users": [{"userRecordName": user, "lookupInfo": {"emailAddress": account}}]}
        if endpoint == "records/lookup":
            return cloud.lookup_records(body)
        if endpoint == "records/modify":
            return cloud.modify_records(body)
        if endpoint == "subscriptions/modify":
            return cloud.modify_subscriptions(body)
        if endpoint == "subscriptions/lookup":
            return cloud.lookup_subscriptions(body)
        if endpoint == "subscriptions/list":
            return cloud.list_subscriptions()
        if endpoint == "tokens/create":
            return cloud.create_courier_token(route.container, body)
        return cloud.register_courier_token(body)

    def signin(self, query):
        # Stands in for Apple's sign-in page: the user "signs in" at once and the browser is
        # sent to the app's callback, with the token under both names Apple's script uses.
        # ?account=… signs in someone else, as another person's browser would.
        account = first(query, "account") or DEFAULT_ACCOUNT
        token = quote(self.cloud.mint_token(account), safe="")
        callback = self.server.opts.callback
        separator = "&" if "?" in callback else "?"
        location = "%s%sckWebAuthToken=%s&ckSession=%s" % (callback, separator, token, token)
        return Reply(302, b"", None, [("Location", location)])

    def courier(self, query):
        frame = self.cloud.poll(first(query, "tok"), self.peer_closed)
        if frame is None:
            return json_reply(404, {"error": "unknown or expired courier token"})
        return Reply(200, frame, "application/json" if frame else None)

    def fault_reply(self, rule):
        if rule["kind"] == "non-json":
            return Reply(rule["status"], NON_JSON_BODY, "text/html")
        redirect = self.cloud.signin_redirect() if rule["status"] == 421 else None
        return error_reply(rule["status"], rule["serverErrorCode"], rule["reason"],
                           retryAfter=rule.get("retryAfter"), redirectURL=redirect)

    def control(self, method, path, raw):
        cloud = self.cloud
        try:
            if path == "/_double/faults" and method == "POST":
                return json_reply(200, {"id": cloud.add_fault(parse_json(raw))})
            if path == "/_double/faults" and method == "DELETE":
                return json_reply(200, {"cleared": cloud.clear_faults()})
            if path == "/_double/faults" and method == "GET":
                return json_reply(200, {"faults": cloud.snapshot()["faults"]})
            if path == "/_double/state" and method == "GET":
                return json_reply(200, cloud.snapshot())
            if path == "/_double/expire-courier-tokens" and method == "POST":
                return json_reply(200, {"expired": cloud.expire_couriers()})
            if path == "/_double/revoke-tokens" and method == "POST":
                return json_reply(200, {"revoked": cloud.revoke_tokens()})
        except BadRequest as bad:
            return error_reply(400, "BAD_REQUEST", str(bad))
        return error_reply(404, "NOT_FOUND", "no such control endpoint")

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            chunks = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline().strip():  # trailers
                        pass
                    return b"".join(chunks)
                chunks.append(self.rfile.read(size))
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def peer_closed(self):
        """True once the client has closed its end (readable, yet nothing to read)."""
        try:
            readable, _, _ = select.select([self.connection], [], [], 0)
            return bool(readable) and self.connection.recv(1, socket.MSG_PEEK) == b""
        except OSError:
            return True

    def drop(self, method, path, token_state):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.record_request(method, path, 0, token_state, True)

    def send(self, reply, method, path, token_state=None, remember=True):
        try:
            self.send_response(reply.status)
            for name, value in reply.headers:
                self.send_header(name, value)
            if reply.content_type:
                self.send_header("Content-Type", reply.content_type)
            self.send_header("X-Apple-Request-UUID", str(uuid.uuid4()))
            self.send_header("Content-Length", str(len(reply.body)))
            self.end_headers()
            self.wfile.write(reply.body)
            self.wfile.flush()
        except OSError:
            self.close_connection = True  # the client went away; nothing more to do
        self.record_request(method, path, reply.status, token_state, remember)

    def record_request(self, method, path, status, token_state, remember):
        if remember:
            self.cloud.remember(method, path, status, token_state)
        self.server.log("%s %s %s" % (method, path, status or "dropped"))


def first(query, name):
    values = query.get(name)
    return values[0] if values else None


def parse_json(raw):
    if not raw:
        raise BadRequest("a JSON body is required")
    try:
        body = json.loads(raw.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise BadRequest("the body is not valid JSON") from None
    if not isinstance(body, dict):
        raise BadRequest("the body must be a JSON object")
    return body


class DoubleServer(ThreadingHTTPServer):
    daemon_threads = True  # open long-polls must not hold up exit
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, opts, cloud):
        self.opts = opts
        self.cloud = cloud
        self.log_lock = threading.Lock()
        self.log_file = open(opts.log, "a", buffering=1) if opts.log else sys.stderr
        super().__init__(("127.0.0.1", opts.port), Handler)

    def log(self, line):
        stamp = time.strftime("%H:%M:%S") + ".%03d" % (int(time.time() * 1000) % 1000)
        with self.log_lock:
            self.log_file.write("%s %s\n" % (stamp, line))
            self.log_file.flush()

    def handle_error(self, request, client_address):
        # A client that hangs up mid-request is routine here, not worth a traceback.
        exc = sys.exc_info()[1]
        if not isinstance(exc, (ConnectionError, TimeoutError)):
            self.log("error while serving a request: %r" % exc)


def write_atomically(path, text):
    # Whoever waits for the file must never read half of it.
    directory = os.path.dirname(os.path.abspath(path))
    fd, temp = tempfile.mkstemp(dir=directory, prefix=".port-")
    with os.fdopen(fd, "w") as out:
        out.write(text)
    os.replace(temp, path)


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="Local test double of CloudKit Web Services (listens on 127.0.0.1 only).")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (0: any free one)")
    parser.add_argument("--port-file", help="also write the base URL to this file, atomically")
    parser.add_argument("--api-token", default="test-api-token",
                        help="the ckAPIToken every API call must carry")
    parser.add_argument("--callback", default="http://127.0.0.1:47319/zorvik-signin",
                        help="where /signin redirects with the new web auth token")
    parser.add_argument("--courier-hold", type=float, default=25.0,
                        help="seconds a courier long-poll waits before an empty answer")
    parser.add_argument("--courier-ttl", type=int, default=43200,
                        help="seconds a courier token lives after tokens/create")
    parser.add_argument("--log", help="append the request log here instead of stderr")
    return parser.parse_args(argv)


def main(argv=None):
    opts = parse_args(argv)
    # A courier poll woken by a write waits for the interpreter's lock, which the writing thread
    # would hold for up to 5 ms by default: a real service answers both at once.
    sys.setswitchinterval(0.0005)
    cloud = Cloud(opts)
    server = DoubleServer(opts, cloud)
    cloud.base_url = "http://127.0.0.1:%d" % server.server_address[1]

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    serving = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                               daemon=True)
    serving.start()

    # The port file first: whoever has read the line on stdout may then rely on the file too.
    if opts.port_file:
        write_atomically(opts.port_file, cloud.base_url + "\n")
    print(cloud.base_url, flush=True)

    while not stop.wait(0.5):  # a timed wait keeps the signal handlers responsive
        pass
    cloud.stop()
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
