#include "shared/account/DeviceVaults.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

#include <chrono>
#include <functional>
#include <future>

#include "shared/util/Log.h"

// glib names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace {

// A keyring that wants to show a prompt blocks a call for 25 s; nobody waits that long for us.
constexpr std::chrono::seconds kCallLimit {3};
constexpr int kProbeLimitMs = 2000;

const SecretSchema* schema()
{
    static const SecretSchema made = [] {
        SecretSchema s {};
        s.name = "org.tovrick.Tovrick.DeviceVault";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0].name = "item";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return &made;
}

QString takeError(GError* error)
{
    if (!error)
        return {};
    const QString text = QString::fromUtf8(error->message);
    g_error_free(error);
    return text;
}

struct CallResult {
    bool ok = false;
    std::optional<QByteArray> value;
    QString error;
};

} // namespace

struct SecretServiceVault::Private {
    std::unique_ptr<DeviceVault> fallback;
    QThreadPool pool;
    bool unresponsive = false;

    // Runs `call` on the worker thread and waits for it a limited time.
    CallResult run(const char* what, std::function<CallResult(GCancellable*)> call)
    {
        if (unresponsive)
            return {};
        GCancellable* cancellable = g_cancellable_new();
        g_object_ref(cancellable); // one reference for the worker, one for us
        auto promise = std::make_shared<std::promise<CallResult>>();
        std::future<CallResult> future = promise->get_future();
        pool.start([promise, cancellable, call = std::move(call)] {
            promise->set_value(call(cancellable));
            g_object_unref(cancellable);
        });
        if (future.wait_for(kCallLimit) != std::future_status::ready) {
            g_cancellable_cancel(cancellable);
            g_object_unref(cancellable);
            unresponsive = true;
            logline::warning(QStringLiteral("device vault: the Secret Service did not answer a %1 in time; "
                                            "it is not asked again in this run").arg(QLatin1String(what)));
            return {};
        }
        g_object_unref(cancellable);
        CallResult result = future.get();
        if (!result.error.isEmpty())
            logline::warning(QStringLiteral("device vault: Secret Service %1 failed: %2").arg(QLatin1String(what), result.error));
        return result;
    }
};

SecretServiceVault::SecretServiceVault(std::unique_ptr<DeviceVault> fallback) : d(std::make_unique<Private>())
{
    d->fallback = std::move(fallback);
    d->pool.setMaxThreadCount(1);
}

SecretServiceVault::~SecretServiceVault() = default;

QString SecretServiceVault::kind() const
{
    return QStringLiteral("Secret Service");
}

VaultRead SecretServiceVault::read(const QString& item)
{
    const QByteArray name = item.toUtf8();
    CallResult result = d->run("read", [name](GCancellable* cancellable) {
        CallResult r;
        GError* error = nullptr;
        gchar* secret = secret_password_lookup_sync(schema(), cancellable, &error, "item", name.constData(),
                                                    static_cast<const char*>(nullptr));
        r.error = takeError(error);
        r.ok = r.error.isEmpty();
        if (secret) {
            const auto decoded = QByteArray::fromBase64Encoding(QByteArray(secret), QByteArray::AbortOnBase64DecodingErrors);
            secret_password_free(secret);
            if (decoded)
                r.value = *decoded;
            else
                r.error = QStringLiteral("the stored item is not base64");
        }
        return r;
    });
    if (result.value)
        return VaultRead::withValue(*result.value);
    // No answer (or an error) from the service says nothing about the item.
    if (!result.ok)
        return VaultRead::failure();
    if (!d->fallback)
        return VaultRead::nothing();
    // Left behind by a run that had no Secret Service: move it over so there is one copy.
    VaultRead old = d->fallback->read(item);
    if (const auto value = old.found(); value && write(item, *value)) {
        d->fallback->remove(item);
        logline::info(QStringLiteral("device vault: moved \"%1\" from the private file to the Secret Service").arg(item));
    }
    return old;
}

bool SecretServiceVault::write(const QString& item, const QByteArray& value)
{
    const QByteArray name = item.toUtf8();
    const QByteArray label = "Tovrick " + name;
    const QByteArray encoded = value.toBase64();
    return d->run("write", [name, label, encoded](GCancellable* cancellable) {
        CallResult r;
        GError* error = nullptr;
        r.ok = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                                          encoded.constData(), cancellable, &error, "item", name.constData(),
                                          static_cast<const char*>(nullptr));
        r.error = takeError(error);
        r.ok = r.ok && r.error.isEmpty();
        return r;
    }).ok;
}

bool SecretServiceVault::remove(const QString& item)
{
    const QByteArray name = item.toUtf8();
    return d->run("removal", [name](GCancellable* cancellable) {
        CallResult r;
        GError* error = nullptr;
        secret_password_clear_sync(schema(), cancellable, &error, "item", name.constData(),
                                   static_cast<const char*>(nullptr));
        r.error = takeError(error);
        r.ok = r.error.isEmpty();
        return r;
    }).ok;
}

bool SecretServiceVault::available()
{
    // Without an address QtDBus would autolaunch a bus of its own that outlives us.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        && (runtime.isEmpty() || !QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("bus")))))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage owned = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    owned << QStringLiteral("org.freedesktop.secrets");
    const QDBusMessage ownedReply = bus.call(owned, QDBus::Block, kProbeLimitMs);
    if (ownedReply.type() != QDBusMessage::ReplyMessage || !ownedReply.arguments().value(0).toBool())
        return false;
    // A missing or locked default collection would make the first store wait for a prompt.
    QDBusMessage locked = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets/aliases/default"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    locked << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusMessage lockedReply = bus.call(locked, QDBus::Block, kProbeLimitMs);
    if (lockedReply.type() != QDBusMessage::ReplyMessage)
        return false;
    QVariant value = lockedReply.arguments().value(0);
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value.typeId() == QMetaType::Bool && !value.toBool();
}
