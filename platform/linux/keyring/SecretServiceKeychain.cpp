// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/keyring/SecretServiceKeychain.h"

#include <libsecret/secret.h>

#include <QDBusConnection>

#include <functional>
#include <memory>

#include "platform/linux/keyring/SecretServiceChanges.h"
#include "platform/linux/keyring/SecretServiceUnlock.h"

namespace {

const SecretSchema* itemSchema() {
    // DONT_MATCH_NAME lets items stored by other tools (secret-tool) with the same two
    // attributes match as well.
    static const SecretSchema schema = {"net.brontal.zorvik.Keychain",
                                        SECRET_SCHEMA_DONT_MATCH_NAME,
                                        {
                                            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        },
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using ServicePtr = std::unique_ptr<SecretService, GObjectUnref>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;

std::int32_t statusFor(const GError* error) {
    if (error == nullptr) {
        return Keychain::otherFailure;
    }
    if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED) {
        return Keychain::interactionNotAllowed;
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
            case G_DBUS_ERROR_ACCESS_DENIED:
            case G_DBUS_ERROR_AUTH_FAILED:
                return Keychain::authorizationFailed;
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_NO_SERVER:
            case G_DBUS_ERROR_DISCONNECTED:
            case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
            case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
                return Keychain::notAvailable;
            default:
                return Keychain::otherFailure;
        }
    }
    // No session bus to connect to at all.
    if (error->domain == G_IO_ERROR) {
        return Keychain::notAvailable;
    }
    return Keychain::otherFailure;
}

// KWallet refuses a few sessions in a thousand ("Client public key size is invalid") and hands
// out a few more whose secrets do not decrypt, as its key agreement and libsecret's disagree on
// some keys; a session it has lost answers "Can't find session". Each depends on one session
// only, so a call that failed that way, or found an item but no secret in it, is tried once more
// on a new session. libsecret keeps one session for the whole process and would go on using the
// bad one: dropping its service makes the next call open another.
bool freshSessionMayHelp(std::int32_t status) {
    return status == Keychain::otherFailure;
}

bool freshSessionMayHelp(const Keychain::Result& result, const Keychain::Query& query) {
    const bool secretMissing = result.status == Keychain::success && query.returnData &&
                               (!result.data || result.data->isEmpty());
    return freshSessionMayHelp(result.status) || secretMissing;
}

void dropSession() {
    secret_service_disconnect();
}

// Runs `attempt` and, when its answer may be the session's fault, once more on a new session.
template <typename Attempt, typename MayHelp>
auto withFreshSessionOnce(Attempt attempt, MayHelp mayHelp) {
    auto answer = attempt();
    if (mayHelp(answer)) {
        dropSession();
        answer = attempt();
    }
    return answer;
}

std::int32_t withFreshSessionOnce(const std::function<std::int32_t()>& attempt) {
    return withFreshSessionOnce(attempt,
                                [](std::int32_t status) { return freshSessionMayHelp(status); });
}

// Starts an asynchronous call again from the service on a new session, unless it was started
// that way already: then answers false and leaves `pending` to be answered.
template <typename Pending>
bool retriedOnFreshSession(std::unique_ptr<Pending>& pending, GAsyncReadyCallback serviceReady) {
    if (pending->retried) {
        return false;
    }
    pending->retried = true;
    dropSession();
    secret_service_get(SECRET_SERVICE_OPEN_SESSION, nullptr, serviceReady, pending.release());
    return true;
}

struct Connection {
    ServicePtr service;
    std::int32_t status = Keychain::success;
};

Connection connect() {
    GError* rawError = nullptr;
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &rawError);
    ErrorPtr error(rawError);
    if (service == nullptr) {
        return {nullptr, statusFor(error.get())};
    }
    return {ServicePtr(service), Keychain::success};
}

AttributesPtr attributesFor(const Keychain::Query& query) {
    const QByteArray service = query.service.toUtf8();
    const QByteArray account = query.account.toUtf8();
    return AttributesPtr(secret_attributes_build(itemSchema(), "service", service.constData(),
                                                 "account", account.constData(), nullptr));
}

// The first matching item (locked or not), or nothing; the status tells why not.
struct Search {
    std::int32_t status = Keychain::success;
    GList* items = nullptr;
    ~Search() { g_list_free_full(items, g_object_unref); }
};

void search(SecretService* service, const Keychain::Query& query, SecretSearchFlags flags,
            Search& result) {
    const auto attributes = attributesFor(query);
    GError* rawError = nullptr;
    result.items = secret_service_search_sync(service, itemSchema(), attributes.get(), flags,
                                              nullptr, &rawError);
    ErrorPtr error(rawError);
    if (error) {
        result.status = statusFor(error.get());
    } else if (result.items == nullptr) {
        result.status = Keychain::itemNotFound;
    }
}

// The Secret Service replaces the secret of an item with the same attributes in place.
std::int32_t storeItem(SecretService* service, const Keychain::Query& query,
                       const QByteArray& data) {
    const auto attributes = attributesFor(query);
    SecretValue* value =
        secret_value_new(data.constData(), data.size(), "application/octet-stream");
    const QByteArray label = QStringLiteral("%1 (%2)").arg(query.service, query.account).toUtf8();
    GError* rawError = nullptr;
    const gboolean stored = secret_service_store_sync(service, itemSchema(), attributes.get(),
                                                      SECRET_COLLECTION_DEFAULT, label.constData(),
                                                      value, nullptr, &rawError);
    secret_value_unref(value);
    ErrorPtr error(rawError);
    return stored ? Keychain::success : statusFor(error.get());
}

// The answer to a read from the search's outcome: the first item's secret, unless it is locked.
Keychain::Result answerFor(const Search& found, const Keychain::Query& query) {
    if (found.status != Keychain::success) {
        return {found.status, std::nullopt};
    }
    auto* item = static_cast<SecretItem*>(found.items->data);
    if (secret_item_get_locked(item)) {
        return {Keychain::interactionNotAllowed, std::nullopt};
    }
    if (!query.returnData) {
        return {Keychain::success, std::nullopt};
    }
    SecretValue* value = secret_item_get_secret(item);
    if (value == nullptr) {
        return {Keychain::success, std::nullopt};
    }
    gsize length = 0;
    const gchar* data = secret_value_get(value, &length);
    QByteArray bytes(data, static_cast<qsizetype>(length));
    secret_value_unref(value);
    return {Keychain::success, bytes};
}

// A read on its way through libsecret's asynchronous calls.
struct PendingRead {
    Keychain::Query query;
    std::function<void(Keychain::Result)> done;
    bool retried = false;
};

void serviceReady(GObject*, GAsyncResult* outcome, gpointer data);

void answer(std::unique_ptr<PendingRead> read, const Keychain::Result& result) {
    if (freshSessionMayHelp(result, read->query) && retriedOnFreshSession(read, &serviceReady)) {
        return;
    }
    read->done(result);
}

void searched(GObject* source, GAsyncResult* outcome, gpointer data) {
    std::unique_ptr<PendingRead> read(static_cast<PendingRead*>(data));
    GError* rawError = nullptr;
    Search found;
    found.items = secret_service_search_finish(SECRET_SERVICE(source), outcome, &rawError);
    ErrorPtr error(rawError);
    if (error) {
        found.status = statusFor(error.get());
    } else if (found.items == nullptr) {
        found.status = Keychain::itemNotFound;
    }
    const Keychain::Result result = answerFor(found, read->query);
    answer(std::move(read), result);
}

void serviceReady(GObject*, GAsyncResult* outcome, gpointer data) {
    std::unique_ptr<PendingRead> read(static_cast<PendingRead*>(data));
    GError* rawError = nullptr;
    ServicePtr service(secret_service_get_finish(outcome, &rawError));
    ErrorPtr error(rawError);
    if (!service) {
        answer(std::move(read), {statusFor(error.get()), std::nullopt});
        return;
    }
    const auto attributes = attributesFor(read->query);
    // The search holds the service for as long as it runs.
    secret_service_search(service.get(), itemSchema(), attributes.get(), SECRET_SEARCH_LOAD_SECRETS,
                          nullptr, &searched, read.release());
}

// A store on its way through libsecret's asynchronous calls.
struct PendingStore {
    Keychain::Query query;
    QByteArray data;
    std::function<void(std::int32_t)> done;
    bool retried = false;
};

void serviceReadyToStore(GObject*, GAsyncResult* outcome, gpointer data);

void answer(std::unique_ptr<PendingStore> store, std::int32_t status) {
    if (freshSessionMayHelp(status) && retriedOnFreshSession(store, &serviceReadyToStore)) {
        return;
    }
    store->done(status);
}

void stored(GObject* source, GAsyncResult* outcome, gpointer data) {
    std::unique_ptr<PendingStore> store(static_cast<PendingStore*>(data));
    GError* rawError = nullptr;
    const gboolean done = secret_service_store_finish(SECRET_SERVICE(source), outcome, &rawError);
    ErrorPtr error(rawError);
    answer(std::move(store), done ? Keychain::success : statusFor(error.get()));
}

void serviceReadyToStore(GObject*, GAsyncResult* outcome, gpointer data) {
    std::unique_ptr<PendingStore> store(static_cast<PendingStore*>(data));
    GError* rawError = nullptr;
    ServicePtr service(secret_service_get_finish(outcome, &rawError));
    ErrorPtr error(rawError);
    if (!service) {
        answer(std::move(store), statusFor(error.get()));
        return;
    }
    const auto attributes = attributesFor(store->query);
    SecretValue* value =
        secret_value_new(store->data.constData(), store->data.size(), "application/octet-stream");
    const QByteArray label =
        QStringLiteral("%1 (%2)").arg(store->query.service, store->query.account).toUtf8();
    secret_service_store(service.get(), itemSchema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                         label.constData(), value, nullptr, &stored, store.release());
    secret_value_unref(value);
}

// A removal on its way through libsecret's asynchronous calls.
struct PendingRemoval {
    Keychain::Query query;
    std::function<void(std::int32_t)> done;
    bool retried = false;
};

void serviceReadyToRemove(GObject*, GAsyncResult* outcome, gpointer data);

void answer(std::unique_ptr<PendingRemoval> removal, std::int32_t status) {
    if (freshSessionMayHelp(status) && retriedOnFreshSession(removal, &serviceReadyToRemove)) {
        return;
    }
    removal->done(status);
}

void cleared(GObject* source, GAsyncResult* outcome, gpointer data) {
    std::unique_ptr<PendingRemoval> removal(static_cast<PendingRemoval*>(data));
    GError* rawError = nullptr;
    const gboolean removed =
        secret_service_clear_finish(SECRET_SERVICE(source), outcome, &rawError);
    ErrorPtr error(rawError);
    answer(std::move(removal), error     ? statusFor(error.get())
                               : removed ? Keychain::success
                                         : Keychain::itemNotFound);
}

void serviceReadyToRemove(GObject*, GAsyncResult* outcome, gpointer data) {
    std::unique_ptr<PendingRemoval> removal(static_cast<PendingRemoval*>(data));
    GError* rawError = nullptr;
    ServicePtr service(secret_service_get_finish(outcome, &rawError));
    ErrorPtr error(rawError);
    if (!service) {
        answer(std::move(removal), statusFor(error.get()));
        return;
    }
    const auto attributes = attributesFor(removal->query);
    secret_service_clear(service.get(), itemSchema(), attributes.get(), nullptr, &cleared,
                         removal.release());
}

}  // namespace

Keychain::Result SecretServiceKeychain::copyMatching(const Query& query) {
    const auto read = [&query]() -> Result {
        const Connection connection = connect();
        if (connection.status != success) {
            return {connection.status, std::nullopt};
        }
        Search found;
        search(connection.service.get(), query, SECRET_SEARCH_LOAD_SECRETS, found);
        return answerFor(found, query);
    };
    return withFreshSessionOnce(
        read, [&query](const Result& result) { return freshSessionMayHelp(result, query); });
}

void SecretServiceKeychain::copyMatchingLater(const Query& query,
                                              std::function<void(Result)> done) {
    // Both steps run on the main context, which Qt's event loop drives: no thread, no wait.
    secret_service_get(SECRET_SERVICE_OPEN_SESSION, nullptr, &serviceReady,
                       new PendingRead{query, std::move(done)});
}

void SecretServiceKeychain::setChangeObserver(const Query& watched, std::function<void()> changed) {
    changes_.reset();
    if (changed) {
        changes_ = std::make_unique<SecretServiceChanges>(
            QDBusConnection::sessionBus(), watched.service, watched.account, std::move(changed));
    }
}

SecretServiceKeychain::SecretServiceKeychain() = default;
SecretServiceKeychain::~SecretServiceKeychain() = default;

std::int32_t SecretServiceKeychain::add(const Query& query, const QByteArray& data) {
    return withFreshSessionOnce([&] {
        const Connection connection = connect();
        if (connection.status != success) {
            return connection.status;
        }
        Search existing;
        search(connection.service.get(), query, SECRET_SEARCH_NONE, existing);
        if (existing.status == success) {
            return std::int32_t{duplicateItem};
        }
        if (existing.status != itemNotFound) {
            return existing.status;
        }
        return storeItem(connection.service.get(), query, data);
    });
}

std::int32_t SecretServiceKeychain::store(const Query& query, const QByteArray& data) {
    return withFreshSessionOnce([&] {
        const Connection connection = connect();
        if (connection.status != success) {
            return connection.status;
        }
        return storeItem(connection.service.get(), query, data);
    });
}

void SecretServiceKeychain::storeLater(const Query& query, const QByteArray& data,
                                       std::function<void(std::int32_t)> done) {
    secret_service_get(SECRET_SERVICE_OPEN_SESSION, nullptr, &serviceReadyToStore,
                       new PendingStore{query, data, std::move(done)});
}

std::int32_t SecretServiceKeychain::remove(const Query& query) {
    return withFreshSessionOnce([&query] {
        const Connection connection = connect();
        if (connection.status != success) {
            return connection.status;
        }
        const auto attributes = attributesFor(query);
        GError* rawError = nullptr;
        const gboolean removed = secret_service_clear_sync(connection.service.get(), itemSchema(),
                                                           attributes.get(), nullptr, &rawError);
        ErrorPtr error(rawError);
        if (error) {
            return statusFor(error.get());
        }
        return removed ? std::int32_t{success} : std::int32_t{itemNotFound};
    });
}

void SecretServiceKeychain::removeLater(const Query& query,
                                        std::function<void(std::int32_t)> done) {
    secret_service_get(SECRET_SERVICE_OPEN_SESSION, nullptr, &serviceReadyToRemove,
                       new PendingRemoval{query, std::move(done)});
}

void SecretServiceKeychain::unlock(const Query& query, std::function<void(std::int32_t)> done) {
    SecretServiceUnlock::start(QDBusConnection::sessionBus(), query, std::move(done));
}

void SecretServiceKeychain::unlockWithoutPrompt(const Query& query,
                                                std::function<void(std::int32_t)> done) {
    SecretServiceUnlock::start(QDBusConnection::sessionBus(), query, std::move(done),
                               SecretServiceUnlock::Prompting::never);
}
