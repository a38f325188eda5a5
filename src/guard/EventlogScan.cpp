#include "guard/EventlogScan.h"

#include "blocking/Firewall.h"
#include "blocking/SqlLists.h"
#include "blocking/SqlTransaction.h"
#include "common/Conversion.h"
#include "common/Errors.h"
#include "common/LogText.h"
#include "common/Operator.h"
#include "config/IniFile.h"
#include "config/SettingRanges.h"
#include "config/Settings.h"
#include "platform/platform.h"

#include <algorithm>

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
        // A record may carry megabytes: the pane gets a bounded line, the sighting the full text.
        logLine(op, " - RecordNumber " + std::to_string(recordNumber) + ": " +
                        cutForLog(element, EventlogScan::LoggedElementCharacters));
        address = element;
    }
}

} // namespace

EventlogScan::EventlogScan(OperationContext& context, std::string Recordnumber)
    : m_context(context), m_lease(ConnectionCache::acquire(context.settings)), m_connection(*m_lease),
      m_tables(Tables::fromSettings(context.settings)), m_recordnumber(std::move(Recordnumber)),
      m_mark(StrToInt64(m_recordnumber)) {
    catchUpWithStoredMark();
    m_firstRun = m_mark <= 0;
}

std::optional<std::int64_t> EventlogScan::storedMark() {
    ResultSet row;
    try {
        row = m_connection.execute("SELECT RecordNumber FROM " + m_tables.lastrecord +
                                   " WHERE Channel = " + m_connection.quote(platform::RdpChannel));
    } catch (const EDatabaseError&) {
        // Without the mark a store whose reply is lost would be made twice: refuse to scan.
        if (m_connection.errorNumber() == Connection::NoSuchTable)
            throw EDatabaseError("The table " + m_tables.lastrecord +
                                 " is missing: create it from sql/schema.sql. It holds the newest record "
                                 "whose sightings are stored, so that none is stored twice.");
        throw;
    }
    if (row.eof())
        return std::nullopt;
    return row.integer("RecordNumber");
}

void EventlogScan::catchUpWithStoredMark() {
    const std::optional<std::int64_t> stored = storedMark();
    if (!stored || *stored <= m_mark)
        return;
    const std::string value = std::to_string(*stored);
    logLine(m_context.op, " - The sightings up to record " + value + " are stored already: LastRecord moves from " +
                              m_recordnumber + " to " + value + ".");
    m_mark = *stored;
    m_recordnumber = value;
    m_context.settings.set(&SettingsValues::LastRecord, value);
    m_context.ini.WriteString("LastRecord", value);
}

void EventlogScan::storeMark(std::int64_t recordNumber) {
    m_connection.execute("INSERT INTO " + m_tables.lastrecord + " (`Channel`, `RecordNumber`) VALUES (" +
                         m_connection.quote(platform::RdpChannel) + ", " + std::to_string(recordNumber) +
                         ") ON DUPLICATE KEY UPDATE `RecordNumber` = VALUES(`RecordNumber`)");
}

void EventlogScan::read(platform::EventSource& source) {
    Operator& op = m_context.op;
    const std::vector<platform::EventRecord> records = source.recordsAbove(m_mark);
    for (const platform::EventRecord& record : records) {
        std::string address;
        // The event log promises no order (WQL has no ORDER BY): the newest is the highest number.
        if (!m_newestRecord || record.RecordNumber > *m_newestRecord)
            m_newestRecord = record.RecordNumber;
        ++m_recordsRead;
        if (record.Data)
            logElements(op, record.RecordNumber, *record.Data, address);
        if (record.InsertionStrings)
            logElements(op, record.RecordNumber, *record.InsertionStrings, address);
        if (!m_firstRun && !address.empty() && !op.debug())
            m_sightings.push_back(sightingOf(address));
    }
    if (const std::size_t skipped = source.skippedLines(); skipped > 0 && op.detailLog())
        logLine(op, " - " + std::to_string(skipped) + (skipped == 1 ? " line" : " lines") +
                        " of the event log could not be read and " + (skipped == 1 ? "was" : "were") + " skipped.");
}

void EventlogScan::concludeFirstRun() {
    if (m_newestRecord)
        storeMark(*m_newestRecord);
    moveLastRecord();
    logLine(m_context.op, " - First run - the last recordnumber in Windowslog: " +
                              m_context.settings.get(&SettingsValues::LastRecord));
}

void EventlogScan::store() {
    if (!m_newestRecord)
        return; // nothing new: nothing to store, LastRecord stays
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
    storeMark(*m_newestRecord);
    transaction.commit();
    moveLastRecord();
}

ResultSet EventlogScan::count() {
    return m_connection.execute("SELECT IP, COUNT(IP) AS \"Counter\" FROM " + m_tables.merkliste +
                                " WHERE DATEDIFF(NOW(), Zeitstempel) < 60 GROUP BY IP ORDER BY COUNT(IP) DESC");
}

void EventlogScan::blockOffenders(ResultSet& counts) {
    Settings& settings = m_context.settings;
    std::vector<std::string> offenders;
    for (; !counts.eof(); counts.next()) {
        const std::int32_t threshold =
            settingNumber(BlockInvalidUserCountRange, settings.get(&SettingsValues::BlockInvalidUserCount));
        if (settings.get(&SettingsValues::BlockInvalidUser) && counts.integer("Counter") > threshold)
            offenders.push_back(counts.text("IP"));
    }
    // A batch of offenders at a time, each blocked in one transaction with the deletion of its
    // sightings: a sighting is never both part of a block and counted again, and a failure keeps
    // the sightings of the addresses it did not get to.
    for (std::size_t first = 0; first < offenders.size(); first += ValuesPerStatement) {
        const std::vector<std::string> batch(
            offenders.begin() + static_cast<std::ptrdiff_t>(first),
            offenders.begin() + static_cast<std::ptrdiff_t>(std::min(offenders.size(), first + ValuesPerStatement)));
        if (m_context.op.debug()) {
            m_connection.execute(sightingsDeletion(batch));
            continue;
        }
        blockAddresses(
            m_context, m_connection, m_tables, "RDP-Block", batch,
            settingNumber(BlockInvalidUserIntervalRange, settings.get(&SettingsValues::BlockInvalidUserInterval)),
            [this](const std::vector<std::string>& handled) { return sightingsDeletion(handled); });
    }
}

std::string EventlogScan::sightingsDeletion(const std::vector<std::string>& addresses) {
    if (addresses.empty())
        return {};
    std::vector<std::string> quoted;
    quoted.reserve(addresses.size());
    for (const std::string& address : addresses)
        quoted.push_back(m_connection.quote(address));
    std::string statements;
    for (const std::string& chunk : joinInChunks(quoted))
        statements += "DELETE FROM " + m_tables.merkliste + " WHERE IP IN (" + chunk + ");\n";
    return statements;
}

void EventlogScan::moveLastRecord() {
    if (!m_newestRecord)
        return;
    const std::string value = std::to_string(*m_newestRecord);
    m_context.settings.set(&SettingsValues::LastRecord, value);
    m_context.ini.WriteString("LastRecord", value);
}

} // namespace ostrel
