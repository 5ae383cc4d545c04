// Runs the operations of one job on one port: its own record, BootState,
// engine and host, driven by a clock of 5 ms ticks (or, in fast mode, by the
// answers). Safe to run on several threads at once, one port each.
#pragma once

#include <string>

#include "cli/job.h"

// Told what happens on a port; called on that port's thread.
class PortObserver {
public:
    virtual ~PortObserver() = default;
    virtual void OperationStarted(const std::string& port, Operation op) = 0;
    virtual void Progress(const std::string& port, const ProgressSnapshot& snapshot) = 0;
    virtual void DebugLine(const std::string& port, const std::string& line) = 0;
};

PortResult RunPort(const JobSpec& job, PortObserver& observer);

// Asks every running port to stop at its next tick and close its port. Safe to
// call from a signal handler.
void RequestStop();
