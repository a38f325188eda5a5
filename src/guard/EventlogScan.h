#pragma once

#include "blocking/OperationContext.h"
#include "db/Connection.h"
#include "db/ConnectionCache.h"
#include "db/Tables.h"
#include "platform/EventSource.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

class IniFile;

// The steps of one event-log scan, in the order GetEventlog runs them; each is its own call so
// that a benchmark can time them apart. The scan holds its thread's connection for its whole life.
class EventlogScan {
public:
    // Takes the thread's connection (ConnectionCache), then reads `Recordnumber` (the text of
    // LastRecord, 64 bits) and the mark this machine stored with its last sightings for the
    // channel (adopting a mark stored before marks were kept per machine). A LastRecord that is
    // no whole number is reported and the stored mark used instead; without one the scan is a
    // first run. A missing lastrecord table, or one of the older layout, raises.
    EventlogScan(OperationContext& context, std::string Recordnumber);

    bool firstRun() const { return m_firstRun; }

    // Asks the source for the records above the mark (the higher of LastRecord and the stored
    // mark; when the stored one is ahead, LastRecord moves up to it). A channel whose newest
    // record lies below the mark was cleared or started again: it is read from its start, and
    // the mark follows it down. Writes one line per data element and
    // insertion string, and keeps each record's address as a sighting (not on a first run, not
    // under Debug).
    void read(platform::EventSource& source);
    // First run: moves LastRecord to the newest record read and writes the first-run line.
    void concludeFirstRun();
    // Stores the sightings kept by read() and the newest record number read as one transaction,
    // all or nothing; only then moves LastRecord to that record, so a failed store leaves those
    // records to the next scan, and a store that landed unseen is found by the next scan's check.
    void store();
    // Sightings per address within the count window, most sightings first.
    ResultSet count();
    // Blocks every counted address above the threshold and deletes its sightings.
    void blockOffenders(ResultSet& counts);

    // What the pass benchmark reports of a scan: records read and sightings stored.
    std::size_t recordsRead() const { return m_recordsRead; }
    std::size_t sightings() const { return m_sightings.size(); }

    // Longest element text a "RecordNumber" line shows, in characters.
    static constexpr std::size_t LoggedElementCharacters = 512;

    // The name this machine's marks are stored under: Config.ini's "Machine", else the host name.
    static std::string machineOf(IniFile& ini);

private:
    std::optional<std::int64_t> storedMark();
    std::optional<std::int64_t> adoptOldLayoutMark();
    std::string markCondition() const;
    void chooseMark(platform::EventSource& source, std::vector<platform::EventRecord>& records);
    void catchUpWith(std::int64_t stored);
    // Moves the stored mark to `recordNumber`, only if it still holds what this scan read:
    // another guard that stored the same records meanwhile makes this store fail whole.
    void storeMark(std::int64_t recordNumber, const std::string& fingerprint);
    void startOver(std::int64_t newest, const std::string& why, std::vector<platform::EventRecord>& records,
                   platform::EventSource& source);
    void setLastRecord(const std::string& value);
    void moveLastRecord();
    // The statements that delete the sightings of these addresses (as stored).
    std::string sightingsDeletion(const std::vector<std::string>& addresses);

    OperationContext& m_context;
    std::shared_ptr<Connection> m_lease;
    Connection& m_connection;
    Tables m_tables;
    std::string m_machine;
    std::string m_recordnumber;
    std::optional<std::int64_t> m_fileMark;   // nullopt: LastRecord is no whole number
    std::optional<std::int64_t> m_storedMark; // as read at the start: what storeMark compares with
    std::string m_storedFingerprint;          // of the record at the stored mark, when it was one read
    std::string m_newestFingerprint;
    std::int64_t m_mark = 0;
    bool m_firstRun = false;
    std::size_t m_recordsRead = 0;
    std::optional<std::int64_t> m_newestRecord;
    std::vector<std::string> m_sightings;
};

} // namespace ostrel
