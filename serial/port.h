// Port control and the byte writer, the same operations on every platform.
// serial/win32/ and serial/posix/ each implement them; the choice is made once
// at build time.
#pragma once

#include <cstdint>
#include <string>

#include "serial/ttyinfo.h"

// A new record with its defaults and its platform part (events); nullptr when
// it cannot be made. Free it with FreePortRecord, which closes an open port.
TTYInfo* NewPortRecord();
void FreePortRecord(TTYInfo* tty);

// Opens the port named by the record (portPath, or "COM<bPortNum>"), applies
// the line settings, starts the receive thread. Non-zero when open. Only
// called while bPortOpen is 0. On failure LastPortError tells why.
int ConnectPort(TTYInfo* tty);

// Applies the record's line settings to the open port. Non-zero on success.
int ConfigurePort(TTYInfo* tty);

// Stops the receive thread and closes the port; 1, also when nothing was open.
int DisconnectPort(TTYInfo* tty);

// Writes the bytes one at a time, each waited for (at most 1000 ms).
// 1 when every byte went to the writer, 0 when the connection is not open.
int SendPortBlock(TTYInfo* tty, const uint8_t* bytes, int32_t len);

// Writes the bytes in one write (fast mode). 1 when all went out, 0 otherwise.
int WritePortAll(TTYInfo* tty, const uint8_t* bytes, int32_t len);

// The OS's reason for the last failed ConnectPort, ConfigurePort or write, in
// words ("port busy", "no such port", "permission denied", ...); empty when none.
std::string LastPortError(const TTYInfo* tty);
