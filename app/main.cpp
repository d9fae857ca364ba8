// tolvanis: a serial console for a development board's resident monitor.
#include <cstdio>

#include "app/banner.h"
#include "app/program_commands.h"
#include "app/settings.h"
#include "console/console.h"
#include "platform/host_services.h"
#include "platform/keyboard.h"
#include "platform/screen.h"
#include "platform/serial_port_list.h"
#include "platform/settings_store.h"
#include "platform/terminal.h"
#include "serial/port_factory.h"

namespace {

void show(Screen& screen, const std::string& text) { screen.write(text.data(), text.size()); }

}  // namespace

int main(int argc, char** argv) {
    platform::keepStandardDescriptorsOpen();
    StdoutScreen screen;
    switch (findInformationRequest(argc, argv)) {
    case InformationRequest::Help: show(screen, usageText()); return 0;
    case InformationRequest::Version: show(screen, versionText()); return 0;
    case InformationRequest::List:
        show(screen, platform::formatSerialDeviceList(platform::listSerialPorts()));
        return 0;
    case InformationRequest::None: break;
    }

    platform::watchTerminationSignals();
    platform::endWithTerminationSignalAtExit();
    platform::RawTerminal terminal;
    const auto keyboard = makeSystemKeyboard();
    SystemHostServices host;
    Console console(*keyboard, screen, host);
    ProgramCommands commands(console);

    StartupSettings settings;
    const auto store = makeSystemSettingsStore();
    readStoredSettings(*store, settings);
    applyArguments(argc, argv, settings);
    const std::string notice = storeSettings(*store, settings);

    show(screen, bannerText(settings));
    show(screen, "press F1 for help\n\n");
    show(screen, notice);

    // A URL names a port served over the network; any other name a device.
    const auto port = makeSerialPort(settings.portName);
    if (!port->open(settings.portName.c_str(), settings.baudRate)) {
        show(screen, "cannot open port\n");
        // A failure, told to the calling shell as one.
        return 1;
    }
    console.run(port.get(), settings.hasScript, settings.scriptName.c_str());
    port->close();
    return 0;
}
