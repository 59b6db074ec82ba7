#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <cstdio>

#include "packettunnel/ExtensionInfo.h"
#include "packettunnel/PacketTunnelPlugin.h"
#include "packettunnel/ProviderTerminationSignals.h"
#include "packettunnel/SystemProviderLog.h"

// NetworkManager starts this program when a Tarnwick VPN profile is activated.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription("The Tarnwick packet-tunnel provider (NetworkManager VPN plugin).");
    options.addHelpOption();
    options.addOption({"persist", "Keep running when NetworkManager no longer needs the plugin."});
    options.process(application);

    const auto identifier = tw::ExtensionInfo::bundleIdentifier(QCoreApplication::applicationDirPath());
    auto bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "tarnwick-packettunnel: no system bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    tw::ProviderTerminationSignals termination;
    tw::PacketTunnelPlugin plugin(
        bus, identifier,
        std::make_shared<tw::SystemProviderLog>(identifier.toStdString(), "PacketTunnelProvider"),
        options.isSet("persist"));
    if (!plugin.isServing()) {
        std::fprintf(stderr, "tarnwick-packettunnel: cannot own %s: %s\n", qPrintable(identifier),
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    QObject::connect(&plugin, &tw::PacketTunnelPlugin::finished, &application,
                     &QCoreApplication::quit);
    return application.exec();
}
