#include "cli/report.h"

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

std::string ReportJson(const CliOptions& o, const std::vector<JobSpec>& jobs,
                       const std::vector<PortResult>& results, int exitCode) {
    Json ports = Json::array();
    for (const PortResult& r : results) {
        Json ops = Json::array();
        for (const OperationResult& op : r.operations)
            ops.push_back({{"operation", OperationName(op.op)},
                           {"outcome", OutcomeName(op.outcome)},
                           {"seconds", op.seconds}});
        ports.push_back({{"port", r.port},
                         {"ok", r.exitCode == EXIT_OK},
                         {"exit_code", r.exitCode},
                         {"error", r.error},
                         {"operations", ops},
                         {"capture_chars", r.captureChars},
                         {"sectors", r.sectors},
                         {"sectors_total", r.sectorsTotal},
                         {"bytes", r.bytes},
                         {"retries", r.retries},
                         {"seconds", r.seconds},
                         {"received", r.received}});
    }
    Json report = {{"tool", "ulvar-bl"},
                   {"command", o.subcommand},
                   {"baud", o.baud},
                   {"chip", o.chip},
                   {"blver", o.blver},
                   {"reset", jobs.empty() ? false : jobs.front().reset},
                   {"reset_baud", o.resetBaud},
                   {"fast", o.fast},
                   {"image", o.image},
                   {"image_bytes", jobs.empty() ? 0 : jobs.front().imageBytes},
                   {"exit_code", exitCode},
                   {"ports", ports}};
    return report.dump(2) + "\n";
}
