#include "serial/line_settings_win32.h"

#include "serial/line_timeouts.h"

namespace serial {

namespace {

// '?' stands in for the flow-control and error characters; with software
// flow control and error replacement off they are never acted on.
constexpr char UnusedCharacter = '?';
constexpr WORD FlowControlLimit = 100;
// How long the reader's wait for a byte lasts before it looks at the device
// and waits again: a removed adapter may end reads with nothing rather than
// fail them, and is noticed within this time.
constexpr std::chrono::milliseconds ReaderWait(200);

}  // namespace

void applyLineSettings(DCB& dcb, std::int32_t baudRate) {
    dcb.DCBlength = sizeof(DCB);
    // Any rate is passed on; the driver refuses those it cannot make.
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = FlowControlLimit;
    dcb.XoffLim = FlowControlLimit;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = UnusedCharacter;
    dcb.XoffChar = UnusedCharacter;
    dcb.ErrorChar = UnusedCharacter;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
}

COMMTIMEOUTS commTimeouts() {
    const auto ms = [](std::chrono::milliseconds value) { return static_cast<DWORD>(value.count()); };
    COMMTIMEOUTS timeouts{};
    // Only the port's reader thread reads the driver, one byte that waits
    // for the line and then what is already there; the line's read time-outs
    // apply where callers take the bytes it queued.
    timeouts.ReadTotalTimeoutConstant = ms(ReaderWait);
    timeouts.WriteTotalTimeoutMultiplier = ms(serial::lineTimeouts.write.perByte);
    timeouts.WriteTotalTimeoutConstant = ms(serial::lineTimeouts.write.constant);
    return timeouts;
}

}  // namespace serial
