// The machine-readable record of a run (--json), for production records.
#pragma once

#include <string>
#include <vector>

#include "cli/job.h"
#include "cli/options.h"

std::string ReportJson(const CliOptions& options, const std::vector<JobSpec>& jobs,
                       const std::vector<PortResult>& results, int exitCode);
