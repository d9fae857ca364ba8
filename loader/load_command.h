#pragma once

class Console;
class SerialPort;

// LOAD: an EXE, ECOFF or ELF executable into target memory, then its start
// registers.
bool load(Console& console, const char* path, SerialPort* port);
