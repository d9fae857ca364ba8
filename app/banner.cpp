#include "app/banner.h"

#include <cstdio>

#ifndef TOLVANIS_VERSION
#define TOLVANIS_VERSION "0.0.0"
#endif

std::string bannerText(const StartupSettings& settings) {
    // The port name is shown whole, however long.
    char baud[32];
    std::snprintf(baud, sizeof baud, " baud %d\n", static_cast<int>(settings.baudRate));
    return std::string("TOLVANIS kembri console - ") + __DATE__ + " - port " + settings.portName +
           baud;
}

std::string usageText() {
    return "usage: tolvanis [-pPORT] [-bBAUDRATE] [--log FILE [--log-timestamps]]\n"
           "                [--batch [--timeout SECONDS] [--reconnect] [--expect RE]\n"
           "                [--fail-on RE]] [SCRIPT]\n"
           "  -pPORT      serial port, e.g. -pCOM1 or -p/dev/ttyUSB0 (stored for the next start),\n"
           "              or one served over the network: -prfc2217://HOST:PORT (telnet with\n"
           "              RFC 2217 port control, as ser2net serves it) or -ptcp://HOST:PORT\n"
           "              (raw bytes; -b is the server's line rate); IPv6 as [::1]\n"
           "  -bBAUDRATE  baud rate, e.g. -b115200 (stored for the next start)\n"
           "  SCRIPT      script file whose lines run one per monitor prompt\n"
           "  --help      this text;  --version  the program's version\n"
           "  --list      the serial devices present, to choose a port from\n"
           "  --log FILE  append everything shown to FILE (also --log=FILE)\n"
           "  --log-timestamps  begin each line of the log with the local time\n"
           "  --batch     run SCRIPT without keyboard or terminal and exit when it is over:\n"
           "              0 script ended (or local quit), 1 port or log cannot be opened\n"
           "              (or a bad option), 2 a command of the script failed (also local\n"
           "              pause), 3 --timeout passed, 4 the port was lost, 5 --fail-on\n"
           "              matched (1 also: the log stopped on a failed write)\n"
           "  --timeout SECONDS  with --batch: give up after SECONDS (default: no limit)\n"
           "  --reconnect  with --batch: wait for a lost port instead of exit status 4\n"
           "  --strict-rts  dsave: make each RTS pulse before reading the next byte, one\n"
           "              for every byte (slow on USB adapters; by default the pulses run\n"
           "              beside the reads)\n"
           "  --expect RE  with --batch and --timeout: status 0 also needs a line of the\n"
           "              target's output matching RE (repeatable; 3 when not seen)\n"
           "  --fail-on RE  with --batch: a line matching RE ends the run with status 5\n"
           "              (repeatable); RE is an ECMAScript regular expression (as in\n"
           "              JavaScript), searched for in each line, line ends stripped\n"
           "A port that goes away is waited for and reopened (\"port lost, waiting for it\");\n"
           "F10 F2 still quits meanwhile.\n"
           "At the monitor prompt: F1 help, F3 auto, F4 load (EXE, ECOFF or ELF),\n"
           "F9 F4 dload, F10 F4 dsave, F10 F2 quit. Where the terminal keeps F1 or F10\n"
           "for itself, Alt+1 .. Alt+0 stand for F1 .. F10.\n";
}

std::string versionText() { return "tolvanis " TOLVANIS_VERSION " (built " __DATE__ ")\n"; }
