#include "transfer/data_file_job.h"

bool DataFileJob::openFile(const char* path) {
    handle = platform::openFileForReading(path);
    if (!isOpen()) return false;
    std::uint64_t size = 0;
    if (!platform::fileSize(handle, size)) size = 0;
    if (size > MaxDataFileSize) return false;  // the caller closes the file
    length = static_cast<std::uint32_t>(size);
    return true;
}

bool DataFileJob::openForWrite(const char* path) {
    handle = platform::createFileForWriting(path);
    return isOpen();
}

bool DataFileJob::sendFile(SerialPort* portIn, std::uint32_t addressIn) {
    port = portIn;
    address = addressIn;
    return startSend();
}

bool DataFileJob::receiveFile(SerialPort* portIn, std::uint32_t addressIn, std::uint32_t lengthIn) {
    port = portIn;
    address = addressIn;
    length = lengthIn;
    return startReceive();
}

bool DataFileJob::startReceive() {
    return startWorker([this] { return receive(); });
}

bool DataFileJob::send() {
    return sendExchange(port, 0, address, length);
}

bool DataFileJob::receive() {
    return platform::seekFile(handle, 0) && beginBinaryRead(port) &&
           streamFromTarget(port, address, length) && endBinaryRead(port);
}
