#!/usr/bin/env python3
"""Checks the CloudKit test double end to end: starts it, talks to it over HTTP, stops it.

Prints one line per check and finishes with "N passed, M failed"; exits non-zero on a failure.
"""

import http.client
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request
from urllib.parse import parse_qs, quote, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
DOUBLE = os.path.join(HERE, "cloudkit-double.py")
API_TOKEN = "selftest-api-token"
CALLBACK = "http://127.0.0.1:9/cb"
CONTAINER = "iCloud.example.selftest"
DB = "/database/1/%s/production" % CONTAINER
DEVICE = "/device/1/%s/production" % CONTAINER

passed, failed = 0, 0


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
        print("ok    " + name)
    else:
        failed += 1
        print("FAIL  %s %s" % (name, detail))


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


OPENER = urllib.request.build_opener(NoRedirect)


def request(method, url, body=None, timeout=10):
    """(status, headers, raw body) without raising on HTTP error statuses."""
    data = None if body is None else json.dumps(body).encode()
    req = urllib.request.Request(url, data=data, method=method)
    if data is not None:
        req.add_header("Content-Type", "text/plain")
    try:
        with OPENER.open(req, timeout=timeout) as resp:
            return resp.status, resp.headers, resp.read()
    except urllib.error.HTTPError as err:
        return err.code, err.headers, err.read()


def as_json(raw):
    try:
        return json.loads(raw)
    except ValueError:
        return None


class Client:
    """One sign-in chain: keeps the newest web auth token, as the real client must."""

    def __init__(self, base):
        self.base = base
        self.token = None

    def sign_in(self):
        status, headers, _ = request("GET", self.base + "/signin")
        query = parse_qs(urlsplit(headers["Location"]).query)
        self.token = query["ckWebAuthToken"][0]
        return status, headers["Location"], query

    def url(self, path, token=None, api=API_TOKEN, name="ckWebAuthToken"):
        token = self.token if token is None else token
        url = "%s%s?ckAPIToken=%s" % (self.base, path, quote(api, safe=""))
        return url + ("&%s=%s" % (name, quote(token, safe="")) if token else "")

    def call(self, method, path, body=None, **kw):
        status, headers, raw = request(method, self.url(path, **kw), body)
        if headers.get("X-Apple-CloudKit-Web-Auth-Token"):
            self.token = headers["X-Apple-CloudKit-Web-Auth-Token"]
        return status, headers, as_json(raw)


def control(base, method, path, body=None):
    status, _, raw = request(method, base + "/_double/" + path, body)
    return status, as_json(raw)


def fault(base, **rule):
    return control(base, "POST", "faults", rule)


def start_double(port_file, log_file):
    proc = subprocess.Popen(
        [sys.executable, DOUBLE, "--port-file", port_file, "--api-token", API_TOKEN,
         "--callback", CALLBACK, "--courier-hold", "1", "--log", log_file],
        stdout=subprocess.PIPE, text=True)
    base = proc.stdout.readline().strip()
    return proc, base


def poll_in_background(url):
    result = {}

    def run():
        started = time.monotonic()
        result["status"], _, result["raw"] = request("GET", url)
        result["elapsed"] = time.monotonic() - started

    thread = threading.Thread(target=run)
    thread.start()
    return thread, result


def wait_for(predicate, timeout=3.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def test_auth(base):
    c = Client(base)
    status, _, body = c.call("GET", DB + "/public/users/caller", api="wrong")
    check("wrong ckAPIToken gives 401", status == 401
          and body["serverErrorCode"] == "AUTHENTICATION_FAILED", body)

    status, _, body = c.call("GET", DB + "/public/users/caller")
    check("no token gives 421 with redirectURL", status == 421
          and body["serverErrorCode"] == "AUTHENTICATION_REQUIRED"
          and body["redirectURL"] == base + "/signin", body)

    status, location, query = c.sign_in()
    check("sign-in redirects to the callback with the token under both names",
          status == 302 and location.startswith(CALLBACK + "?ckWebAuthToken=")
          and query["ckWebAuthToken"] == query["ckSession"])
    check("tokens contain characters that need URL-encoding",
          all(ch in c.token for ch in "+/="), c.token)

    first = c.token
    status, headers, body = c.call("GET", DB + "/public/users/caller")
    user = body["users"][0]["userRecordName"] if status == 200 else ""
    check("users/caller answers the user", status == 200 and user.startswith("_")
          and len(user) == 33 and body["users"][0]["lookupInfo"]["emailAddress"], body)
    check("the answer carries a new token", c.token != first and bool(c.token))

    status, headers, body = c.call("GET", DB + "/public/users/caller", token=first)
    check("a used token gives 421", status == 421 and "redirectURL" in body
          and "X-Apple-CloudKit-Web-Auth-Token" not in headers, body)

    status, _, _ = c.call("GET", DB + "/public/users/caller", name="ckSession")
    check("ckSession is accepted in place of ckWebAuthToken", status == 200)

    raw_plus = "%s%s/public/users/caller?ckAPIToken=%s&ckWebAuthToken=%s" % (
        base, DB, API_TOKEN, c.token)
    status, _, _ = request("GET", raw_plus)
    check("a token sent without URL-encoding is refused", status == 421)

    kept = c.token
    fault(base, endpoint="users/caller", status=503, serverErrorCode="TRY_AGAIN_LATER",
          reason="busy", retryAfter=3, count=1)
    status, headers, body = c.call("GET", DB + "/public/users/caller")
    check("an injected fault answers as asked, without a new token", status == 503
          and body["retryAfter"] == 3 and body["reason"] == "busy" and "uuid" in body
          and "X-Apple-CloudKit-Web-Auth-Token" not in headers, body)
    status, _, _ = c.call("GET", DB + "/public/users/caller")
    check("the token survives a fault answer", status == 200 and c.token != kept)

    other = Client(base)
    other.sign_in()
    s1, _, _ = c.call("GET", DB + "/public/users/caller")
    s2, _, _ = other.call("GET", DB + "/public/users/caller")
    check("two sign-in chains work side by side", s1 == 200 and s2 == 200)

    control(base, "POST", "revoke-tokens")
    status, _, _ = c.call("GET", DB + "/public/users/caller")
    check("revoke-tokens signs every chain out", status == 421)

    _, state = control(base, "GET", "state")
    kinds = {r["token"] for r in state["requests"] if r["path"].endswith("users/caller")}
    check("state tells fresh, used and absent tokens apart",
          {"fresh", "used", "none"} <= kinds, kinds)
    check("state keeps control calls out of the request list",
          all(not r["path"].startswith("/_double/") for r in state["requests"]))


def test_records(base):
    c = Client(base)
    c.sign_in()
    record = {"recordName": "pending-code", "recordType": "PendingCode",
              "fields": {"blob": {"value": "AAECAwQF", "type": "BYTES"},
                         "expiresAt": {"value": 1767225600000, "type": "TIMESTAMP"},
                         "note": {"value": "x", "type": "STRING"}}}
    status, _, body = c.call("POST", DB + "/private/records/modify",
                             {"operations": [{"operationType": "create", "record": record}],
                              "zoneID": {"zoneName": "_defaultZone"}})
    saved = body["records"][0] if status == 200 else {}
    check("records/modify creates", status == 200 and saved.get("recordChangeTag")
          and saved["fields"] == record["fields"] and saved["deleted"] is False
          and saved["created"]["deviceID"] == "2", body)

    status, _, body = c.call("POST", DB + "/private/records/lookup",
                             {"records": [{"recordName": "pending-code"}, {"recordName": "nope"}],
                              "zoneID": {"zoneName": "_defaultZone"},
                              "desiredKeys": ["blob", "expiresAt"]})
    found, missing = body["records"] if status == 200 else ({}, {})
    check("records/lookup returns BYTES and TIMESTAMP unchanged", found.get("fields") == {
        "blob": record["fields"]["blob"], "expiresAt": record["fields"]["expiresAt"]}
        and found["recordType"] == "PendingCode"
        and found["modified"]["userRecordName"].startswith("_"), found)
    check("a missing record is a per-record NOT_FOUND", missing == {
        "recordName": "nope", "reason": "Record not found", "serverErrorCode": "NOT_FOUND"},
        missing)

    status, _, body = c.call("POST", DB + "/private/records/lookup",
                             {"records": [{"recordName": "pending-code"}],
                              "zoneID": {"zoneName": "elsewhere"}})
    check("another zone is ZONE_NOT_FOUND", status == 200
          and body["records"][0]["serverErrorCode"] == "ZONE_NOT_FOUND", body)

    status, headers, body = c.call("POST", DB + "/private/records/lookup", {"records": 3})
    check("a malformed body is 400 BAD_REQUEST (with a new token)", status == 400
          and body["serverErrorCode"] == "BAD_REQUEST"
          and "X-Apple-CloudKit-Web-Auth-Token" in headers, body)

    status, _, body = c.call("POST", DB + "/private/records/modify",
                             {"operations": [{"operationType": "create", "record": record}]})
    check("creating an existing record is EXISTS",
          body["records"][0]["serverErrorCode"] == "EXISTS", body)

    stale = dict(record, recordChangeTag="stale", fields={"note": {"value": "y"}})
    status, _, body = c.call("POST", DB + "/private/records/modify",
                             {"operations": [{"operationType": "update", "record": stale}]})
    check("an update with a stale tag is CONFLICT",
          body["records"][0]["serverErrorCode"] == "CONFLICT", body)

    fresh = dict(stale, recordChangeTag=saved["recordChangeTag"])
    status, _, body = c.call("POST", DB + "/private/records/modify",
                             {"operations": [{"operationType": "update", "record": fresh}]})
    updated = body["records"][0]
    check("an update with the current tag merges fields and changes the tag",
          updated.get("recordChangeTag") not in (None, saved["recordChangeTag"])
          and updated["fields"]["note"] == {"value": "y"} and "blob" in updated["fields"], body)

    bad = dict(record, recordName="bad", fields={"blob": {"value": "not base64!", "type": "BYTES"}})
    status, _, body = c.call("POST", DB + "/private/records/modify",
                             {"operations": [{"operationType": "forceReplace", "record": bad}]})
    check("a BYTES field that is not base64 is refused",
          body["records"][0]["serverErrorCode"] == "BAD_REQUEST", body)


def test_subscriptions(base):
    c = Client(base)
    c.sign_in()
    sub = {"subscriptionID": "pending-code-changes", "subscriptionType": "query",
           "query": {"recordType": "PendingCode"}, "firesOn": ["create", "update"],
           "zoneID": {"zoneName": "_defaultZone"},
           "notificationInfo": {"shouldSendContentAvailable": True}}
    ops = {"operations": [{"operationType": "create", "subscription": sub}]}
    status, _, body = c.call("POST", DB + "/private/subscriptions/modify", ops)
    check("subscriptions/modify saves a new subscription",
          status == 200 and body["subscriptions"] == [sub], body)
    status, _, body = c.call("POST", DB + "/private/subscriptions/modify", ops)
    check("saving the same ID again is a per-item EXISTS", status == 200
          and body["subscriptions"] == [{"subscriptionID": "pending-code-changes",
                                         "serverErrorCode": "EXISTS",
                                         "reason": "subscription already exists"}]
          if status == 200 else False, body)
    status, _, body = c.call("POST", DB + "/private/subscriptions/lookup",
                             {"subscriptions": [{"subscriptionID": "pending-code-changes"},
                                                {"subscriptionID": "other"}]})
    check("subscriptions/lookup finds one and misses the other",
          body["subscriptions"][0] == sub
          and body["subscriptions"][1]["serverErrorCode"] == "NOT_FOUND", body)
    status, _, body = c.call("GET", DB + "/private/subscriptions/list")
    check("subscriptions/list (GET) lists it", body["subscriptions"] == [sub], body)
    status, _, body = c.call("POST", DB + "/private/subscriptions/list", {})
    check("subscriptions/list (POST) lists it", body["subscriptions"] == [sub], body)


def test_courier(base):
    c = Client(base)
    c.sign_in()
    status, body = request("POST", c.base + "/database/1/x/production/tokens/create"
                           "?ckAPIToken=" + API_TOKEN, {"apnsEnvironment": "production"})[::2]
    check("tokens/create under /database/ is 405", status == 405)

    status, _, body = c.call("POST", DEVICE + "/tokens/create", {"apnsEnvironment": "production"})
    apns = body.get("apnsToken", "") if body else ""
    url = body.get("webcourierURL", "") if body else ""
    check("tokens/create hands out a token and a courier URL", status == 200
          and len(apns) == 64 and url == "%s/aps?tok=%s&ttl=43200" % (base, apns), body)

    status, _, raw = request("GET", url)
    check("an idle poll ends with an empty 200 after the hold", status == 200 and raw == b"")

    record = {"recordName": "pending-code", "recordType": "PendingCode",
              "fields": {"blob": {"value": "AQID", "type": "BYTES"}}}
    c.call("POST", DB + "/private/records/modify",
           {"operations": [{"operationType": "forceReplace", "record": record}]})
    _, state = control(base, "GET", "state")
    check("nothing is queued for an unregistered token",
          state["courierTokens"][apns] == {"registered": False, "queued": 0, "expired": False,
                                           "polling": 0}, state["courierTokens"])

    status, _, body = c.call("POST", DEVICE + "/tokens/register",
                             {"apnsEnvironment": "production", "apnsToken": apns})
    check("tokens/register answers {}", status == 200 and body == {}, body)

    thread, result = poll_in_background(url)
    wait_for(lambda: control(base, "GET", "state")[1]["courierTokens"][apns]["polling"] == 1)
    c.call("POST", DB + "/private/records/modify",
           {"operations": [{"operationType": "forceUpdate", "record": record}]})
    thread.join()
    frame = as_json(result["raw"]) or {}
    user = control(base, "GET", "state")[1]["userRecordName"]
    nid = frame.get("ck", {}).get("nid", "")
    check("a waiting poll gets one frame of the expected shape", result["status"] == 200
          and result["elapsed"] < 1 and frame == {
              "aps": {"content-available": 1},
              "ck": {"ce": 2, "cid": CONTAINER, "ckuserid": user, "nid": nid,
                     "qry": {"dbs": 1, "fo": 2, "rid": "pending-code",
                             "sid": "pending-code-changes", "zid": "_defaultZone",
                             "zoid": user}}} and len(nid) == 36, result)
    check("the frame's keys come in the documented order",
          result["raw"].startswith(b'{"aps":{"content-available":1},"ck":{"ce":2,"cid":'))

    second = {"subscriptionID": "second", "subscriptionType": "query",
              "query": {"recordType": "PendingCode"}, "firesOn": ["create", "delete"]}
    c.call("POST", DB + "/private/subscriptions/modify",
           {"operations": [{"operationType": "create", "subscription": second}]})
    c.call("POST", DB + "/private/records/modify",
           {"operations": [{"operationType": "create",
                            "record": dict(record, recordName="another")}]})
    frames = [as_json(request("GET", url)[2]) for _ in range(2)]
    check("one change matching two subscriptions queues two frames, same nid",
          [f["ck"]["qry"]["sid"] for f in frames] == ["pending-code-changes", "second"]
          and frames[0]["ck"]["nid"] == frames[1]["ck"]["nid"]
          and all(f["ck"]["qry"]["fo"] == 1 for f in frames), frames)

    c.call("POST", DB + "/private/records/modify",
           {"operations": [{"operationType": "forceDelete", "record": {"recordName": "another"}}]})
    frame = as_json(request("GET", url)[2])
    check("a delete fires fo=3 for the subscription that asked for deletes",
          frame["ck"]["qry"]["fo"] == 3 and frame["ck"]["qry"]["sid"] == "second", frame)

    status, _, raw = request("GET", base + "/aps?tok=%s&ttl=43200" % ("0" * 64))
    check("an unknown courier token is 404", status == 404 and as_json(raw) is not None)

    thread, result = poll_in_background(url)
    wait_for(lambda: control(base, "GET", "state")[1]["courierTokens"][apns]["polling"] == 1)
    control(base, "POST", "expire-courier-tokens")
    thread.join()
    check("expiry ends an open poll with 404 at once",
          result["status"] == 404 and result["elapsed"] < 0.9, result)
    status, _, _ = request("GET", url)
    check("an expired courier token is 404", status == 404)


def test_faults(base):
    c = Client(base)
    c.sign_in()
    caller = DB + "/public/users/caller"
    expected = {"421": (421, "AUTHENTICATION_REQUIRED"), "401": (401, "AUTHENTICATION_FAILED"),
                "403-adp": (403, "ACCESS_DENIED"), "429": (429, "THROTTLED"),
                "503": (503, "TRY_AGAIN_LATER"), "500": (500, "INTERNAL_ERROR")}
    for name, (code, server_code) in expected.items():
        status, reply = fault(base, endpoint="users/caller", fault=name, count=1)
        status2, headers, body = c.call("GET", caller)
        ok = status == 200 and "id" in reply and status2 == code \
            and body["serverErrorCode"] == server_code \
            and "X-Apple-CloudKit-Web-Auth-Token" not in headers
        if name == "421":
            ok = ok and body["redirectURL"] == base + "/signin"
        if name == "403-adp":
            ok = ok and body["reason"] == "private db access disabled for this account"
        if name == "429":
            ok = ok and body["retryAfter"] == 2
        check("fault %s" % name, ok, body)

    fault(base, endpoint="records/lookup", fault="drop", count=1)
    try:
        request("POST", c.url(DB + "/private/records/lookup"), {"records": []})
        dropped = False
    except (OSError, http.client.HTTPException):
        dropped = True
    check("fault drop closes the connection without an answer", dropped)

    fault(base, endpoint="records/modify", fault="non-json", status=503, count=1)
    status, headers, raw = request("POST", c.url(DB + "/private/records/modify"),
                                   {"operations": []})
    check("fault non-json answers HTML", status == 503
          and headers["Content-Type"].startswith("text/html") and raw.startswith(b"<html>"))

    fault(base, endpoint="users/caller", fault="slow", delay=0.4, count=1)
    started = time.monotonic()
    status, headers, _ = c.call("GET", caller)
    check("fault slow answers normally after the delay", status == 200
          and time.monotonic() - started >= 0.4
          and "X-Apple-CloudKit-Web-Auth-Token" in headers)

    fault(base, endpoint="users/caller", fault="429", count=2)
    statuses = [c.call("GET", caller)[0] for _ in range(3)]
    check("a counted rule applies that many times, then goes", statuses == [429, 429, 200],
          statuses)

    fault(base, endpoint="*", fault="500")
    s1 = request("GET", base + "/aps?tok=x&ttl=1")[0]
    s2 = request("GET", base + "/signin")[0]
    s3 = c.call("GET", caller)[0]
    status, body = control(base, "DELETE", "faults")
    s4 = c.call("GET", caller)[0]
    check("endpoint * covers the courier and sign-in until cleared",
          (s1, s2, s3, s4) == (500, 500, 500, 200) and body["cleared"] == 1, (s1, s2, s3, s4))

    status, body = fault(base, endpoint="nowhere", fault="500")
    check("an unknown fault endpoint is refused", status == 400, body)


def test_http(base):
    status, _, raw = request("GET", base + "/nothing/here")
    check("an unknown path is 404 NOT_FOUND", status == 404
          and as_json(raw)["serverErrorCode"] == "NOT_FOUND")

    host, port = urlsplit(base).hostname, urlsplit(base).port
    conn = http.client.HTTPConnection(host, port, timeout=5)
    statuses = []
    for _ in range(3):
        conn.request("GET", "/_double/state")
        resp = conn.getresponse()
        resp.read()
        statuses.append((resp.status, resp.getheader("Content-Length") is not None))
    sock_kept = conn.sock is not None
    conn.close()
    check("one connection serves several requests (keep-alive)",
          statuses == [(200, True)] * 3 and sock_kept, statuses)


def main():
    started = time.monotonic()
    with tempfile.TemporaryDirectory() as tmp:
        port_file = os.path.join(tmp, "port")
        log_file = os.path.join(tmp, "log")
        proc, base = start_double(port_file, log_file)
        try:
            check("prints its base URL", base.startswith("http://127.0.0.1:"), base)
            with open(port_file) as f:
                check("writes the port file", f.read().strip() == base)
            for test in (test_auth, test_records, test_subscriptions, test_courier,
                         test_faults, test_http):
                try:
                    test(base)
                except Exception as exc:  # one broken area must not hide the others
                    check(test.__name__ + " ran to the end", False, repr(exc))
        finally:
            proc.terminate()
            try:
                code = proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                code = None
            with open(log_file) as f:
                log = f.read()
        check("exits cleanly on SIGTERM", code == 0, code)
        check("the log has one line per request and no tokens",
              " GET /signin 302" in log and "ckWebAuthToken" not in log
              and "ckAPIToken" not in log, log[-300:])
    print("(%.1f s)" % (time.monotonic() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
