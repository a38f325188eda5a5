#include "guard/EventlogScan.h"

#include "blocking/Firewall.h"
#include "common/Conversion.h"
#include "common/Errors.h"
#include "common/Fnv1a.h"
#include "common/LogText.h"
#include "common/Operator.h"
#include "config/IniFile.h"
#include "db/SqlLists.h"
#include "db/SqlTransaction.h"
#include "platform/EventSource.h"
#include "platform/System.h"
#include "platform/portable/Addresses.h"
#include "settings/SettingRanges.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cstdio>

namespace ostrel {
namespace {

// The highest record number among records in whatever order their source gave them.
std::int64_t newestOf(const std::vector<platform::EventRecord>& records) {
    return std::max_element(records.begin(), records.end(),
                            [](const auto& a, const auto& b) { return a.RecordNumber < b.RecordNumber; })
        ->RecordNumber;
}

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

// What tells one record from another with the same number: a channel that was replaced by one
// numbered from 1 again holds, at the mark's number, a record other than the one read there.
std::string fingerprintOf(const platform::EventRecord& record) {
    std::uint64_t hash = Fnv1aStart;
    auto add = [&hash](const std::string& text) {
        hash = fnv1a("\xff", fnv1a(text, hash)); // the 0xFF keeps ["ab"] and ["a", "b"] apart
    };
    add(std::to_string(record.RecordNumber));
    for (const auto* elements : {&record.Data, &record.InsertionStrings}) {
        add(*elements ? std::to_string((*elements)->size()) : "null");
        if (*elements)
            for (const std::string& element : **elements)
                add(element);
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// The server's number for a column the statement names that the table lacks.
constexpr unsigned NoSuchColumn = 1054; // ER_BAD_FIELD_ERROR
constexpr unsigned DuplicateKey = 1062; // ER_DUP_ENTRY

} // namespace

std::string EventlogScan::machineOf(IniFile& ini) {
    std::string machine = ini.ReadString("Machine", "");
    return machine.empty() ? platform::machineName() : machine;
}

EventlogScan::EventlogScan(OperationContext& context, std::string Recordnumber)
    : m_context(context), m_lease(ConnectionCache::acquire(context.settings)), m_connection(*m_lease),
      m_tables(Tables::fromSettings(context.settings)), m_machine(machineOf(context.ini)),
      m_recordnumber(std::move(Recordnumber)) {
    if (m_recordnumber.empty()) {
        // A pass before any configuration load: the mark is the one the file holds.
        const std::string saved = context.ini.ReadString("LastRecord", "");
        if (!saved.empty())
            m_recordnumber = saved;
    }
    try {
        m_fileMark = StrToInt64(m_recordnumber);
    } catch (const EConvertError&) {
        // Stopping here would stop the guard for good over one bad line of Config.ini.
        m_fileMark.reset();
    }
    m_storedMark = storedMark();
    if (!m_fileMark) {
        if (m_storedMark) {
            logLine(m_context.op, " - LastRecord \"" + m_recordnumber + "\" is no whole number: the stored mark " +
                                      std::to_string(*m_storedMark) + " is used.");
            m_fileMark = *m_storedMark;
            setLastRecord(std::to_string(*m_storedMark));
        } else {
            logLine(m_context.op, " - LastRecord \"" + m_recordnumber +
                                      "\" is no whole number and no mark is stored: this pass is a first run.");
            m_fileMark = 0;
            setLastRecord("0");
        }
    }
    m_mark = *m_fileMark;
    if (m_storedMark && *m_storedMark > m_mark)
        catchUpWith(*m_storedMark);
    m_firstRun = m_mark <= 0;
}

std::string EventlogScan::markCondition() const {
    return " WHERE Machine = " + m_connection.quote(m_machine) +
           " AND Channel = " + m_connection.quote(platform::RdpChannel);
}

std::optional<std::int64_t> EventlogScan::storedMark() {
    ResultSet row;
    try {
        row = m_connection.execute("SELECT RecordNumber, Fingerprint FROM " + m_tables.lastrecord + markCondition());
    } catch (const EDatabaseError&) {
        // Without the mark a store whose reply is lost would be made twice: refuse to scan.
        if (m_connection.errorNumber() == Connection::NoSuchTable)
            throw EDatabaseError("The table " + m_tables.lastrecord +
                                 " is missing: create it from sql/schema.sql. It holds the newest record "
                                 "whose sightings are stored, so that none is stored twice.");
        if (m_connection.errorNumber() == NoSuchColumn)
            throw EDatabaseError("The table " + m_tables.lastrecord +
                                 " lacks the columns Machine and Fingerprint: upgrade it as the README says. "
                                 "It keeps one mark per "
                                 "machine, so that guards sharing a prefix never move each other's marks.");
        throw;
    }
    if (row.eof())
        return adoptOldLayoutMark();
    m_storedFingerprint = row.text("Fingerprint");
    return row.integer("RecordNumber");
}

std::optional<std::int64_t> EventlogScan::adoptOldLayoutMark() {
    // A row from before marks were kept per machine (no machine name, as the upgrade leaves it)
    // belongs to the guard that wrote it: the first machine that finds it takes it over, at once
    // and alone, and every other starts with a mark of its own.
    ResultSet taken =
        m_connection.execute("UPDATE " + m_tables.lastrecord + " SET Machine = " + m_connection.quote(m_machine) +
                             " WHERE Machine = \"\" AND Channel = " + m_connection.quote(platform::RdpChannel) +
                             ";\nSELECT ROW_COUNT() AS n;");
    if (taken.eof() || taken.integer("n") == 0)
        return std::nullopt;
    ResultSet row =
        m_connection.execute("SELECT RecordNumber, Fingerprint FROM " + m_tables.lastrecord + markCondition());
    if (row.eof())
        return std::nullopt;
    m_storedFingerprint = row.text("Fingerprint");
    const std::int64_t mark = row.integer("RecordNumber");
    logLine(m_context.op, " - The mark " + std::to_string(mark) + " stored before marks were kept per machine is " +
                              "now this machine's (" + m_machine + ").");
    return mark;
}

void EventlogScan::catchUpWith(std::int64_t stored) {
    const std::string value = std::to_string(stored);
    logLine(m_context.op, " - The sightings up to record " + value + " are stored already: LastRecord moves from " +
                              m_recordnumber + " to " + value + ".");
    m_mark = stored;
    m_recordnumber = value;
    setLastRecord(value);
}

void EventlogScan::setLastRecord(const std::string& value) {
    m_context.settings.set(&SettingsValues::LastRecord, value);
    m_context.ini.WriteString("LastRecord", value);
}

void EventlogScan::storeMark(std::int64_t recordNumber, const std::string& fingerprint) {
    const std::string number = std::to_string(recordNumber);
    if (!m_storedMark) {
        try {
            m_connection.execute("INSERT INTO " + m_tables.lastrecord +
                                 " (`Machine`, `Channel`, `RecordNumber`, `Fingerprint`) VALUES (" +
                                 m_connection.quote(m_machine) + ", " + m_connection.quote(platform::RdpChannel) +
                                 ", " + number + ", " + m_connection.quote(fingerprint) + ")");
        } catch (const EDatabaseError&) {
            if (m_connection.errorNumber() == DuplicateKey) // another guard stored first
                throw EDatabaseError("The mark of " + m_machine +
                                     " was stored by another guard while this pass read the event log: "
                                     "nothing of this pass is stored, the next pass reads on from there.");
            throw;
        }
    } else {
        ResultSet moved = m_connection.execute("UPDATE " + m_tables.lastrecord + " SET RecordNumber = " + number +
                                               ", Fingerprint = " + m_connection.quote(fingerprint) + markCondition() +
                                               " AND RecordNumber = " + std::to_string(*m_storedMark) +
                                               ";\nSELECT ROW_COUNT() AS n;");
        if (moved.eof() || moved.integer("n") != 1)
            throw EDatabaseError("The mark of " + m_machine + " moved from " + std::to_string(*m_storedMark) +
                                 " while this pass read the event log: another guard stores the same records. "
                                 "Nothing of this pass is stored, the next pass reads on from the new mark.");
    }
    m_storedMark = recordNumber;
}

void EventlogScan::chooseMark(platform::EventSource& source, std::vector<platform::EventRecord>& records) {
    if (m_mark <= 0 || source.numbersOnlyGrow()) {
        records = source.recordsAbove(m_mark);
        return;
    }
    // The record at the mark tells whether the channel is still the one read there.
    if (m_storedMark && *m_storedMark == m_mark && !m_storedFingerprint.empty()) {
        const std::optional<platform::EventRecord> atMark = source.recordAt(m_mark);
        records = source.recordsAbove(m_mark);
        if (atMark && fingerprintOf(*atMark) != m_storedFingerprint) {
            startOver(records.empty() ? m_mark : newestOf(records),
                      "its record " + std::to_string(m_mark) + " is not the one read there", records, source);
            return;
        }
        if (!atMark && !records.empty()) {
            startOver(newestOf(records), "its record " + std::to_string(m_mark) + " is gone", records, source);
            return;
        }
    } else {
        records = source.recordsAbove(m_mark);
    }
    if (!records.empty())
        return;
    const std::optional<std::int64_t> newestPresent = source.newestRecordNumber();
    if (!newestPresent || *newestPresent >= m_mark)
        return; // nothing new, or an empty channel: its first record will tell
    const std::int64_t newest = *newestPresent;
    // A stored mark below LastRecord that the channel still reaches: the channel started again
    // and this machine stored records of its new numbering, but LastRecord never reached the file.
    if (m_storedMark && *m_storedMark > 0 && *m_storedMark < m_mark && *m_storedMark <= newest) {
        logLine(m_context.op, " - The sightings up to record " + std::to_string(*m_storedMark) +
                                  " are stored already: LastRecord moves from " + m_recordnumber + " to " +
                                  std::to_string(*m_storedMark) + ".");
        m_mark = *m_storedMark;
        m_recordnumber = std::to_string(m_mark);
        setLastRecord(m_recordnumber);
        records = source.recordsAbove(m_mark);
        return;
    }
    startOver(newest, "below the mark " + std::to_string(m_mark), records, source);
}

void EventlogScan::startOver(std::int64_t newest, const std::string& why, std::vector<platform::EventRecord>& records,
                             platform::EventSource& source) {
    // Cleared, or a new channel: every record it holds came after the mark.
    logLine(m_context.op, " - The event log started again: its newest record is " + std::to_string(newest) + ", " +
                              why + ". It is read from its start.");
    m_mark = 0;
    records = source.recordsAbove(0);
    // No failed logon among them: the mark still follows the channel, so that its next record counts.
    if (records.empty())
        m_newestRecord = newest;
}

void EventlogScan::read(platform::EventSource& source) {
    Operator& op = m_context.op;
    const Settings& settings = m_context.settings;
    source.markKeptIn(settings.get(&SettingsValues::SQLServer) + ":" + settings.get(&SettingsValues::SQLPort) + "/" +
                      settings.get(&SettingsValues::SQLDatabase) + "/" + m_tables.lastrecord + "/" + m_machine);
    std::vector<platform::EventRecord> records;
    chooseMark(source, records);
    for (const platform::EventRecord& record : records) {
        std::string address;
        // The event log promises no order (WQL has no ORDER BY): the newest is the highest number.
        if (!m_newestRecord || record.RecordNumber > *m_newestRecord) {
            m_newestRecord = record.RecordNumber;
            m_newestFingerprint = fingerprintOf(record);
        }
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
        storeMark(*m_newestRecord, m_newestFingerprint);
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
    storeMark(*m_newestRecord, m_newestFingerprint);
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
