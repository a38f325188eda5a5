#include "guard/EventlogScan.h"

#include "blocking/Firewall.h"
#include "blocking/SqlLists.h"
#include "blocking/SqlTransaction.h"
#include "common/Conversion.h"
#include "common/Operator.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "platform/platform.h"

namespace ostrel {
namespace {

// Width of the watch list's `IP` column. A longer text would make the store of the whole scan
// fail on every pass and so stop the guard for good; no address comes near it.
constexpr std::size_t WatchListAddressWidth = 255;

// The text cut to the column's width in characters (UTF-8 code points).
std::string fittedToWatchList(const std::string& address) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < address.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(address[i]) & 0xC0) != 0x80;
        if (startsCharacter && ++characters > WatchListAddressWidth)
            return address.substr(0, i);
    }
    return address;
}

// What the watch list stores of an address as read: its one text, so that every spelling of an
// address counts towards one block. A text that is no address is stored as it is (cut to fit)
// and refused when the count reaches the block.
std::string sightingOf(const std::string& address) {
    if (std::optional<std::string> canonical = platform::canonicalAddress(address))
        return std::move(*canonical);
    return fittedToWatchList(address);
}

void logElements(Operator& op, std::int64_t recordNumber, const std::vector<std::string>& elements,
                 std::string& address) {
    for (const std::string& element : elements) {
        logLine(op, " - RecordNumber " + std::to_string(recordNumber) + ": " + element);
        address = element;
    }
}

} // namespace

EventlogScan::EventlogScan(OperationContext& context, std::string Recordnumber)
    : m_context(context), m_connection(context.settings), m_tables(Tables::fromSettings(context.settings)),
      m_recordnumber(std::move(Recordnumber)), m_firstRun(StrToInt(m_recordnumber) <= 0) {}

void EventlogScan::read(platform::EventSource& source) {
    Operator& op = m_context.op;
    const std::vector<platform::EventRecord> records = source.recordsAbove(StrToInt(m_recordnumber));
    for (const platform::EventRecord& record : records) {
        std::string address;
        // The source yields the newest record first.
        if (m_recordsRead == 0)
            m_newestRecord = record.RecordNumber;
        ++m_recordsRead;
        if (record.Data)
            logElements(op, record.RecordNumber, *record.Data, address);
        if (record.InsertionStrings)
            logElements(op, record.RecordNumber, *record.InsertionStrings, address);
        if (!m_firstRun && !address.empty() && !op.debug())
            m_sightings.push_back(sightingOf(address));
    }
}

void EventlogScan::concludeFirstRun() {
    moveLastRecord();
    logLine(m_context.op, " - First run - the last recordnumber in Windowslog: " +
                              m_context.settings.get(&SettingsValues::LastRecord));
}

void EventlogScan::store() {
    if (!m_sightings.empty()) {
        std::vector<std::string> rows;
        rows.reserve(m_sightings.size());
        for (const std::string& address : m_sightings) {
            std::string row = "(";
            row += m_connection.quote(address);
            row += ", NOW() )";
            rows.push_back(std::move(row));
        }
        SqlTransaction transaction(m_connection);
        for (const std::string& chunk : joinInChunks(rows))
            m_connection.execute("INSERT INTO " + m_tables.merkliste + " (`IP`, `Zeitstempel`) VALUES " + chunk + ";");
        transaction.commit();
    }
    moveLastRecord();
}

ResultSet EventlogScan::count() {
    return m_connection.execute("SELECT IP, COUNT(IP) AS \"Counter\" FROM " + m_tables.merkliste +
                                " WHERE DATEDIFF(NOW(), Zeitstempel) < 60 GROUP BY IP ORDER BY COUNT(IP) DESC");
}

void EventlogScan::blockOffenders(ResultSet& counts) {
    Settings& settings = m_context.settings;
    // Deletes are sent in batches; every address is blocked before its sightings go, and a
    // failure still deletes the sightings of the addresses handled before it.
    std::vector<std::string> blocked;
    try {
        for (; !counts.eof(); counts.next()) {
            const std::int32_t threshold = StrToInt(settings.get(&SettingsValues::BlockInvalidUserCount));
            if (!settings.get(&SettingsValues::BlockInvalidUser) || counts.integer("Counter") <= threshold)
                continue;
            const std::string address = counts.text("IP");
            if (!m_context.op.debug())
                Firewall(m_context, "RDP-Block", address,
                         StrToInt(settings.get(&SettingsValues::BlockInvalidUserInterval)));
            blocked.push_back(m_connection.quote(address));
            if (blocked.size() == ValuesPerStatement)
                deleteSightings(blocked);
        }
    } catch (...) {
        try {
            deleteSightings(blocked);
        } catch (...) {
            // The first error is the one to report.
        }
        throw;
    }
    deleteSightings(blocked);
}

void EventlogScan::deleteSightings(std::vector<std::string>& quotedAddresses) {
    if (quotedAddresses.empty())
        return;
    for (const std::string& chunk : joinInChunks(quotedAddresses))
        m_connection.execute("DELETE FROM " + m_tables.merkliste + " WHERE IP IN (" + chunk + ")");
    quotedAddresses.clear();
}

void EventlogScan::moveLastRecord() {
    if (!m_newestRecord)
        return;
    const std::string value = std::to_string(*m_newestRecord);
    m_context.settings.set(&SettingsValues::LastRecord, value);
    m_context.ini.WriteString("LastRecord", value);
}

} // namespace ostrel
