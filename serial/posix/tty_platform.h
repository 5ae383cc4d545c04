// The POSIX part of the connection record: the receive thread, the event that
// wakes it for closing, and the reason for the last failure.
#pragma once

#include <string>
#include <thread>

#include "serial/ttyinfo.h"

struct TTYPlatform {
    std::thread receiver;
    int wakeFd = -1;        // an eventfd; DisconnectPort signals it
    std::string lastError;  // written and read on the controlling thread only
};

// The receive thread's body: collects arriving bytes into the response fields
// until bPortOpen is 0 and the wake event is signalled; clears dwThreadID last.
void ReceiveThread(TTYInfo* tty);
