// tolvanis: a serial console for a development board's resident monitor.
#include <cstdio>
#include <memory>
#include <optional>

#include "app/banner.h"
#include "app/program_commands.h"
#include "app/command_line.h"
#include "app/settings.h"
#include "console/console.h"
#include "console/output_verdicts.h"
#include "console/session_watch.h"
#include "console/start_open.h"
#include "platform/file_names.h"
#include "console/watched_port.h"
#include "platform/host_file_io.h"
#include "platform/host_services.h"
#include "platform/keyboard.h"
#include "platform/no_keyboard.h"
#include "platform/screen.h"
#include "platform/serial_port_list.h"
#include "platform/session_log.h"
#include "platform/settings_store.h"
#include "platform/terminal.h"
#include "serial/port_address.h"
#include "serial/port_factory.h"

namespace {

constexpr int CannotStart = static_cast<int>(BatchStatus::CannotStart);

void show(Screen& screen, const std::string& text) { screen.write(text.data(), text.size()); }

// Start-up failures of the command line go to standard error, apart from
// the screen's text (which may be a file a CI job keeps).
int refuse(const std::string& reason) {
    std::fprintf(stderr, "tolvanis: %s\n", reason.c_str());
    return CannotStart;
}

// The run itself, once the options hold and the log (if any) is open.
int runSession(Screen& screen, const StartupSettings& settings, const UnattendedOptions& options,
               OutputVerdicts& verdicts, const std::string& notice) {
    // A batch run leaves the terminal's modes alone and has no keyboard.
    std::optional<platform::RawTerminal> terminal;
    if (!options.batch) terminal.emplace();
    // A URL names a port served over the network; any other name a device.
    std::unique_ptr<SerialPort> port = makeSerialPort(settings.portName);
    WatchedPort* watched = nullptr;
    if (!verdicts.empty()) {
        port = std::make_unique<WatchedPort>(std::move(port), verdicts);
        watched = static_cast<WatchedPort*>(port.get());
    }
    NoKeyboard noKeyboard;
    const auto systemKeyboard = options.batch ? nullptr : makeSystemKeyboard();
    TypedAheadKeyboard keyboard(options.batch ? static_cast<Keyboard&>(noKeyboard) : *systemKeyboard);
    SystemHostServices host;
    // A failing line that comes during a sleep or a shell command ends it.
    if (watched != nullptr) host.whileWaiting = [watched] { watched->holdWaiting(); };
    Console console(keyboard, screen, host);
    ProgramCommands commands(console, options.strictRts ? PulseMode::Strict : PulseMode::Overlapped);

    show(screen, bannerText(settings));
    show(screen, "press F1 for help\n\n");
    show(screen, notice);
    switch (openAtStart(*port, settings.portName, settings.baudRate, keyboard)) {
    case StartOpen::Opened: break;
    case StartOpen::Quit: return 0;
    case StartOpen::Failed:
        show(screen, "cannot open port\n");
        if (const std::string why = openFailureText(port->openFailure()); !why.empty()) {
            show(screen, why + "\n");
        }
        // A failure, told to the calling shell as one.
        return CannotStart;
    }
    SessionWatch::Options watching{settings.portName, settings.baudRate, options.batch,
                                   options.reconnect, options.timeoutMs,
                                   verdicts.empty() ? nullptr : &verdicts};
    SessionWatch watch(watching, *port, keyboard, screen);
    verdicts.onFailure = [&watch](const std::string& message) {
        watch.endSession(BatchStatus::FailedOn, message);
    };
    console.watch = &watch;
    console.run(port.get(), settings.hasScript, settings.scriptName.c_str());
    watch.conclude(console);
    port->close();
    verdicts.onFailure = nullptr;
    return options.batch && watch.decided() ? static_cast<int>(watch.status()) : 0;
}

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
    StartupSettings settings;
    const auto store = makeSystemSettingsStore();
    readStoredSettings(*store, settings);
    applyArguments(argc, argv, settings);
    UnattendedOptions options;
    std::string error;
    // A command line that is refused changes no stored setting.
    if (!parseUnattendedOptions(argc, argv, settings.hasScript, options, error)) return refuse(error);
    if (const std::string problem = serial::portNameProblem(settings.portName); !problem.empty()) {
        return refuse("port " + settings.portName + ": " + problem);
    }
    // The names of the files opened, as the file functions take them.
    settings.scriptName = platform::argumentFileName(settings.scriptName);

    OutputVerdicts verdicts;
    if (!verdicts.setPatterns(options.expectPatterns, options.failOnPatterns, error)) return refuse(error);

    platform::LogFile log;
    std::optional<LoggingScreen> logging;
    if (!options.logPath.empty()) {
        if (!log.open(platform::argumentFileName(options.logPath), error)) {
            return refuse("cannot open log " + options.logPath + ": " + error);
        }
        // The script would read the screen's text back as its next lines.
        if (settings.hasScript && log.isFile(settings.scriptName)) {
            return refuse("cannot open log " + options.logPath + ": it is the script file");
        }
        // Nor may a transfer, a load or a script read or cut it meanwhile.
        platform::keepFromHostFiles(log.handle());
        logging.emplace(screen, log, options.logTimestamps);
    }
    const std::string notice = storeSettings(*store, settings);
    const int status =
        runSession(logging ? static_cast<Screen&>(*logging) : screen, settings, options, verdicts, notice);
    // A CI job must not keep a truncated log and a good status.
    const bool logLost = logging && logging->stopped();
    return options.batch && status == 0 && logLost ? CannotStart : status;
}
