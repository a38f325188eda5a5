#include "ctl/Commands.h"

#include "blocking/ActiveBlocks.h"
#include "blocking/BlockPlan.h"
#include "blocking/BlockTexts.h"
#include "blocking/CleanFirewall.h"
#include "blocking/Firewall.h"
#include "ctl/CtlOptions.h"
#include "ctl/CtlSession.h"
#include "settings/SettingRanges.h"
#include "settings/Settings.h"

#include <algorithm>
#include <iomanip>
#include <nlohmann/json.hpp>

namespace ostrel {
namespace {

// The reason name of a block made by hand.
constexpr const char* ManualBlock = "Manual-Block";

void printTable(const std::vector<ActiveBlock>& blocks, std::ostream& out) {
    std::size_t addressWidth = 7, reasonWidth = 6;
    for (const ActiveBlock& block : blocks) {
        addressWidth = std::max(addressWidth, block.address.size());
        reasonWidth = std::max(reasonWidth, block.reason.size());
    }
    const auto row = [&](const std::string& address, const std::string& reason, const std::string& since,
                         const std::string& until, const std::string& number, const std::string& here) {
        out << std::left << std::setw(static_cast<int>(addressWidth)) << address << "  "
            << std::setw(static_cast<int>(reasonWidth)) << reason << "  " << std::setw(19) << since << "  "
            << std::setw(19) << until << "  " << std::setw(6) << number << "  " << here << '\n';
    };
    row("ADDRESS", "REASON", "SINCE", "UNTIL", "NUMBER", "HERE");
    for (const ActiveBlock& block : blocks)
        row(block.address, block.reason, block.since, block.until == NoEndRevoke ? "no end" : block.until,
            block.number ? std::to_string(*block.number) : "-", block.heldHere ? "yes" : "no");
}

void printJson(const std::vector<ActiveBlock>& blocks, std::ostream& out) {
    nlohmann::json list = nlohmann::json::array();
    for (const ActiveBlock& block : blocks) {
        list.push_back({{"id", block.id},
                        {"address", block.address},
                        {"reason", block.reason},
                        {"since", block.since},
                        {"until", block.until},
                        {"endless", block.until == NoEndRevoke},
                        {"number", block.number ? nlohmann::json(*block.number) : nlohmann::json(nullptr)},
                        {"heldHere", block.heldHere}});
    }
    out << list.dump(2) << '\n';
}

} // namespace

int listBlocks(CtlSession& session, const CtlOptions& options, std::ostream& out) {
    const std::vector<ActiveBlock> blocks = activeBlocks(session.context());
    if (options.json)
        printJson(blocks, out);
    else
        printTable(blocks, out);
    return ExitDone;
}

int unblockAddress(CtlSession& session, const CtlOptions& options, std::ostream& out) {
    if (releaseBlocksOf(session.context(), options.address) == 0) {
        out << "No active block of " << options.address << ".\n";
        return ExitNotBlocked;
    }
    return ExitDone;
}

int blockAddress(CtlSession& session, const CtlOptions& options, std::ostream& out) {
    OperationContext& context = session.context();
    // Refused before anything is asked of the table, with the line the guard itself writes.
    const ScreenedAddresses screen = screened(context, {options.address});
    if (screen.refusals.front()) {
        for (const std::string& line : screen.refusals.front()->lines)
            out << line << '\n';
        return ExitRefused;
    }
    const std::int32_t minutes = options.minutes
                                     ? settingNumber(BlockInvalidUserIntervalRange, *options.minutes)
                                     : settingNumber(BlockInvalidUserIntervalRange,
                                                     context.settings.get(&SettingsValues::BlockInvalidUserInterval));
    Firewall(context, ManualBlock, options.address, minutes);
    return ExitDone;
}

} // namespace ostrel
