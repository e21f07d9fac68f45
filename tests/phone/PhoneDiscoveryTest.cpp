#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include "Tovrick/phone/PhoneServer.h"
#include "Tovrick/phone/ServiceBrowser.h"
#include "phone/MemoryVault.h"
#include "shared/link/FennowService.h"
#include "phone/SimPhone.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

// scripts/with-test-services makes the discovery namespace; without it there is no daemon to talk to.
#define REQUIRE_DISCOVERY_NAMESPACE()                                                                              \
    do {                                                                                                           \
        if (qEnvironmentVariableIsEmpty("TOVRICK_TEST_NETNS")) {                                                   \
            if (!qEnvironmentVariableIsEmpty("TOVRICK_TEST_NETNS_ERROR"))                                          \
                FAIL() << qPrintable(qEnvironmentVariable("TOVRICK_TEST_NETNS_ERROR"));                            \
            GTEST_SKIP() << "no discovery namespace: run under scripts/with-test-services as root";               \
        }                                                                                                          \
    } while (false)

} // namespace

TEST(PhoneDiscovery, AdvertisedListenerIsFoundByItsIdentifierAndAPhoneGetsThrough)
{
    REQUIRE_DISCOVERY_NAMESPACE();
    installMemoryVault();
    PhoneServer server;
    server.setServiceName(uniqueServiceName());
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(waitUntil([&] { return server.isAdvertised(); }, 10s));

    const PairingRecord record = PhoneServer::pairingRecord();
    ServiceBrowser browser;
    ASSERT_TRUE(browser.browse(FennowService::serviceType));
    std::optional<ServiceBrowser::Service> found;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& service : browser.services())
                if (service.txt.value(FennowService::identifierKey) == record.identifier()->toLatin1())
                    found = service;
            return found.has_value();
        },
        10s));
    EXPECT_EQ(found->name, server.serviceName());
    EXPECT_EQ(found->port, server.port());

    SimPhone phone(found->port, *record.key(), found->address);
    EXPECT_TRUE(waitUntil([&] { return phone.received(QStringLiteral("paired")); }));

    // Withdrawn with the listener: browsers see it go.
    server.stop();
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto services = browser.services();
            return std::none_of(services.begin(), services.end(),
                                [&](const auto& s) { return s.name == found->name; });
        },
        10s));
}

TEST(PhoneDiscovery, WithoutADaemonTheListenerStillServesAndSaysItIsNotAdvertised)
{
    // In a fresh process, so that the system bus address below is the first one D-Bus sees.
    QTemporaryDir empty;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=") + empty.filePath("bus"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--gtest_also_run_disabled_tests"),
                  QStringLiteral("--gtest_filter=PhoneDiscovery.DISABLED_ServesWithoutADaemon") });
    ASSERT_TRUE(waitUntil([&] { return child.state() == QProcess::NotRunning; }, 60s));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    EXPECT_TRUE(output.contains("Fennow: phone link is not advertised")) << output.toStdString();
}

// Run by the test above in a process of its own.
TEST(PhoneDiscovery, DISABLED_ServesWithoutADaemon)
{
    installMemoryVault();
    PhoneServer server;
    server.setServiceName(uniqueServiceName());
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(server.isListening());
    SimPhone phone(server.port(), *PhoneServer::pairingRecord().key());
    EXPECT_TRUE(waitUntil([&] { return phone.received(QStringLiteral("paired")); }));
    EXPECT_FALSE(server.isAdvertised());
}
